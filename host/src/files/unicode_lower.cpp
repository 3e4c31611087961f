#include "files/unicode_lower.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "common/utf.h"

namespace quorvane::files {

namespace {

struct LowerRun {
  char32_t first;
  char32_t last;
  std::int32_t delta;
  std::uint32_t stride;
};

struct CodeRange {
  char32_t first;
  char32_t last;
};

#include "files/unicode_lower_table.inc"

constexpr char32_t kCapitalSigma = 0x03A3;
constexpr char32_t kSmallSigma = 0x03C3;
constexpr char32_t kFinalSigma = 0x03C2;
constexpr char32_t kCapitalIWithDot = 0x0130;

template <std::size_t N>
bool in_ranges(const CodeRange (&ranges)[N], char32_t c) {
  auto it = std::upper_bound(std::begin(ranges), std::end(ranges), c,
                             [](char32_t value, const CodeRange& r) { return value < r.first; });
  return it != std::begin(ranges) && c <= std::prev(it)->last;
}

char32_t lower_simple(char32_t c) {
  auto it = std::upper_bound(std::begin(kLowerRuns), std::end(kLowerRuns), c,
                             [](char32_t value, const LowerRun& r) { return value < r.first; });
  if (it == std::begin(kLowerRuns)) return c;
  const LowerRun& run = *std::prev(it);
  if (c > run.last || (c - run.first) % run.stride != 0) return c;
  return static_cast<char32_t>(static_cast<std::int64_t>(c) + run.delta);
}

bool is_case_ignorable(char32_t c) { return in_ranges(kCaseIgnorable, c); }
bool is_cased(char32_t c) { return in_ranges(kCased, c); }

// Malformed sequences decode as U+FFFD, one per maximal invalid subpart.
std::vector<char32_t> decode(std::string_view utf8) {
  std::vector<char32_t> out;
  out.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) {
    const Utf8Sequence sequence = utf8_sequence_at(utf8, pos);
    out.push_back(sequence.code_point);
    pos += sequence.length;
  }
  return out;
}

// Capital sigma ends a word when a cased letter precedes it and none follows, looking
// past case-ignorable characters (apostrophes, combining marks, full stops) both ways.
bool is_final_sigma(const std::vector<char32_t>& text, std::size_t at) {
  std::size_t j = at;
  while (j > 0 && is_case_ignorable(text[j - 1])) --j;
  if (j == 0 || !is_cased(text[j - 1])) return false;
  std::size_t k = at + 1;
  while (k < text.size() && is_case_ignorable(text[k])) ++k;
  return k == text.size() || !is_cased(text[k]);
}

}  // namespace

std::string to_lower_full(std::string_view text) {
  std::vector<char32_t> points = decode(text);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < points.size(); ++i) {
    char32_t c = points[i];
    if (c < 0x80) {
      out += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    } else if (c == kCapitalIWithDot) {
      out += 'i';
      append_utf8(0x0307, out);
    } else if (c == kCapitalSigma) {
      append_utf8(is_final_sigma(points, i) ? kFinalSigma : kSmallSigma, out);
    } else {
      append_utf8(lower_simple(c), out);
    }
  }
  return out;
}

}  // namespace quorvane::files
