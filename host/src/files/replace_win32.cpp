#include "files/replace_win32.h"

#include <atomic>

#include "files/fs_win32.h"

namespace quorvane::files {

namespace {

// How long a rename over a target that is in use is retried before the write falls
// back to rewriting the file in place.
constexpr ULONGLONG kInUseRetryMs = 100;

// What the system answers when a rename would replace a file that is open.
bool refused_while_in_use(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED; }

// The folder part of `path` including its last separator (or a bare drive such as
// "C:"), so that a name appended to it lands in the same folder.
std::wstring folder_prefix(const std::wstring& path) {
  std::size_t cut = path.find_last_of(L"\\/");
  if (cut != std::wstring::npos) return path.substr(0, cut + 1);
  if (path.size() >= 2 && path[1] == L':') return path.substr(0, 2);
  return std::wstring();
}

// The file a link points to, in the system's verbatim form.
Result<std::wstring, Failure> final_path(const std::wstring& system) {
  unique_handle file(
      CreateFileW(system.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) return fail(Failure::last());
  std::optional<std::wstring> path = fill_wide_buffer([&](wchar_t* buffer, DWORD size) {
    return GetFinalPathNameByHandleW(file.get(), buffer, size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  });
  if (!path || path->empty()) return fail(Failure::last());
  return *path;
}

}  // namespace

Result<WriteTarget, Failure> resolve_write_target(const std::wstring& system, ReplaceStyle style) {
  WriteTarget target{system};
  DWORD attributes = GetFileAttributesW(system.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) return fail(Failure::os(error));
    return target;
  }
  // Links are not always marked as such (Wine shows a Unix link to a file as a plain
  // file), so every existing target is asked where it really is. Only a plain file may
  // go by its own name when the system cannot say.
  Result<std::wstring, Failure> resolved = final_path(system);
  if (resolved) {
    target.path = std::move(*resolved);
    attributes = GetFileAttributesW(target.path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return fail(Failure::last());
  } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    return resolved.failure();
  }
  target.exists = true;
  DWORD refused = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY;
  if (style == ReplaceStyle::Fresh) refused |= FILE_ATTRIBUTE_HIDDEN;
  if (attributes & refused) return fail(Failure::os(ERROR_ACCESS_DENIED));
  // The open that an in-place write would make, without cutting anything: whatever it
  // refuses (no access, a file held without shared writing) is refused before any work
  // is done.
  unique_handle probe(CreateFileW(target.path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!probe) return fail(Failure::last());
  target.device = GetFileType(probe.get()) != FILE_TYPE_DISK;
  if (!target.device && !GetFileInformationByHandleEx(probe.get(), FileBasicInfo, &target.basic, sizeof target.basic))
    return fail(Failure::last());
  return target;
}

Result<SiblingFile, Failure> SiblingFile::create(const std::wstring& target) {
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
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return fail(Failure::os(error));
  }
  return fail(Failure::os(ERROR_FILE_EXISTS));
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
  if (style == ReplaceStyle::KeepTarget && target.exists) {
    // What the user sees of the old file, carried over before the new one shows.
    FILE_BASIC_INFO basic{};  // zero times: left as they are
    basic.CreationTime = target.basic.CreationTime;
    basic.FileAttributes = target.basic.FileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                                          FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (file_ && !SetFileInformationByHandle(file_.get(), FileBasicInfo, &basic, sizeof basic)) return false;
  }
  // The new content reaches the disk before the name moves over to it: otherwise a power
  // cut soon after the rename can leave the name on a file whose data was never written,
  // and the old content gone with it.
  if (file_ && !FlushFileBuffers(file_.get())) return false;
  file_.reset();
  // A rename either puts the whole new file in place or changes nothing. While another
  // program holds the target open (a reader, usually for moments) the system refuses
  // it; where it has POSIX rename semantics, a holder that shares deletion does not
  // stand in the way of the rename by handle, and keeps reading the old content.
  const ULONGLONG give_up = GetTickCount64() + kInUseRetryMs;
  for (bool first = true;; first = false) {
    if (MoveFileExW(path_.c_str(), target.path.c_str(), MOVEFILE_REPLACE_EXISTING)) break;
    DWORD error = GetLastError();
    if (!target.exists || !refused_while_in_use(error)) return false;
    if (first && rename_by_handle(path_, target.path)) break;
    if (GetTickCount64() >= give_up) {
      SetLastError(error);
      return false;
    }
    Sleep(1);
  }
  committed_ = true;
  return true;
}

namespace {

// Rewrites an existing file in place. A longer content first extends the file to its
// new length, which claims the room where the file system allocates on extension (as
// NTFS does for files that are not sparse): a full disk then fails the write while the
// old content is still whole. The length is cut to the new content last.
bool rewrite_in_place(const WriteTarget& target, std::string_view bytes) {
  unique_handle file(CreateFileW(target.path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  if (target.device) return SetEndOfFile(file.get()) && write_all(file.get(), bytes);
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) return false;
  LARGE_INTEGER length{};
  length.QuadPart = static_cast<LONGLONG>(bytes.size());
  LARGE_INTEGER start{};
  if (length.QuadPart > size.QuadPart) {
    if (!SetFilePointerEx(file.get(), length, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get())) {
      DWORD error = GetLastError();
      FILE_END_OF_FILE_INFO end{};
      end.EndOfFile = size;
      SetFileInformationByHandle(file.get(), FileEndOfFileInfo, &end, sizeof end);
      SetLastError(error);
      return false;
    }
    if (!SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN)) return false;
  }
  if (!write_all(file.get(), bytes)) return false;
  return SetEndOfFile(file.get());
}

}  // namespace

bool replace_file_content(const std::wstring& system, std::string_view bytes) {
  Result<WriteTarget, Failure> target = resolve_write_target(system, ReplaceStyle::KeepTarget);
  if (!target) return false;
  if (target->device) return rewrite_in_place(*target, bytes);
  {
    Result<SiblingFile, Failure> sibling = SiblingFile::create(target->path);
    if (!sibling) return false;
    if (!write_all(sibling->handle(), bytes)) return false;
    if (sibling->commit(*target, ReplaceStyle::KeepTarget)) return true;
    if (!target->exists || !refused_while_in_use(GetLastError())) return false;
  }  // the new file goes first: its room is what the in-place write needs
  // A target that stays open elsewhere was always written in place, and its holder may
  // rely on seeing the new content through its handle: keep doing so. A reader can see
  // the change half-done then, as it always could.
  return rewrite_in_place(*target, bytes);
}

bool replace_by_copy(const std::wstring& source, const std::wstring& target_system) {
  Result<WriteTarget, Failure> target = resolve_write_target(target_system, ReplaceStyle::Fresh);
  if (!target) return false;
  if (target->device) return CopyFileExW(source.c_str(), target->path.c_str(), nullptr, nullptr, nullptr, 0) != 0;
  Result<SiblingFile, Failure> sibling = SiblingFile::create(target->path);
  if (!sibling) return false;
  sibling->close();
  // The sibling is ours and empty; the copy replaces it with the source's data and
  // attributes.
  if (!CopyFileExW(source.c_str(), sibling->path().c_str(), nullptr, nullptr, nullptr, 0)) return false;
  return sibling->commit(*target, ReplaceStyle::Fresh);
}

}  // namespace quorvane::files
