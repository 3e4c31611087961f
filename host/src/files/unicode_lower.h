// Full Unicode lower-casing of UTF-8 text, as used by the extension filter of listings.
#pragma once

#include <string>
#include <string_view>

namespace quorvane::files {

// Lower-cases `text` with the full mapping: one-to-many mappings (U+0130 becomes
// "i" + U+0307) and the final form of capital sigma at the end of a word. Malformed
// UTF-8 sequences are replaced by U+FFFD first; file names reach here from UTF-16, so
// none are expected.
std::string to_lower_full(std::string_view text);

}  // namespace quorvane::files
