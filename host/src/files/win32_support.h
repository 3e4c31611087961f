// Windows-only helpers shared by the file-access handlers: failures with or without a
// system code, and the conversion of request paths for the system (handle owners come
// from common/win32_handle.h).
#pragma once

#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "common/error_text.h"
#include "common/result.h"
#include "common/win32_handle.h"

namespace quorvane::files {

// A failed operation: a system error code, or one of the fixed texts of failures that
// have none.
struct Failure {
  DWORD code = 0;
  std::string_view fixed;  // set instead of `code`

  static Failure last() { return Failure{GetLastError(), {}}; }
  static Failure os(DWORD code) { return Failure{code, {}}; }
  static Failure text(std::string_view fixed) { return Failure{0, fixed}; }
  std::string message() const { return fixed.empty() ? system_error_text(code) : std::string(fixed); }
};

// A request path as the system must see it: UTF-16, and absolute with the verbatim
// prefix once it is long enough for the legacy limits to bite. A NUL inside the path
// would silently cut it short, so it is refused.
Result<std::wstring, Failure> system_path(std::string_view utf8_path);
Result<std::wstring, Failure> system_path(std::wstring_view wide_path);

std::wstring_view as_wide(std::u16string_view text);
std::u16string_view as_u16(std::wstring_view text);

// Calls `fill(buffer, capacity)` of the "returns the length needed when too small"
// family (GetFullPathNameW, GetModuleFileNameW...) until the result fits. Returns
// nullopt and leaves the last error when the call fails.
template <typename Fill>
std::optional<std::wstring> fill_wide_buffer(Fill fill) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    DWORD n = fill(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) {
      if (GetLastError() != ERROR_SUCCESS) return std::nullopt;
      return std::wstring();
    }
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    // GetModuleFileNameW truncates and returns the capacity; the others return the
    // size they need. Either way, grow and ask again.
    if (buffer.size() >= 0x10000) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return std::nullopt;
    }
    buffer.resize(std::max<std::size_t>(n + 1, buffer.size() * 2));
  }
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace quorvane::files
