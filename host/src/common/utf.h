// UTF-8 <-> UTF-16 at the platform boundary. Invalid input never fails: an unpaired
// surrogate or a malformed UTF-8 sequence becomes U+FFFD.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvane {

std::u16string utf8_to_utf16(std::string_view text);
std::string utf16_to_utf8(std::u16string_view text);

// True when `text` is well-formed UTF-8 (no overlongs, no surrogates, at most U+10FFFF).
bool is_valid_utf8(std::string_view text);

// The one UTF-8 decoder of the host. The sequence that starts at p (p < end): its code
// point, its length and true when it is well-formed; otherwise U+FFFD, false and the length
// of its maximal invalid subpart (at least one byte), the unit that one U+FFFD replaces.
struct Utf8Sequence {
  char32_t code_point;
  std::size_t length;
  bool valid;
};
Utf8Sequence utf8_sequence_at(const char* p, const char* end);
inline Utf8Sequence utf8_sequence_at(std::string_view text, std::size_t pos) {
  return utf8_sequence_at(text.data() + pos, text.data() + text.size());
}

// The one UTF-8 encoder: appends the encoding of scalar value `cp` to `out`.
void append_utf8(char32_t cp, std::string& out);

// Decodes possibly malformed UTF-8, replacing each maximal invalid subpart with U+FFFD.
std::string sanitize_utf8(std::string_view bytes);

#ifdef _WIN32
inline std::wstring to_wide(std::string_view text) {
  std::u16string w = utf8_to_utf16(text);
  return std::wstring(w.begin(), w.end());
}
inline std::string from_wide(std::wstring_view text) {
  return utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}
#endif

}  // namespace quorvane
