// Path handling of the file methods and the text conversions at the system boundary.
// The input is read twice: as UTF-16 code units (byte pairs) for the path functions, and
// as UTF-8 bytes for the conversions and the lower-casing of the listing filter.
#include <cstring>

#include "common/utf.h"
#include "files/long_path.h"
#include "files/unicode_lower.h"
#include "fuzz_support.h"

using namespace quorvane;
using namespace quorvane::files;

namespace {

bool starts_with(std::u16string_view text, std::u16string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool ends_with(std::u16string_view text, std::u16string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

void check_path(std::u16string_view path) {
  const std::u16string verbatim = verbatim_form(path);
  FUZZ_CHECK(verbatim_form(verbatim) == verbatim);
  FUZZ_CHECK(verbatim == path || has_verbatim_prefix(verbatim));
  if (verbatim != path) FUZZ_CHECK(!needs_verbatim_form(verbatim));

  const std::u16string pattern = listing_pattern(path);
  FUZZ_CHECK(starts_with(pattern, path) && pattern.back() == u'*' && pattern.size() <= path.size() + 2);

  // Walking up always ends, every step a strict prefix of the one before (the first
  // steps are enough to see that; all of them would make long inputs slow).
  std::u16string current(path);
  for (std::size_t steps = 0; steps < 32; ++steps) {
    const std::u16string parent = parent_folder(current);
    if (parent.empty()) break;
    FUZZ_CHECK(parent.size() < current.size() && starts_with(current, parent));
    current = parent;
  }
  if (is_volume_root(path)) FUZZ_CHECK(parent_folder(path).empty());

  const std::size_t half = path.size() / 2;
  const std::u16string_view folder = path.substr(0, half);
  const std::u16string_view name = path.substr(half);
  const std::u16string joined = join_path(folder, name);
  FUZZ_CHECK(starts_with(joined, folder) && ends_with(joined, name));
  FUZZ_CHECK(joined.size() <= folder.size() + name.size() + 1);
}

void check_text(std::string_view bytes) {
  const std::string clean = sanitize_utf8(bytes);
  FUZZ_CHECK(is_valid_utf8(clean));
  FUZZ_CHECK(is_valid_utf8(bytes) == (clean == bytes));

  const std::u16string wide = utf8_to_utf16(bytes);
  FUZZ_CHECK(utf16_to_utf8(wide) == clean);

  const std::string lower = to_lower_full(bytes);
  FUZZ_CHECK(is_valid_utf8(lower));
  FUZZ_CHECK(to_lower_full(clean) == lower);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string units(size / 2, u'\0');
  if (!units.empty()) std::memcpy(units.data(), data, units.size() * 2);
  check_path(units);

  // Any UTF-16, paired or not, comes out as valid UTF-8 that reads back as the same units
  // with each unpaired surrogate replaced.
  const std::string narrow = utf16_to_utf8(units);
  FUZZ_CHECK(is_valid_utf8(narrow));
  const std::u16string back = utf8_to_utf16(narrow);
  FUZZ_CHECK(back.size() == units.size());
  for (std::size_t i = 0; i < units.size(); ++i)
    FUZZ_CHECK(back[i] == units[i] || (back[i] == 0xFFFD && units[i] >= 0xD800 && units[i] <= 0xDFFF));

  check_text(fuzz::as_text(data, size));
  return 0;
}
