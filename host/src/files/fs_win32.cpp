// File-system methods: existence tests, listings, entry information, folder creation
// and removal, delete, copy, move and the special folders.
#include "files/fs_win32.h"

#include "common/params.h"
#include "common/utf.h"
#include "files/errors.h"
#include "files/filetime.h"
#include "files/handlers.h"
#include "files/long_path.h"
#include "files/replace_win32.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <cstddef>
#include <cstring>
#include <memory>

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

HandlerResult missing(std::string_view name) { return fail(missing_string_param(name)); }

std::uint64_t join64(DWORD high, DWORD low) { return (static_cast<std::uint64_t>(high) << 32) | low; }

bool has_wildcard(std::wstring_view path) { return path.find_first_of(L"*?") != std::wstring_view::npos; }

// Entries that are open without any sharing (the paging file, for one) refuse even an
// attribute-only open; the directory entry still describes them.
Outcome<EntryInfo> query_entry_by_find(const std::wstring& system, DWORD open_error) {
  if (has_wildcard(system)) return Failure::os(open_error);
  WIN32_FIND_DATAW data;
  unique_find find(FindFirstFileExW(system.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0));
  // A link found this way is the link itself, not what it points to.
  if (!find || (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return Failure::os(open_error);
  EntryInfo info;
  info.attributes = data.dwFileAttributes;
  info.size = join64(data.nFileSizeHigh, data.nFileSizeLow);
  info.last_write = join64(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime);
  return info;
}

Outcome<EntryInfo> query_request_path(std::string_view path) {
  Outcome<std::wstring> system = system_path(path);
  if (!system) return system.failure();
  return query_entry(*system);
}

bool is_directory_at(const std::wstring& system) {
  Outcome<EntryInfo> info = query_entry(system);
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
bool remove_empty_folder(const std::wstring& system) {
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

bool delete_wide_path(const std::wstring& path) {
  Outcome<std::wstring> system = system_path(std::wstring_view(path));
  return system && delete_file_at(*system);
}

bool remove_empty_folder_wide(const std::wstring& path) {
  Outcome<std::wstring> system = system_path(std::wstring_view(path));
  return system && remove_empty_folder(*system);
}

std::wstring join_wide(std::wstring_view folder, std::wstring_view name) {
  std::u16string joined = join_path(as_u16(folder), as_u16(name));
  return std::wstring(as_wide(joined));
}

// The reparse tag of the entry itself (0 when it cannot be read).
DWORD own_reparse_tag(const std::wstring& system) {
  if (has_wildcard(system)) return 0;
  WIN32_FIND_DATAW data;
  unique_find find(FindFirstFileExW(system.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0));
  return find ? data.dwReserved0 : 0;
}

// A folder that still lists entries after they were deleted is usually waiting for
// another process (an indexer, a virus scanner) to close them; give it a moment.
constexpr int kRemoveAttempts = 5;

// Removes `root` and everything below it, depth first, without ever entering a link.
// Every entry either goes or ends the walk with false; a folder is listed again after
// its sub-folders went, which also makes sure nothing new is left inside. Folders that
// keep reappearing (or keep refusing to go) end the walk after a few rounds, so it
// cannot turn in circles.
bool remove_tree(const std::wstring& root) {
  struct Frame {
    std::wstring path;
    int attempts = 0;
    int expansions = 0;
  };
  std::vector<Frame> stack;
  stack.push_back({root});
  while (!stack.empty()) {
    std::wstring folder = stack.back().path;
    Outcome<std::vector<WideEntry>> entries = list_folder(folder);
    if (!entries) return false;
    std::vector<std::wstring> subfolders;
    for (const WideEntry& entry : *entries) {
      std::wstring child = join_wide(folder, entry.name);
      if (counts_as_directory(entry.attributes, entry.reparse_tag)) {
        subfolders.push_back(std::move(child));
      } else if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (!remove_empty_folder_wide(child)) return false;
      } else if (!delete_wide_path(child)) {
        return false;
      }
    }
    if (!subfolders.empty()) {
      if (++stack.back().expansions > kRemoveAttempts) return false;
      for (std::wstring& sub : subfolders) stack.push_back({std::move(sub)});
      continue;
    }
    if (remove_empty_folder_wide(folder)) {
      stack.pop_back();
      continue;
    }
    if (GetLastError() != ERROR_DIR_NOT_EMPTY || ++stack.back().attempts >= kRemoveAttempts) return false;
    Sleep(static_cast<DWORD>(10 * stack.back().attempts));
  }
  return true;
}

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
    Outcome<std::wstring> system = system_path(std::wstring_view(top.path));
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
// Moving

// The system's copy writes straight into the target, so a copy that fails half-way (a
// full disk) would leave neither the old target nor the whole new one; it copies beside
// the target and renames instead.
bool copy_system_paths(const std::wstring& source, const std::wstring& target) {
  return replace_by_copy(source, target);
}

// ---------------------------------------------------------------------------------
// Listing

HandlerResult list_handler(ListingKind kind, const json& params) {
  std::optional<std::string_view> path = string_param(params, "path");
  if (!path) return missing("path");
  std::vector<std::string> extensions;
  if (kind == ListingKind::Entries) extensions = extension_filter(params);
  // An empty path would list the current directory; it names no folder.
  if (path->empty()) return listing_envelope({}, 1);
  Outcome<std::vector<WideEntry>> found = list_folder(to_wide(*path));
  if (!found) return listing_envelope({}, 1);
  std::vector<RawEntry> entries;
  entries.reserve(found->size());
  for (const WideEntry& entry : *found) entries.push_back({from_wide(entry.name), entry.attributes, entry.reparse_tag});
  return listing_envelope(select_entries(entries, kind, extensions), 0);
}

struct CoTaskMemFreeDeleter {
  void operator()(wchar_t* p) const { CoTaskMemFree(p); }
};

}  // namespace

// ---------------------------------------------------------------------------------
// Shared operations

Outcome<EntryInfo> query_entry(const std::wstring& system) {
  unique_handle file(
      CreateFileW(system.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) {
    DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION) return query_entry_by_find(system, error);
    return Failure::os(error);
  }
  BY_HANDLE_FILE_INFORMATION data;
  if (!GetFileInformationByHandle(file.get(), &data)) return Failure::last();
  EntryInfo info;
  info.attributes = data.dwFileAttributes;
  info.size = join64(data.nFileSizeHigh, data.nFileSizeLow);
  info.last_write = join64(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime);
  if (info.attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    FILE_ATTRIBUTE_TAG_INFO tag;
    if (!GetFileInformationByHandleEx(file.get(), FileAttributeTagInfo, &tag, sizeof tag)) return Failure::last();
    info.reparse_tag = tag.ReparseTag;
  }
  return info;
}

Outcome<std::vector<WideEntry>> list_folder(std::wstring_view folder) {
  std::u16string pattern = listing_pattern(as_u16(folder));
  Outcome<std::wstring> system = system_path(as_wide(pattern));
  if (!system) return system.failure();
  WIN32_FIND_DATAW data;
  unique_find find(FindFirstFileExW(system->c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                                    FIND_FIRST_EX_LARGE_FETCH));
  std::vector<WideEntry> out;
  if (!find) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return out;
    return Failure::os(error);
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
  Outcome<std::wstring> target_system = system_path(target);
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
  std::optional<std::string_view> path = string_param(params, "path");
  if (!path) return missing("path");
  Outcome<EntryInfo> info = query_request_path(*path);
  return json(info && !counts_as_directory(info->attributes, info->reparse_tag));
}

HandlerResult directory_exists(std::string_view, const json& params) {
  std::optional<std::string_view> path = string_param(params, "path");
  if (!path) return missing("path");
  Outcome<EntryInfo> info = query_request_path(*path);
  return json(info && counts_as_directory(info->attributes, info->reparse_tag));
}

HandlerResult create_directory(std::string_view, const json& params) {
  std::optional<std::string_view> path = string_param(params, "path");
  if (!path) return missing("path");
  if (path->empty() || path->find('\0') != std::string_view::npos) return json(false);
  return json(create_tree(to_wide(*path)));
}

HandlerResult remove_directory(std::string_view, const json& params) {
  std::optional<std::string_view> path = string_param(params, "path");
  if (!path) return missing("path");
  if (path->empty()) return json(false);
  Outcome<std::wstring> system = system_path(*path);
  if (!system) return json(false);
  DWORD attributes = GetFileAttributesW(system->c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return json(false);
  // A volume root can never be removed, so emptying it first would be all loss and no
  // result: refuse before touching anything.
  std::optional<std::wstring> full = fill_wide_buffer(
      [&](wchar_t* buffer, DWORD size) { return GetFullPathNameW(system->c_str(), size, buffer, nullptr); });
  if (!full || is_volume_root(as_u16(*full))) return json(false);
  // A link to a folder is removed as the link; what it points to is not ours to empty.
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && !counts_as_directory(attributes, own_reparse_tag(*system))) {
    return json(remove_empty_folder(*system));
  }
  return json(remove_tree(to_wide(*path)));
}

HandlerResult delete_file(std::string_view, const json& params) {
  std::optional<std::string_view> path = string_param(params, "path");
  if (!path) return missing("path");
  Outcome<std::wstring> system = system_path(*path);
  return json(system && delete_file_at(*system));
}

HandlerResult copy_file(std::string_view, const json& params) {
  std::optional<std::string_view> source = string_param(params, "sourcePath");
  if (!source) return missing("sourcePath");
  std::optional<std::string_view> target = string_param(params, "targetPath");
  if (!target) return missing("targetPath");
  Outcome<std::wstring> source_system = system_path(*source);
  Outcome<std::wstring> target_system = system_path(*target);
  return json(source_system && target_system && copy_system_paths(*source_system, *target_system));
}

HandlerResult move_file(std::string_view, const json& params) {
  std::optional<std::string_view> source = string_param(params, "sourcePath");
  if (!source) return missing("sourcePath");
  std::optional<std::string_view> target = string_param(params, "targetPath");
  if (!target) return missing("targetPath");
  Outcome<std::wstring> source_system = system_path(*source);
  Outcome<std::wstring> target_system = system_path(*target);
  if (!source_system || !target_system) return json(false);
  if (MoveFileExW(source_system->c_str(), target_system->c_str(), MOVEFILE_REPLACE_EXISTING)) return json(true);
  if (GetLastError() == ERROR_ACCESS_DENIED && rename_by_handle(*source_system, *target)) return json(true);
  // Another volume, or a rename the system refuses: copy, then delete the source. If the
  // delete fails the copy stays, and the answer is false because the source is still
  // there.
  if (!copy_system_paths(*source_system, *target_system)) return json(false);
  return json(delete_file_at(*source_system));
}

HandlerResult get_files(std::string_view, const json& params) { return list_handler(ListingKind::Files, params); }

HandlerResult get_directories(std::string_view, const json& params) {
  return list_handler(ListingKind::Directories, params);
}

HandlerResult get_file_system_entries(std::string_view, const json& params) {
  return list_handler(ListingKind::Entries, params);
}

HandlerResult get_file_system_entry_info(std::string_view, const json& params) {
  std::optional<std::string_view> path = string_param(params, "path");
  if (!path) return missing("path");
  Outcome<EntryInfo> info = query_request_path(*path);
  if (!info) return fail(info.failure().message());
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
