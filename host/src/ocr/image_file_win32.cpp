#include "ocr/image_file_win32.h"

#include <windows.h>

#include <algorithm>
#include <new>

#include "common/error_text.h"
#include "common/utf.h"

namespace quorvane {

namespace {

struct FileHandle {
  HANDLE handle;
  explicit FileHandle(HANDLE h) : handle(h) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

// Paths near the classic MAX_PATH limit only open in the verbatim form, which the system
// takes as an absolute path without further parsing. The switch happens at the 248-unit
// limit that folder creation has, like the other file methods.
std::wstring system_path(std::wstring path) {
  constexpr std::size_t kLongPathThreshold = 248;
  if (path.size() < kLongPathThreshold || path.starts_with(L"\\\\?\\")) return path;
  DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::wstring full(needed, L'\0');
  DWORD written = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (written == 0 || written >= needed) return path;
  full.resize(written);
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

}  // namespace

std::optional<std::string> read_image_file(std::string_view path, std::vector<std::uint8_t>& bytes) {
  if (path.find('\0') != std::string_view::npos) return std::string("strings passed to WinAPI cannot contain NULs");
  std::wstring wide = system_path(to_wide(path));
  FileHandle file(CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.handle == INVALID_HANDLE_VALUE) return last_system_error_text();

  bytes.clear();
  try {
    LARGE_INTEGER size{};
    // The size is only a hint: the file may change while it is read. One spare byte lets
    // the read that finds the end do so without growing the buffer.
    if (GetFileSizeEx(file.handle, &size) && size.QuadPart > 0)
      bytes.reserve(static_cast<std::size_t>(size.QuadPart) + 1);

    constexpr std::size_t kMinRead = 1u << 16;
    constexpr std::size_t kMaxRead = 1u << 30;
    std::size_t filled = 0;
    for (;;) {
      std::size_t room = bytes.capacity() - filled;
      if (room == 0) room = kMinRead;
      DWORD want = static_cast<DWORD>(std::min(room, kMaxRead));
      bytes.resize(filled + want);
      DWORD got = 0;
      if (!ReadFile(file.handle, bytes.data() + filled, want, &got, nullptr)) {
        DWORD error = GetLastError();
        bytes.clear();
        return system_error_text(error);
      }
      filled += got;
      bytes.resize(filled);
      if (got == 0) break;
    }
  } catch (const std::bad_alloc&) {
    bytes.clear();
    bytes.shrink_to_fit();
    return system_error_text(ERROR_NOT_ENOUGH_MEMORY);
  }
  return std::nullopt;
}

}  // namespace quorvane
