#include "common/error_text.h"

#include <cstdio>

#include "common/utf.h"

namespace quorvane {

std::string_view trim_trailing_space(std::string_view text) {
  while (!text.empty()) {
    char c = text.back();
    if (c != '\t' && c != '\n' && c != '\v' && c != '\f' && c != '\r' && c != ' ') break;
    text.remove_suffix(1);
  }
  return text;
}

std::uint32_t hresult_from_win32_code(std::uint32_t code) {
  // Win32 codes are DWORDs; "greater than 0" is read on the signed value, so a code that
  // already looks like an HRESULT (high bit set) passes through unchanged.
  return static_cast<std::int32_t>(code) > 0 ? (0x80070000u | (code & 0xFFFFu)) : code;
}

std::string format_platform_error(std::optional<std::string_view> message, std::uint32_t hresult) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", hresult);
  std::string_view text = message ? trim_trailing_space(*message) : std::string_view();
  if (text.empty()) return code;
  std::string out(text);
  out += " (";
  out += code;
  out += ')';
  return out;
}

std::string format_system_error(std::string_view message, std::uint32_t code) {
  std::string out(trim_trailing_space(message));
  out += " (os error ";
  out += std::to_string(static_cast<std::int32_t>(code));
  out += ')';
  return out;
}

std::string format_system_error_no_message(std::uint32_t code, std::uint32_t formatter_error) {
  return "OS Error " + std::to_string(static_cast<std::int32_t>(code)) + " (FormatMessageW() returned error " +
         std::to_string(static_cast<std::int32_t>(formatter_error)) + ")";
}

std::string format_system_error_bad_utf16(std::uint32_t code) {
  return "OS Error " + std::to_string(static_cast<std::int32_t>(code)) + " (FormatMessageW() returned invalid UTF-16)";
}

std::optional<std::string> strict_utf16_to_utf8(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return std::nullopt;
      ++i;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      return std::nullopt;
    }
  }
  return utf16_to_utf8(text);
}

}  // namespace quorvane
