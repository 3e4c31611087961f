#include "files/replace_win32.h"

#include "files/fs_win32.h"

#include <atomic>

namespace quorvane::files {

namespace {

// Reads and writes are split so that no single call asks for more than a DWORD holds.
constexpr DWORD kIoChunk = 16u << 20;

// The folder part of `path` including its last separator (or a bare drive such as
// "C:"), so that a name appended to it lands in the same folder.
std::wstring folder_prefix(const std::wstring& path) {
  std::size_t cut = path.find_last_of(L"\\/");
  if (cut != std::wstring::npos) return path.substr(0, cut + 1);
  if (path.size() >= 2 && path[1] == L':') return path.substr(0, 2);
  return std::wstring();
}

// The file a link points to, in the system's verbatim form.
Outcome<std::wstring> final_path(const std::wstring& system) {
  unique_handle file(
      CreateFileW(system.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) return Failure::last();
  std::optional<std::wstring> path = fill_wide_buffer([&](wchar_t* buffer, DWORD size) {
    return GetFinalPathNameByHandleW(file.get(), buffer, size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  });
  if (!path || path->empty()) return Failure::last();
  return *path;
}

}  // namespace

bool write_all(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), kIoChunk));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), want, &written, nullptr)) return false;
    if (written == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    bytes.remove_prefix(written);
  }
  return true;
}

Outcome<WriteTarget> resolve_write_target(const std::wstring& system, ReplaceStyle style) {
  WriteTarget target{system, false};
  DWORD attributes = GetFileAttributesW(system.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) return Failure::os(error);
    return target;
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    Outcome<std::wstring> resolved = final_path(system);
    if (!resolved) return resolved.failure();
    target.path = std::move(*resolved);
    attributes = GetFileAttributesW(target.path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Failure::last();
  }
  target.exists = true;
  if (style == ReplaceStyle::Fresh && (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY)))
    return Failure::os(ERROR_ACCESS_DENIED);
  // The open that an in-place write would make, without cutting anything: whatever it
  // refuses (a folder, a read-only file, no access) is refused before any work is done.
  unique_handle probe(
      CreateFileW(target.path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!probe) return Failure::last();
  target.device = GetFileType(probe.get()) != FILE_TYPE_DISK;
  return target;
}

Outcome<SiblingFile> SiblingFile::create(const std::wstring& target) {
  static std::atomic<unsigned> serial{0};
  const std::wstring folder = folder_prefix(target);
  for (int attempt = 0; attempt < 32; ++attempt) {
    // Short and fixed in shape, so that it fits wherever the target's own name fits.
    std::wstring path = folder + L".quorvane-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(GetTickCount64() % 100000) + L"-" + std::to_wstring(serial++) + L".tmp";
    unique_handle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) return SiblingFile(std::move(file), std::move(path));
    DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return Failure::os(error);
  }
  return Failure::os(ERROR_FILE_EXISTS);
}

SiblingFile::SiblingFile(SiblingFile&& other) noexcept
    : file_(std::move(other.file_)), path_(std::move(other.path_)), committed_(std::exchange(other.committed_, true)) {}

SiblingFile::~SiblingFile() {
  if (committed_) return;
  file_.reset();
  DWORD error = GetLastError();  // callers report the failure that brought them here
  delete_file_at(path_);
  SetLastError(error);
}

bool SiblingFile::commit(const WriteTarget& target, ReplaceStyle style) {
  file_.reset();
  bool replaced = false;
  if (style == ReplaceStyle::KeepTarget && target.exists) {
    replaced = ReplaceFileW(target.path.c_str(), path_.c_str(), nullptr,
                            REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr, nullptr) != 0;
    // The target went away meanwhile (1176 says the system removed it and kept ours):
    // the plain rename below puts the new file in its place.
    if (!replaced && GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_UNABLE_TO_MOVE_REPLACEMENT)
      return false;
  }
  if (!replaced) replaced = MoveFileExW(path_.c_str(), target.path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
  if (replaced) committed_ = true;
  return replaced;
}

namespace {

// The rename is refused while another program holds the target open without sharing
// its deletion, though it shares writing; an in-place write was always allowed then.
bool refused_while_in_use(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_UNABLE_TO_REMOVE_REPLACED;
}

// Rewrites an existing file in place. The room for the new content is claimed before
// the first byte is overwritten, so a full disk fails the write while the old content
// is still whole; the length is set last.
bool rewrite_in_place(const WriteTarget& target, std::string_view bytes) {
  unique_handle file(CreateFileW(target.path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  if (target.device) return SetEndOfFile(file.get()) && write_all(file.get(), bytes);
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) return false;
  LARGE_INTEGER length{};
  length.QuadPart = static_cast<LONGLONG>(bytes.size());
  if (length.QuadPart > size.QuadPart) {
    FILE_ALLOCATION_INFO room{};
    room.AllocationSize = length;
    if (!SetFileInformationByHandle(file.get(), FileAllocationInfo, &room, sizeof room)) return false;
  }
  if (!write_all(file.get(), bytes)) return false;
  return SetFilePointerEx(file.get(), length, nullptr, FILE_BEGIN) && SetEndOfFile(file.get());
}

}  // namespace

bool replace_file_content(const std::wstring& system, std::string_view bytes) {
  Outcome<WriteTarget> target = resolve_write_target(system, ReplaceStyle::KeepTarget);
  if (!target) return false;
  if (target->device) return rewrite_in_place(*target, bytes);
  {
    Outcome<SiblingFile> sibling = SiblingFile::create(target->path);
    if (!sibling) return false;
    if (!write_all(sibling->handle(), bytes)) return false;
    if (sibling->commit(*target, ReplaceStyle::KeepTarget)) return true;
    if (!target->exists || !refused_while_in_use(GetLastError())) return false;
  }  // the new file goes first: its room is what the in-place write needs
  return rewrite_in_place(*target, bytes);
}

bool replace_by_copy(const std::wstring& source, const std::wstring& target_system) {
  Outcome<WriteTarget> target = resolve_write_target(target_system, ReplaceStyle::Fresh);
  if (!target) return false;
  if (target->device) return CopyFileExW(source.c_str(), target->path.c_str(), nullptr, nullptr, nullptr, 0) != 0;
  Outcome<SiblingFile> sibling = SiblingFile::create(target->path);
  if (!sibling) return false;
  sibling->close();
  // The sibling is ours and empty; the copy replaces it with the source's data and
  // attributes.
  if (!CopyFileExW(source.c_str(), sibling->path().c_str(), nullptr, nullptr, nullptr, 0)) return false;
  return sibling->commit(*target, ReplaceStyle::Fresh);
}

}  // namespace quorvane::files
