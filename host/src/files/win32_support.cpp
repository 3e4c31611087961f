#include "files/win32_support.h"

#include "common/utf.h"
#include "files/errors.h"
#include "files/long_path.h"

namespace quorvane::files {

std::wstring_view as_wide(std::u16string_view text) {
  return std::wstring_view(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

std::u16string_view as_u16(std::wstring_view text) {
  return std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

Result<std::wstring, Failure> system_path(std::wstring_view wide) {
  if (wide.find(L'\0') != std::wstring_view::npos) return fail(Failure::text(kNulInString));
  if (!needs_verbatim_form(as_u16(wide))) return std::wstring(wide);
  std::wstring owned(wide);
  std::optional<std::wstring> full = fill_wide_buffer(
      [&](wchar_t* buffer, DWORD size) { return GetFullPathNameW(owned.c_str(), size, buffer, nullptr); });
  if (!full) return fail(Failure::last());
  std::u16string verbatim = verbatim_form(as_u16(*full));
  return std::wstring(as_wide(verbatim));
}

Result<std::wstring, Failure> system_path(std::string_view utf8) {
  if (utf8.find('\0') != std::string_view::npos) return fail(Failure::text(kNulInString));
  return system_path(std::wstring_view(to_wide(utf8)));
}

}  // namespace quorvane::files
