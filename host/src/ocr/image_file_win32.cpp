#include "ocr/image_file_win32.h"

#include <windows.h>

#include <algorithm>
#include <new>

#include "common/error_text.h"
#include "files/win32_support.h"

namespace quorvane::ocr {

std::optional<std::string> read_image_file(std::string_view path, std::vector<std::uint8_t>& bytes) {
  // The same path rules as every file method: NULs refused, long paths in verbatim form.
  Result<std::wstring, files::Failure> system = files::system_path(path);
  if (!system) return system.error().message();
  files::unique_handle file(CreateFileW(system->c_str(), GENERIC_READ, files::kShareAll, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return last_system_error_text();

  bytes.clear();
  try {
    LARGE_INTEGER size{};
    // The size is only a hint: the file may change while it is read. One spare byte lets
    // the read that finds the end do so without growing the buffer.
    if (GetFileSizeEx(file.get(), &size) && size.QuadPart > 0)
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
      if (!ReadFile(file.get(), bytes.data() + filled, want, &got, nullptr)) {
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

}  // namespace quorvane::ocr
