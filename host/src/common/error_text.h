// How failed platform calls are written inside error strings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

// The reply to Base64 that does not decode, with the decoder's reason; shared by every
// method that takes Base64 data (images, OCR).
inline std::string base64_decode_failed(std::string_view reason) {
  return "bad_params: base64 decode failed: " + std::string(reason);
}

// Removes trailing tab, line feed, vertical tab, form feed, carriage return and blank.
std::string_view trim_trailing_space(std::string_view text);

// The Win32 error code as an HRESULT: 0x80070000 | (e & 0xFFFF) for e > 0, e otherwise.
std::uint32_t hresult_from_win32_code(std::uint32_t code);

// "<message> (0x80070005)", or "0x80070005" alone when there is no message.
std::string format_platform_error(std::optional<std::string_view> message, std::uint32_t hresult);

// "{message} (os error {code})"
std::string format_system_error(std::string_view message, std::uint32_t code);
// "OS Error {code} (FormatMessageW() returned error {formatter_error})"
std::string format_system_error_no_message(std::uint32_t code, std::uint32_t formatter_error);
// "OS Error {code} (FormatMessageW() returned invalid UTF-16)"
std::string format_system_error_bad_utf16(std::uint32_t code);

// The UTF-8 text of a UTF-16 message, or nullopt when it holds an unpaired surrogate.
std::optional<std::string> strict_utf16_to_utf8(std::u16string_view text);

#ifdef _WIN32
// The system error text for an operating-system error code (message table, language
// neutral, inserts ignored, ntdll for codes with 0x10000000 set).
std::string system_error_text(std::uint32_t code);
// The system error text for the calling thread's last error.
std::string last_system_error_text();

// The platform error text for an HRESULT: `description` (the text a failing runtime
// call attached, if not empty) or the message table's text for the code.
std::string platform_error_text(std::uint32_t hresult, std::optional<std::string_view> description = std::nullopt);
// The platform error text for the calling thread's last Win32 error.
std::string last_platform_error_text();
#endif

}  // namespace quorvane
