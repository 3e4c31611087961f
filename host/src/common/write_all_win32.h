// Writing a whole buffer to a handle (a file, a pipe, the standard output): the system
// may accept less than asked, and a count is a DWORD, so it is written in pieces.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace quorvane {

// Every byte, or false with the last error set; a write that accepts nothing would never
// end, so it fails as a write fault.
inline bool write_all(HANDLE handle, std::string_view bytes) {
  constexpr std::size_t kMaxWrite = 16u << 20;
  while (!bytes.empty()) {
    DWORD want = static_cast<DWORD>(std::min(bytes.size(), kMaxWrite));
    DWORD written = 0;
    if (!WriteFile(handle, bytes.data(), want, &written, nullptr)) return false;
    if (written == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    bytes.remove_prefix(written);
  }
  return true;
}

}  // namespace quorvane
