// File-system methods: existence tests, listings, entry information, folder creation
// and removal, delete, copy, move and the special folders.
#include "files/fs_win32.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <cstddef>
#include <cstring>
#include <memory>

#include "common/params.h"
#include "common/utf.h"
#include "files/errors.h"
#include "files/file_system.h"
#include "files/filetime.h"
#include "files/handlers.h"
#include "files/long_path.h"
#include "files/replace_win32.h"

namespace quorvane::files {

namespace {

// Classes of SetFileInformationByHandle that the SDK headers of the cross compiler lack.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

struct DispositionInfoEx {
  DWORD Flags;
};

// What a system answers when it does not know the extended disposition or rename
// classes (Windows before 10 1607/1809, Wine, file systems without POSIX semantics).
bool is_unsupported_class_error(DWORD error) {
  return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ||
         error == ERROR_CALL_NOT_IMPLEMENTED;
}

std::uint64_t join64(DWORD high, DWORD low) { return (static_cast<std::uint64_t>(high) << 32) | low; }

bool has_wildcard(std::wstring_view path) { return path.find_first_of(L"*?") != std::wstring_view::npos; }

// Entries that are open without any sharing (the paging file, for one) refuse even an
// attribute-only open; the directory entry still describes them.
Result<EntryInfo, Failure> query_entry_by_find(const std::wstring& system, DWORD open_error) {
  if (has_wildcard(system)) return fail(Failure::os(open_error));
  WIN32_FIND_DATAW data;
  unique_find find(FindFirstFileExW(system.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0));
  // A link found this way is the link itself, not what it points to.
  if (!find || (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return fail(Failure::os(open_error));
  EntryInfo info;
  info.attributes = data.dwFileAttributes;
  info.size = join64(data.nFileSizeHigh, data.nFileSizeLow);
  info.last_write = join64(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime);
  return info;
}

Result<EntryInfo, Failure> query_request_path(std::string_view path) {
  Result<std::wstring, Failure> system = system_path(path);
  if (!system) return system.failure();
  return query_entry(*system);
}

bool is_directory_at(const std::wstring& system) {
  Result<EntryInfo, Failure> info = query_entry(system);
  return info && counts_as_directory(info->attributes, info->reparse_tag);
}

// ---------------------------------------------------------------------------------
// Deleting

// Deletes through an open handle when the plain delete was refused. The extended
// disposition deletes at once and ignores the read-only attribute; where the system
// lacks it, the read-only attribute is lifted for a classic delete-on-close and put
// back if the delete is still refused.
bool delete_by_handle(const std::wstring& system) {
  // The entry itself, never what a link points to. Without backup semantics a folder
  // cannot be opened, and the attribute check below makes sure of it.
  constexpr DWORD kFlags = FILE_FLAG_OPEN_REPARSE_POINT;
  unique_handle file(CreateFileW(system.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kShareAll,
                                 nullptr, OPEN_EXISTING, kFlags, nullptr));
  bool can_write_attributes = static_cast<bool>(file);
  if (!file) {
    file.reset(
        CreateFileW(system.c_str(), DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, kFlags, nullptr));
  }
  if (!file) return false;

  FILE_BASIC_INFO basic{};
  if (!GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic)) return false;
  if (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;

  DispositionInfoEx ex{FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS |
                       FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE};
  if (SetFileInformationByHandle(file.get(), kFileDispositionInfoEx, &ex, sizeof ex)) return true;
  if (!is_unsupported_class_error(GetLastError())) return false;

  bool lifted = false;
  if (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) {
    if (!can_write_attributes) return false;
    FILE_BASIC_INFO writable{};  // zero times: leave them as they are
    writable.FileAttributes = basic.FileAttributes & ~FILE_ATTRIBUTE_READONLY;
    if (writable.FileAttributes == 0) writable.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(file.get(), FileBasicInfo, &writable, sizeof writable)) return false;
    lifted = true;
  }
  FILE_DISPOSITION_INFO dispose{TRUE};
  if (SetFileInformationByHandle(file.get(), FileDispositionInfo, &dispose, sizeof dispose)) return true;
  if (lifted) {
    FILE_BASIC_INFO restore{};
    restore.FileAttributes = basic.FileAttributes;
    SetFileInformationByHandle(file.get(), FileBasicInfo, &restore, sizeof restore);
  }
  return false;
}

// Removes an empty folder, or a link to a folder (never its target).
bool remove_empty_folder_at(const std::wstring& system) {
  if (RemoveDirectoryW(system.c_str())) return true;
  DWORD error = GetLastError();
  if (error != ERROR_ACCESS_DENIED) return false;
  DWORD attributes = GetFileAttributesW(system.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) return false;
  if (!SetFileAttributesW(system.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) return false;
  if (RemoveDirectoryW(system.c_str())) return true;
  SetFileAttributesW(system.c_str(), attributes);
  return false;
}

// The reparse tag of the entry itself (0 when it cannot be read).
DWORD own_reparse_tag(const std::wstring& system) {
  if (has_wildcard(system)) return 0;
  WIN32_FIND_DATAW data;
  unique_find find(FindFirstFileExW(system.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0));
  return find ? data.dwReserved0 : 0;
}

// ---------------------------------------------------------------------------------
// The system behind the removal and move decisions (files/file_system.h)

class SystemFileSystem final : public FileSystem {
 public:
  std::optional<std::vector<FolderEntry>> list(std::u16string_view folder) override {
    Result<std::vector<WideEntry>, Failure> found = list_folder(as_wide(folder));
    if (!found) return std::nullopt;
    std::vector<FolderEntry> out;
    out.reserve(found->size());
    for (const WideEntry& entry : *found)
      out.push_back({std::u16string(as_u16(entry.name)), entry.attributes, entry.reparse_tag});
    return out;
  }

  bool delete_file(std::u16string_view path) override {
    Result<std::wstring, Failure> system = system_path(as_wide(path));
    return system && delete_file_at(*system);
  }

  Removal remove_empty_folder(std::u16string_view path) override {
    Result<std::wstring, Failure> system = system_path(as_wide(path));
    if (!system) return Removal::Refused;
    if (remove_empty_folder_at(*system)) return Removal::Removed;
    return GetLastError() == ERROR_DIR_NOT_EMPTY ? Removal::NotEmpty : Removal::Refused;
  }

  void pause(int milliseconds) override { Sleep(static_cast<DWORD>(milliseconds)); }

  std::optional<std::uint32_t> attributes(std::u16string_view path) override {
    Result<std::wstring, Failure> system = system_path(as_wide(path));
    if (!system) return std::nullopt;
    DWORD attributes = GetFileAttributesW(system->c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
    return attributes;
  }

  std::optional<std::u16string> full_path(std::u16string_view path) override {
    Result<std::wstring, Failure> system = system_path(as_wide(path));
    if (!system) return std::nullopt;
    std::optional<std::wstring> full = fill_wide_buffer(
        [&](wchar_t* buffer, DWORD size) { return GetFullPathNameW(system->c_str(), size, buffer, nullptr); });
    if (!full) return std::nullopt;
    return std::u16string(as_u16(*full));
  }

  std::uint32_t own_reparse_tag(std::u16string_view path) override {
    Result<std::wstring, Failure> system = system_path(as_wide(path));
    return system ? files::own_reparse_tag(*system) : 0;
  }

  Rename rename(std::u16string_view source, std::u16string_view target) override {
    Result<std::wstring, Failure> source_system = system_path(as_wide(source));
    Result<std::wstring, Failure> target_system = system_path(as_wide(target));
    if (!source_system || !target_system) return Rename::Failed;
    if (MoveFileExW(source_system->c_str(), target_system->c_str(), MOVEFILE_REPLACE_EXISTING)) return Rename::Done;
    return GetLastError() == ERROR_ACCESS_DENIED ? Rename::AccessDenied : Rename::Failed;
  }

  bool rename_by_handle(std::u16string_view source, std::u16string_view target) override {
    Result<std::wstring, Failure> source_system = system_path(as_wide(source));
    Result<std::wstring, Failure> target_system = system_path(as_wide(target));
    return source_system && target_system && files::rename_by_handle(*source_system, *target_system);
  }

  // The system's copy writes straight into the target, so a copy that fails half-way (a
  // full disk) would leave neither the old target nor the whole new one; it copies beside
  // the target and renames instead.
  bool copy(std::u16string_view source, std::u16string_view target) override {
    Result<std::wstring, Failure> source_system = system_path(as_wide(source));
    Result<std::wstring, Failure> target_system = system_path(as_wide(target));
    return source_system && target_system && replace_by_copy(*source_system, *target_system);
  }
};

// ---------------------------------------------------------------------------------
// Creating

// Creates `path` and every missing folder above it, walking up only as far as needed.
bool create_tree(const std::wstring& path) {
  struct Pending {
    std::wstring path;
    bool parent_ready = false;
  };
  std::vector<Pending> pending;
  pending.push_back({path});
  while (!pending.empty()) {
    Pending& top = pending.back();
    Result<std::wstring, Failure> system = system_path(std::wstring_view(top.path));
    if (!system) return false;
    bool done = CreateDirectoryW(system->c_str(), nullptr) != 0;
    if (!done) {
      DWORD error = GetLastError();
      if (error == ERROR_PATH_NOT_FOUND && !top.parent_ready) {
        std::u16string parent = parent_folder(as_u16(top.path));
        if (parent.empty()) return false;
        pending.push_back({std::wstring(as_wide(parent))});
        continue;
      }
      // Already there (or a root, which answers access denied): fine if it is a folder.
      if (!is_directory_at(*system)) return false;
    }
    pending.pop_back();
    if (!pending.empty()) pending.back().parent_ready = true;
  }
  return true;
}

// ---------------------------------------------------------------------------------
// Listing

HandlerResult list_handler(ListingKind kind, const json& params) {
  Result<std::string_view> path = required_string(params, "path");
  if (!path) return path.failure();
  std::vector<std::string> extensions;
  if (kind == ListingKind::Entries) extensions = extension_filter(params);
  // An empty path would list the current directory; it names no folder.
  if (path->empty()) return listing_envelope({}, 1);
  Result<std::vector<WideEntry>, Failure> found = list_folder(to_wide(*path));
  if (!found) return listing_envelope({}, 1);
  std::vector<RawEntry> entries;
  entries.reserve(found->size());
  for (const WideEntry& entry : *found) entries.push_back({from_wide(entry.name), entry.attributes, entry.reparse_tag});
  return listing_envelope(select_entries(entries, kind, extensions), 0);
}

// The two paths of copy_file and move_file.
struct SourceAndTarget {
  std::u16string source;
  std::u16string target;
};

Result<SourceAndTarget> source_and_target(const json& params) {
  Result<std::string_view> source = required_string(params, "sourcePath");
  if (!source) return source.failure();
  Result<std::string_view> target = required_string(params, "targetPath");
  if (!target) return target.failure();
  return SourceAndTarget{utf8_to_utf16(*source), utf8_to_utf16(*target)};
}

struct CoTaskMemFreeDeleter {
  void operator()(wchar_t* p) const { CoTaskMemFree(p); }
};

}  // namespace

// ---------------------------------------------------------------------------------
// Shared operations

Result<EntryInfo, Failure> query_entry(const std::wstring& system) {
  unique_handle file(
      CreateFileW(system.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) {
    DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION) return query_entry_by_find(system, error);
    return fail(Failure::os(error));
  }
  BY_HANDLE_FILE_INFORMATION data;
  if (!GetFileInformationByHandle(file.get(), &data)) return fail(Failure::last());
  EntryInfo info;
  info.attributes = data.dwFileAttributes;
  info.size = join64(data.nFileSizeHigh, data.nFileSizeLow);
  info.last_write = join64(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime);
  if (info.attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    FILE_ATTRIBUTE_TAG_INFO tag;
    if (!GetFileInformationByHandleEx(file.get(), FileAttributeTagInfo, &tag, sizeof tag)) return fail(Failure::last());
    info.reparse_tag = tag.ReparseTag;
  }
  return info;
}

Result<std::vector<WideEntry>, Failure> list_folder(std::wstring_view folder) {
  std::u16string pattern = listing_pattern(as_u16(folder));
  Result<std::wstring, Failure> system = system_path(as_wide(pattern));
  if (!system) return system.failure();
  WIN32_FIND_DATAW data;
  unique_find find(FindFirstFileExW(system->c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                                    FIND_FIRST_EX_LARGE_FETCH));
  std::vector<WideEntry> out;
  if (!find) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return out;
    return fail(Failure::os(error));
  }
  auto keep = [&](const WIN32_FIND_DATAW& found) {
    std::wstring_view name(found.cFileName);
    if (name == L"." || name == L"..") return;
    out.push_back({std::wstring(name), found.dwFileAttributes, found.dwReserved0});
  };
  keep(data);
  // The portable driver bounds how long a failing "next" is retried; it only needs to
  // know what each call did.
  read_remaining_entries([&] {
    if (FindNextFileW(find.get(), &data)) {
      keep(data);
      return NextEntry::Delivered;
    }
    return GetLastError() == ERROR_NO_MORE_FILES ? NextEntry::End : NextEntry::Failed;
  });
  return out;
}

bool rename_by_handle(const std::wstring& source, std::string_view target) {
  Result<std::wstring, Failure> target_system = system_path(target);
  return target_system && rename_by_handle(source, *target_system);
}

bool rename_by_handle(const std::wstring& source, const std::wstring& target_system) {
  // The name goes to the system's path parser, which wants it absolute.
  std::optional<std::wstring> full = fill_wide_buffer(
      [&](wchar_t* buffer, DWORD size) { return GetFullPathNameW(target_system.c_str(), size, buffer, nullptr); });
  if (!full) return false;
  std::u16string name = verbatim_form(as_u16(*full));

  unique_handle file(CreateFileW(source.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) return false;

  std::size_t name_bytes = name.size() * sizeof(char16_t);
  // Room for the terminator too: the path parser reads up to it.
  std::vector<unsigned char> buffer(offsetof(FILE_RENAME_INFO, FileName) + name_bytes + sizeof(wchar_t), 0);
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(name_bytes);
  std::memcpy(info->FileName, name.data(), name_bytes);
  if (SetFileInformationByHandle(file.get(), kFileRenameInfoEx, info, static_cast<DWORD>(buffer.size()))) return true;
  if (!is_unsupported_class_error(GetLastError())) return false;
  info->Flags = 0;
  info->ReplaceIfExists = TRUE;
  return SetFileInformationByHandle(file.get(), FileRenameInfo, info, static_cast<DWORD>(buffer.size())) != 0;
}

bool delete_file_at(const std::wstring& system) {
  if (DeleteFileW(system.c_str())) return true;
  if (GetLastError() != ERROR_ACCESS_DENIED) return false;
  return delete_by_handle(system);
}

// ---------------------------------------------------------------------------------
// Handlers

HandlerResult file_exists(std::string_view, const json& params) {
  Result<std::string_view> path = required_string(params, "path");
  if (!path) return path.failure();
  Result<EntryInfo, Failure> info = query_request_path(*path);
  return json(info && !counts_as_directory(info->attributes, info->reparse_tag));
}

HandlerResult directory_exists(std::string_view, const json& params) {
  Result<std::string_view> path = required_string(params, "path");
  if (!path) return path.failure();
  Result<EntryInfo, Failure> info = query_request_path(*path);
  return json(info && counts_as_directory(info->attributes, info->reparse_tag));
}

HandlerResult create_directory(std::string_view, const json& params) {
  Result<std::string_view> path = required_string(params, "path");
  if (!path) return path.failure();
  if (path->empty() || path->find('\0') != std::string_view::npos) return json(false);
  return json(create_tree(to_wide(*path)));
}

HandlerResult remove_directory(std::string_view, const json& params) {
  Result<std::string_view> path = required_string(params, "path");
  if (!path) return path.failure();
  SystemFileSystem fs;
  return json(remove_folder(fs, utf8_to_utf16(*path)));
}

HandlerResult delete_file(std::string_view, const json& params) {
  Result<std::string_view> path = required_string(params, "path");
  if (!path) return path.failure();
  Result<std::wstring, Failure> system = system_path(*path);
  return json(system && delete_file_at(*system));
}

HandlerResult copy_file(std::string_view, const json& params) {
  Result<SourceAndTarget> paths = source_and_target(params);
  if (!paths) return paths.failure();
  SystemFileSystem fs;
  return json(fs.copy(paths->source, paths->target));
}

HandlerResult move_file(std::string_view, const json& params) {
  Result<SourceAndTarget> paths = source_and_target(params);
  if (!paths) return paths.failure();
  SystemFileSystem fs;
  return json(move_entry(fs, paths->source, paths->target));
}

HandlerResult get_files(std::string_view, const json& params) { return list_handler(ListingKind::Files, params); }

HandlerResult get_directories(std::string_view, const json& params) {
  return list_handler(ListingKind::Directories, params);
}

HandlerResult get_file_system_entries(std::string_view, const json& params) {
  return list_handler(ListingKind::Entries, params);
}

HandlerResult get_file_system_entry_info(std::string_view, const json& params) {
  Result<std::string_view> path = required_string(params, "path");
  if (!path) return path.failure();
  Result<EntryInfo, Failure> info = query_request_path(*path);
  if (!info) return fail(info.error().message());
  json out = json::object();
  out["isDirectory"] = counts_as_directory(info->attributes, info->reparse_tag);
  out["lastWriteTime"] = filetime_to_unix_ms(info->last_write);
  out["length"] = info->size;
  return out;
}

HandlerResult get_special_folder_path(std::string_view, const json& params) {
  std::optional<std::uint64_t> folder = count_param(params, "folder");
  if (!folder) return fail(std::string(kMissingFolderParam));
  const KNOWNFOLDERID* id = nullptr;
  switch (*folder) {
    case 0:
      id = &FOLDERID_Profile;
      break;
    case 1:
      id = &FOLDERID_Desktop;
      break;
    default:
      return fail(unknown_special_folder(*folder));
  }
  wchar_t* raw = nullptr;
  HRESULT hr = SHGetKnownFolderPath(*id, 0, nullptr, &raw);
  std::unique_ptr<wchar_t, CoTaskMemFreeDeleter> owned(raw);
  if (FAILED(hr) || !raw) return fail(std::string(kSpecialFolderNotAvailable));
  return json(from_wide(raw));
}

}  // namespace quorvane::files
