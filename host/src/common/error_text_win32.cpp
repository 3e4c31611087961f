#include "common/error_text.h"

#include <windows.h>

#include "common/utf.h"

namespace quorvane {

namespace {

constexpr DWORD kFacilityNtBit = 0x10000000;

struct MessageLookup {
  DWORD length = 0;  // 0 when the system has no text
  DWORD formatter_error = 0;
  DWORD looked_up_code = 0;  // the code actually passed to the formatter
};

// Looks `code` up in the system message table, or in ntdll's for codes carrying the NT
// facility bit (NTSTATUS values folded into Win32/HRESULT space).
MessageLookup lookup_message(DWORD code, wchar_t* buffer, DWORD capacity) {
  DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  HMODULE module = nullptr;
  if (code & kFacilityNtBit) {
    module = GetModuleHandleW(L"NTDLL.DLL");
    if (module) {
      code ^= kFacilityNtBit;
      flags |= FORMAT_MESSAGE_FROM_HMODULE;
    }
  }
  MessageLookup result;
  result.looked_up_code = code;
  result.length = FormatMessageW(flags, module, code, 0, buffer, capacity, nullptr);
  if (result.length == 0) result.formatter_error = GetLastError();
  return result;
}

}  // namespace

std::string system_error_text(std::uint32_t code) {
  wchar_t buffer[2048];
  MessageLookup found = lookup_message(code, buffer, 2048);
  if (found.length == 0) return format_system_error_no_message(found.looked_up_code, found.formatter_error);
  std::optional<std::string> text =
      strict_utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(buffer), found.length));
  if (!text) return format_system_error_bad_utf16(found.looked_up_code);
  return format_system_error(*text, code);
}

std::string last_system_error_text() { return system_error_text(GetLastError()); }

std::string platform_error_text(std::uint32_t hresult, std::optional<std::string_view> description) {
  if (description && !trim_trailing_space(*description).empty()) return format_platform_error(description, hresult);
  wchar_t buffer[2048];
  MessageLookup found = lookup_message(hresult, buffer, 2048);
  if (found.length == 0) return format_platform_error(std::nullopt, hresult);
  std::string text = utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(buffer), found.length));
  return format_platform_error(text, hresult);
}

std::string last_platform_error_text() { return platform_error_text(hresult_from_win32_code(GetLastError())); }

}  // namespace quorvane
