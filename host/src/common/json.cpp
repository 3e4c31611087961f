#include "common/json.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <system_error>
#include <utility>

#include "common/utf.h"
#include "lumetra/cpu.h"

#if defined(__SSE2__) && defined(__GNUC__)
#include <immintrin.h>
#define QUORVANE_JSON_SSE2 1
#else
#define QUORVANE_JSON_SSE2 0
#endif

namespace quorvane {

namespace {

// Containers may nest 127 deep: the depth budget is 128 and the container that would
// use the last unit is refused.
constexpr std::size_t kMaxDepth = 127;

#if QUORVANE_JSON_SSE2
// Bytes that end a plain run inside a string being parsed, or being written before it is
// known to be well-formed UTF-8: '"', '\\', control characters and every non-ASCII byte
// (those go through the UTF-8 check). A signed compare against 0x20 catches 0x00-0x1F
// and 0x80-0xFF at once.
inline __m128i parse_stops(__m128i v) {
  return _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'))),
                      _mm_cmplt_epi8(v, _mm_set1_epi8(0x20)));
}

// Bytes the writer must escape: '"', '\\' and 0x00-0x1F. Non-ASCII is written raw once
// the string is known to be well-formed UTF-8.
inline __m128i write_stops(__m128i v) {
  const __m128i ctrl = _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x1F)), v);
  return _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'))),
                      ctrl);
}

inline __m128i load16(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline unsigned mask_of(__m128i v) { return static_cast<unsigned>(_mm_movemask_epi8(v)); }

// First position in [p, end) whose byte `Stops` selects, or nullptr when none of the
// whole 16-byte blocks has one (the caller finishes the last few bytes). Strings of
// megabytes (Base64 images) make this the hot loop of both directions.
template <__m128i (*Stops)(__m128i)>
const char* find_stop(const char* p, const char* end) {
  while (end - p >= 64) {
    const __m128i s0 = Stops(load16(p)), s1 = Stops(load16(p + 16)), s2 = Stops(load16(p + 32)),
                  s3 = Stops(load16(p + 48));
    if (mask_of(_mm_or_si128(_mm_or_si128(s0, s1), _mm_or_si128(s2, s3))) != 0) {
      const std::uint64_t all = std::uint64_t{mask_of(s0)} | std::uint64_t{mask_of(s1)} << 16 |
                                std::uint64_t{mask_of(s2)} << 32 | std::uint64_t{mask_of(s3)} << 48;
      return p + __builtin_ctzll(all);
    }
    p += 64;
  }
  while (end - p >= 16) {
    const unsigned m = mask_of(Stops(load16(p)));
    if (m != 0) return p + __builtin_ctz(m);
    p += 16;
  }
  return nullptr;
}

// The same scan 32 bytes at a time, for CPUs that have AVX2 (checked at run time: the
// host runs on machines we do not know). Helpers are always_inline so 256-bit values
// never go through the stack, which the 64-bit Windows ABI does not align to 32 bytes.
#define QV_AVX2 __attribute__((target("avx2"), always_inline)) inline

QV_AVX2 __m256i parse_stops_avx2(__m256i v) {
  return _mm256_or_si256(
      _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('"')), _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\\'))),
      _mm256_cmpgt_epi8(_mm256_set1_epi8(0x20), v));
}

QV_AVX2 __m256i write_stops_avx2(__m256i v) {
  const __m256i ctrl = _mm256_cmpeq_epi8(_mm256_min_epu8(v, _mm256_set1_epi8(0x1F)), v);
  return _mm256_or_si256(
      _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('"')), _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\\'))), ctrl);
}

QV_AVX2 std::uint64_t mask_of_avx2(__m256i v) { return static_cast<std::uint32_t>(_mm256_movemask_epi8(v)); }

template <bool Parse>
QV_AVX2 __m256i stops_avx2(const char* at) {
  const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
  return Parse ? parse_stops_avx2(v) : write_stops_avx2(v);
}

template <bool Parse>
__attribute__((target("avx2"))) const char* find_stop_avx2(const char* p, const char* end) {
  while (end - p >= 64) {
    const __m256i s0 = stops_avx2<Parse>(p), s1 = stops_avx2<Parse>(p + 32);
    const __m256i any = _mm256_or_si256(s0, s1);
    if (!_mm256_testz_si256(any, any)) return p + __builtin_ctzll(mask_of_avx2(s0) | mask_of_avx2(s1) << 32);
    p += 64;
  }
  return Parse ? find_stop<parse_stops>(p, end) : find_stop<write_stops>(p, end);
}

// Well-formedness of UTF-8, 32 bytes at a time, after Keiser and Lemire, "Validating
// UTF-8 in less than one instruction per byte" (2021). Three table lookups on the nibbles
// of each byte and the byte before it flag every malformed pair (overlong forms,
// surrogates, values above U+10FFFF, a lead without its continuation, a continuation
// without its lead); a separate check makes sure the third and fourth bytes of long
// sequences are continuations and nothing else is one.
namespace utf8_avx2 {
enum : std::uint8_t {
  kTooShort = 1 << 0,
  kTooLong = 1 << 1,
  kOverlong3 = 1 << 2,
  kTooLarge = 1 << 3,
  kSurrogate = 1 << 4,
  kOverlong2 = 1 << 5,
  kTooLarge1000 = 1 << 6,
  kOverlong4 = 1 << 6,
  kTwoConts = 1 << 7,
  kCarry = kTooShort | kTooLong | kTwoConts,
};

// A 16-entry lookup table in both lanes. The entries are given as bytes, so flags with the
// top bit set need no cast to char.
QV_AVX2 __m256i table16(const std::array<std::uint8_t, 16>& entries) {
  return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(entries.data())));
}
#define QV_TABLE16(...) table16({__VA_ARGS__})

QV_AVX2 __m256i nibble_high(__m256i v) { return _mm256_and_si256(_mm256_srli_epi16(v, 4), _mm256_set1_epi8(0x0F)); }

// The input shifted by N bytes towards the end, the last N bytes of `prev` coming in.
template <int N>
QV_AVX2 __m256i previous(__m256i input, __m256i prev) {
  return _mm256_alignr_epi8(input, _mm256_permute2x128_si256(prev, input, 0x21), 16 - N);
}

QV_AVX2 __m256i block_errors(__m256i input, __m256i prev_input) {
  const __m256i prev1 = previous<1>(input, prev_input);
  const __m256i byte_1_high = _mm256_shuffle_epi8(
      QV_TABLE16(kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTwoConts, kTwoConts,
                 kTwoConts, kTwoConts, kTooShort | kOverlong2, kTooShort, kTooShort | kOverlong3 | kSurrogate,
                 kTooShort | kTooLarge | kTooLarge1000 | kOverlong4),
      nibble_high(prev1));
  const __m256i byte_1_low = _mm256_shuffle_epi8(
      QV_TABLE16(kCarry | kOverlong3 | kOverlong2 | kOverlong4, kCarry | kOverlong2, kCarry, kCarry, kCarry | kTooLarge,
                 kCarry | kTooLarge | kTooLarge1000, kCarry | kTooLarge | kTooLarge1000,
                 kCarry | kTooLarge | kTooLarge1000, kCarry | kTooLarge | kTooLarge1000,
                 kCarry | kTooLarge | kTooLarge1000, kCarry | kTooLarge | kTooLarge1000,
                 kCarry | kTooLarge | kTooLarge1000, kCarry | kTooLarge | kTooLarge1000,
                 kCarry | kTooLarge | kTooLarge1000 | kSurrogate, kCarry | kTooLarge | kTooLarge1000,
                 kCarry | kTooLarge | kTooLarge1000),
      _mm256_and_si256(prev1, _mm256_set1_epi8(0x0F)));
  const __m256i byte_2_high = _mm256_shuffle_epi8(
      QV_TABLE16(kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
                 kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge1000 | kOverlong4,
                 kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge,
                 kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge,
                 kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge, kTooShort, kTooShort, kTooShort,
                 kTooShort),
      nibble_high(input));
  const __m256i special = _mm256_and_si256(_mm256_and_si256(byte_1_high, byte_1_low), byte_2_high);
  // Third and fourth bytes of 3- and 4-byte sequences: exactly where two continuations
  // follow each other (the kTwoConts bit above).
  const __m256i third =
      _mm256_subs_epu8(previous<2>(input, prev_input), _mm256_set1_epi8(static_cast<char>(0xE0 - 0x80)));
  const __m256i fourth =
      _mm256_subs_epu8(previous<3>(input, prev_input), _mm256_set1_epi8(static_cast<char>(0xF0 - 0x80)));
  const __m256i must_continue =
      _mm256_and_si256(_mm256_or_si256(third, fourth), _mm256_set1_epi8(static_cast<char>(0x80)));
  return _mm256_xor_si256(must_continue, special);
}

// Non-zero where the block ends inside a sequence (a lead in its last three bytes that
// needs more bytes than remain).
QV_AVX2 __m256i incomplete_end(__m256i input) {
  const __m256i max = _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                       -1, -1, -1, -1, -1, -1, -1, -1, -1, static_cast<char>(0xF0 - 1),
                                       static_cast<char>(0xE0 - 1), static_cast<char>(0xC0 - 1));
  return _mm256_subs_epu8(input, max);
}

#undef QV_TABLE16
}  // namespace utf8_avx2

QV_AVX2 void check_utf8_block(__m256i input, __m256i& error, __m256i& prev_input, __m256i& prev_incomplete) {
  using namespace utf8_avx2;
  if (_mm256_movemask_epi8(input) == 0) {
    error = _mm256_or_si256(error, prev_incomplete);
    prev_incomplete = _mm256_setzero_si256();
  } else {
    error = _mm256_or_si256(error, block_errors(input, prev_input));
    prev_incomplete = incomplete_end(input);
  }
  prev_input = input;
}

__attribute__((target("avx2"))) bool valid_utf8_avx2(const char* p, const char* end) {
  __m256i error = _mm256_setzero_si256();
  __m256i prev_input = _mm256_setzero_si256();
  __m256i prev_incomplete = _mm256_setzero_si256();
  for (; end - p >= 32; p += 32)
    check_utf8_block(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), error, prev_input, prev_incomplete);
  // The last bytes padded with zeros, which are ASCII.
  alignas(32) char tail[32] = {};
  std::memcpy(tail, p, static_cast<std::size_t>(end - p));
  check_utf8_block(_mm256_load_si256(reinterpret_cast<const __m256i*>(tail)), error, prev_input, prev_incomplete);
  error = _mm256_or_si256(error, prev_incomplete);
  return _mm256_testz_si256(error, error);
}

#undef QV_AVX2

#endif

// Which scan the level allows: 0 byte by byte, 1 SSE2, 2 AVX2.
int scan_width() {
#if QUORVANE_JSON_SSE2
  const lumetra::cpu::Level level = lumetra::cpu::level();
  return level >= lumetra::cpu::Level::Avx2 ? 2 : level >= lumetra::cpu::Level::Sse2 ? 1 : 0;
#else
  return 0;
#endif
}

inline bool parse_stop_byte(unsigned char c) { return c == '"' || c == '\\' || c < 0x20 || c >= 0x80; }
inline bool write_stop_byte(unsigned char c) { return c == '"' || c == '\\' || c < 0x20; }

const char* find_parse_stop(const char* p, const char* end) {
#if QUORVANE_JSON_SSE2
  if (const int width = scan_width(); width > 0) {
    if (const char* hit = width == 2 ? find_stop_avx2<true>(p, end) : find_stop<parse_stops>(p, end)) return hit;
    p += (end - p) / 16 * 16;
  }
#endif
  while (p < end && !parse_stop_byte(static_cast<unsigned char>(*p))) ++p;
  return p;
}

const char* find_write_stop(const char* p, const char* end) {
#if QUORVANE_JSON_SSE2
  if (const int width = scan_width(); width > 0) {
    if (const char* hit = width == 2 ? find_stop_avx2<false>(p, end) : find_stop<write_stops>(p, end)) return hit;
    p += (end - p) / 16 * 16;
  }
#endif
  while (p < end && !write_stop_byte(static_cast<unsigned char>(*p))) ++p;
  return p;
}

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void append_utf8(std::uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    const char b[2] = {static_cast<char>(0xC0 | cp >> 6), static_cast<char>(0x80 | (cp & 0x3F))};
    out.append(b, 2);
  } else if (cp < 0x10000) {
    const char b[3] = {static_cast<char>(0xE0 | cp >> 12), static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
                       static_cast<char>(0x80 | (cp & 0x3F))};
    out.append(b, 3);
  } else {
    const char b[4] = {static_cast<char>(0xF0 | cp >> 18), static_cast<char>(0x80 | ((cp >> 12) & 0x3F)),
                       static_cast<char>(0x80 | ((cp >> 6) & 0x3F)), static_cast<char>(0x80 | (cp & 0x3F))};
    out.append(b, 4);
  }
}

// One well-formed UTF-8 sequence starting at p (whose first byte is >= 0x80): no
// overlong forms, no encoded surrogates, nothing above U+10FFFF. Returns the byte after
// it, or nullptr.
const char* skip_utf8_sequence(const char* p, const char* end) {
  const auto at = [&](std::ptrdiff_t i) { return static_cast<unsigned char>(p[i]); };
  const auto cont = [&](std::ptrdiff_t i) { return (at(i) & 0xC0) == 0x80; };
  const unsigned char c0 = at(0);
  if (c0 < 0xC2) return nullptr;  // stray continuation byte, or overlong 2-byte lead
  if (c0 < 0xE0) return end - p >= 2 && cont(1) ? p + 2 : nullptr;
  if (c0 < 0xF0) {
    if (end - p < 3) return nullptr;
    const unsigned char lo = c0 == 0xE0 ? 0xA0 : 0x80, hi = c0 == 0xED ? 0x9F : 0xBF;
    return at(1) >= lo && at(1) <= hi && cont(2) ? p + 3 : nullptr;
  }
  if (c0 < 0xF5) {
    if (end - p < 4) return nullptr;
    const unsigned char lo = c0 == 0xF0 ? 0x90 : 0x80, hi = c0 == 0xF4 ? 0x8F : 0xBF;
    return at(1) >= lo && at(1) <= hi && cont(2) && cont(3) ? p + 4 : nullptr;
  }
  return nullptr;
}

class Parser {
 public:
  Parser(const char* begin, const char* end) : p_(begin), end_(end) {}

  bool parse(json& root);

 private:
  enum class Next { value, after_value, member };

  void skip_ws() {
    while (p_ != end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
  }
  bool consume_literal(std::string_view word) {
    if (static_cast<std::size_t>(end_ - p_) < word.size() || std::memcmp(p_, word.data(), word.size()) != 0)
      return false;
    p_ += word.size();
    return true;
  }
  bool parse_string(std::string& out);
  bool parse_escape(std::string& out);
  bool parse_number(json& dest);
  bool read_hex4(std::uint32_t& value);

  const char* p_;
  const char* end_;
};

bool Parser::read_hex4(std::uint32_t& value) {
  if (end_ - p_ < 4) return false;
  value = 0;
  for (int i = 0; i < 4; ++i) {
    const int h = hex_value(p_[i]);
    if (h < 0) return false;
    value = value << 4 | static_cast<std::uint32_t>(h);
  }
  p_ += 4;
  return true;
}

// p_ is just past the backslash.
bool Parser::parse_escape(std::string& out) {
  if (p_ == end_) return false;
  const char c = *p_++;
  switch (c) {
    case '"':
      out.push_back('"');
      return true;
    case '\\':
      out.push_back('\\');
      return true;
    case '/':
      out.push_back('/');
      return true;
    case 'b':
      out.push_back('\b');
      return true;
    case 'f':
      out.push_back('\f');
      return true;
    case 'n':
      out.push_back('\n');
      return true;
    case 'r':
      out.push_back('\r');
      return true;
    case 't':
      out.push_back('\t');
      return true;
    case 'u':
      break;
    default:
      return false;
  }
  std::uint32_t cp = 0;
  if (!read_hex4(cp)) return false;
  if (cp >= 0xDC00 && cp <= 0xDFFF) return false;  // low surrogate without a high one
  if (cp >= 0xD800 && cp <= 0xDBFF) {
    std::uint32_t low = 0;
    if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u') return false;
    p_ += 2;
    if (!read_hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
  }
  append_utf8(cp, out);
  return true;
}

// p_ is just past the opening quote. The common case, a string without escapes, is
// copied exactly once, straight from the input into a string of its final size.
bool Parser::parse_string(std::string& out) {
  const char* run = p_;
  bool escaped = false;
  for (;;) {
    p_ = find_parse_stop(p_, end_);
    if (p_ == end_) return false;
    const auto c = static_cast<unsigned char>(*p_);
    if (c == '"') {
      if (escaped)
        out.append(run, static_cast<std::size_t>(p_ - run));
      else
        out.assign(run, static_cast<std::size_t>(p_ - run));
      ++p_;
      return true;
    }
    if (c == '\\') {
      if (!escaped) {
        out.clear();
        escaped = true;
      }
      out.append(run, static_cast<std::size_t>(p_ - run));
      ++p_;
      if (!parse_escape(out)) return false;
      run = p_;
      continue;
    }
    if (c < 0x20) return false;  // control characters must be escaped
    do {
      p_ = skip_utf8_sequence(p_, end_);
      if (p_ == nullptr) return false;
    } while (p_ != end_ && static_cast<unsigned char>(*p_) >= 0x80);
  }
}

// RFC 8259 number grammar; integers that fit become unsigned (non-negative) or signed
// (negative) 64-bit values, everything else a double.
bool Parser::parse_number(json& dest) {
  const char* start = p_;
  const bool negative = *p_ == '-';
  if (negative) ++p_;
  if (p_ == end_ || !is_digit(*p_)) return false;
  const char* int_begin = p_;
  if (*p_ == '0') {
    ++p_;
  } else {
    while (p_ != end_ && is_digit(*p_)) ++p_;
  }
  const char* int_end = p_;

  bool integral = true;
  const char* frac_begin = p_;
  const char* frac_end = p_;
  if (p_ != end_ && *p_ == '.') {
    ++p_;
    frac_begin = p_;
    if (p_ == end_ || !is_digit(*p_)) return false;
    while (p_ != end_ && is_digit(*p_)) ++p_;
    frac_end = p_;
    integral = false;
  }
  std::int64_t exponent = 0;
  if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
    ++p_;
    bool exp_negative = false;
    if (p_ != end_ && (*p_ == '+' || *p_ == '-')) exp_negative = *p_++ == '-';
    if (p_ == end_ || !is_digit(*p_)) return false;
    while (p_ != end_ && is_digit(*p_)) {
      exponent = std::min<std::int64_t>(exponent * 10 + (*p_ - '0'), 1'000'000'000);
      ++p_;
    }
    if (exp_negative) exponent = -exponent;
    integral = false;
  }

  if (integral && int_end - int_begin <= 20) {
    std::uint64_t value = 0;
    bool fits = true;
    for (const char* d = int_begin; d != int_end; ++d) {
      const auto digit = static_cast<std::uint64_t>(*d - '0');
      if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
        fits = false;
        break;
      }
      value = value * 10 + digit;
    }
    // "-0" is zero, which an unsigned integer holds; the signed kind is kept for
    // values below zero.
    if (fits && (!negative || value == 0)) {
      dest = static_cast<json::number_unsigned_t>(value);
      return true;
    }
    if (fits && value <= std::uint64_t{1} << 63) {
      dest = static_cast<json::number_integer_t>(0 - value);  // modular: 2^63 -> INT64_MIN
      return true;
    }
  }

  double value = 0;
  const auto result = std::from_chars(start, p_, value);
  if (result.ec == std::errc::result_out_of_range) {
    // Out of range both ways: too large is an error, too small is zero. The decimal
    // exponent of the leading significant digit tells which.
    std::int64_t magnitude = exponent;
    const char* first = int_begin;
    while (first != int_end && *first == '0') ++first;
    if (first != int_end) {
      magnitude += int_end - first;
    } else {
      const char* f = frac_begin;
      while (f != frac_end && *f == '0') ++f;
      magnitude -= f - frac_begin;
    }
    if (magnitude > 0) return false;
    value = negative ? -0.0 : 0.0;
  } else if (result.ec != std::errc() || result.ptr != p_) {
    return false;
  }
  dest = value;
  return true;
}

bool Parser::parse(json& root) {
  // An explicit stack instead of recursion: nesting is bounded by kMaxDepth anyway,
  // but an iterative loop keeps hostile input (a hundred thousand '[') cheap to refuse.
  struct Frame {
    json* container;
    bool is_object;
  };
  Frame stack[kMaxDepth];
  std::size_t depth = 0;
  json* dest = &root;
  Next next = Next::value;

  skip_ws();
  for (;;) {
    switch (next) {
      case Next::value: {
        if (p_ == end_) return false;
        const char c = *p_;
        if (c == '{' || c == '[') {
          if (depth == kMaxDepth) return false;
          const bool is_object = c == '{';
          *dest = is_object ? json::object() : json::array();
          stack[depth++] = {dest, is_object};
          ++p_;
          skip_ws();
          if (p_ != end_ && *p_ == (is_object ? '}' : ']')) {
            ++p_;
            --depth;
            next = Next::after_value;
          } else if (is_object) {
            next = Next::member;
          } else {
            dest = &dest->get_ref<json::array_t&>().emplace_back();
          }
          break;
        }
        if (c == '"') {
          ++p_;
          std::string text;
          if (!parse_string(text)) return false;
          *dest = std::move(text);
        } else if (c == 't') {
          if (!consume_literal("true")) return false;
          *dest = true;
        } else if (c == 'f') {
          if (!consume_literal("false")) return false;
          *dest = false;
        } else if (c == 'n') {
          if (!consume_literal("null")) return false;
          *dest = nullptr;
        } else if (c == '-' || is_digit(c)) {
          if (!parse_number(*dest)) return false;
        } else {
          return false;
        }
        next = Next::after_value;
        break;
      }
      case Next::after_value: {
        skip_ws();
        if (depth == 0) return p_ == end_;
        if (p_ == end_) return false;
        const Frame& top = stack[depth - 1];
        if (*p_ == ',') {
          ++p_;
          skip_ws();
          if (top.is_object) {
            next = Next::member;
          } else {
            dest = &top.container->get_ref<json::array_t&>().emplace_back();
            next = Next::value;
          }
        } else if (*p_ == (top.is_object ? '}' : ']')) {
          ++p_;
          --depth;
        } else {
          return false;
        }
        break;
      }
      case Next::member: {
        if (p_ == end_ || *p_ != '"') return false;
        ++p_;
        std::string key;
        if (!parse_string(key)) return false;
        skip_ws();
        if (p_ == end_ || *p_ != ':') return false;
        ++p_;
        skip_ws();
        // A repeated key keeps its last value: the slot is reused and overwritten.
        auto& object = stack[depth - 1].container->get_ref<json::object_t&>();
        dest = &object.try_emplace(std::move(key)).first->second;
        next = Next::value;
        break;
      }
    }
  }
}

// ---------------------------------------------------------------------------------------
// Writer

// An upper bound of the output size, escapes aside, so the output grows once: a reply
// holding a 30 MB Base64 string must not be copied again by a late reallocation.
std::size_t estimate_size(const json& value) {
  switch (value.type()) {
    case json::value_t::string:
      return value.get_ref<const std::string&>().size() + 2;
    case json::value_t::array: {
      std::size_t n = 2;
      for (const auto& item : value.get_ref<const json::array_t&>()) n += estimate_size(item) + 1;
      return n;
    }
    case json::value_t::object: {
      std::size_t n = 2;
      for (const auto& [key, item] : value.get_ref<const json::object_t&>()) n += key.size() + 4 + estimate_size(item);
      return n;
    }
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
      return 20;
    case json::value_t::number_float:
      return 25;
    default:
      return 5;  // null, true, false
  }
}

// Whether [p, end) is well-formed UTF-8, checked in vector blocks where the CPU allows.
bool valid_utf8(const char* p, const char* end) {
#if QUORVANE_JSON_SSE2
  if (scan_width() == 2) return valid_utf8_avx2(p, end);
#endif
  while (p != end) {
    if (static_cast<unsigned char>(*p) < 0x80) {
      ++p;
    } else if (!(p = skip_utf8_sequence(p, end))) {
      return false;
    }
  }
  return true;
}

void append_escape(unsigned char c, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  switch (c) {
    case '"':
      out.append("\\\"", 2);
      break;
    case '\\':
      out.append("\\\\", 2);
      break;
    case '\b':
      out.append("\\b", 2);
      break;
    case '\t':
      out.append("\\t", 2);
      break;
    case '\n':
      out.append("\\n", 2);
      break;
    case '\f':
      out.append("\\f", 2);
      break;
    case '\r':
      out.append("\\r", 2);
      break;
    default: {
      const char esc[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
      out.append(esc, 6);
    }
  }
}

// The rest of a string that is not well-formed UTF-8, byte by byte: well-formed sequences
// are copied, each maximal invalid subpart becomes U+FFFD. Only malformed text comes here.
void write_replacing(const char* p, const char* end, std::string& out) {
  while (p != end) {
    const auto c = static_cast<unsigned char>(*p);
    if (c >= 0x80) {
      if (const char* next = skip_utf8_sequence(p, end)) {
        out.append(p, static_cast<std::size_t>(next - p));
        p = next;
      } else {
        out.append("\xEF\xBF\xBD", 3);
        p += utf8_sequence_at(p, end).length;
      }
    } else {
      if (write_stop_byte(c))
        append_escape(c, out);
      else
        out.push_back(static_cast<char>(c));
      ++p;
    }
  }
}

// Strings reach the writer from every corner of the host, some holding bytes it never
// chose (a decoder's message quoting raw file bytes, a name read from the system). The
// writer is the one place every reply passes, so it is where malformed UTF-8 stops. A
// string is scanned for the bytes to escape and, up to its first non-ASCII byte, for
// non-ASCII too; there the rest is checked for well-formed UTF-8 once, in vector blocks,
// and then written as before (non-ASCII raw), or, when it is malformed, byte by byte with
// replacements. A NUL is a character like any other and goes out as \u0000.
void write_string(std::string_view text, std::string& out) {
  // Scanning a bounded block before copying it keeps the block in cache for the copy.
  constexpr std::ptrdiff_t kBlock = 32 * 1024;
  out.push_back('"');
  const char* p = text.data();
  const char* const end = p + text.size();
  bool checked = false;  // the rest of the text is known to be well-formed UTF-8
  while (p != end) {
    const char* block_end = end - p > kBlock ? p + kBlock : end;
    const char* stop = checked ? find_write_stop(p, block_end) : find_parse_stop(p, block_end);
    out.append(p, static_cast<std::size_t>(stop - p));
    p = stop;
    if (p == block_end) continue;
    const auto c = static_cast<unsigned char>(*p);
    if (c >= 0x80) {
      if (!valid_utf8(p, end)) {
        write_replacing(p, end, out);
        break;
      }
      checked = true;
      continue;
    }
    append_escape(c, out);
    ++p;
  }
  out.push_back('"');
}

// The shortest text that reads back as the same double: the shortest round-trip digits,
// placed either as a plain decimal or as digits with an exponent, whichever text is
// shorter (the plain decimal on a tie). The exponent carries no '+' and no leading zeros
// (1e-7, 1.8446744073709552e19); a whole number in plain notation keeps ".0" so that it
// still reads as a float.
void write_float(double value, std::string& out) {
  if (!std::isfinite(value)) {
    out.append("null", 4);
    return;
  }
  char sci[32];
  const auto result = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific);
  // sci holds [-]d[.ddd]e(+|-)dd[d]
  const char* p = sci;
  const char* const sci_end = result.ptr;
  if (*p == '-') {
    out.push_back('-');
    ++p;
  }
  char digits[20];
  int n = 0;
  for (; *p != 'e'; ++p)
    if (*p != '.') digits[n++] = *p;
  ++p;  // 'e'
  const bool exp_negative = *p == '-';
  ++p;
  int exp10 = 0;
  for (; p != sci_end; ++p) exp10 = exp10 * 10 + (*p - '0');
  if (exp_negative) exp10 = -exp10;

  // value = 0.d1d2...dn * 10^point. Plain notation from 0.0001 to below 1e15, where the
  // numbers people read fall (coordinates, DPI, scores: 1000.0, not 1e3), exponent
  // notation outside it: 1e-5, 1.8446744073709552e19. The digits are the shortest that
  // read back to the same double either way; the exponent has no sign for positive powers
  // and no padding.
  const int point = exp10 + 1;
  if (point > -4 && point <= 15) {
    if (point <= 0) {
      out.append("0.", 2);
      out.append(static_cast<std::size_t>(-point), '0');
      out.append(digits, static_cast<std::size_t>(n));
    } else if (point < n) {
      out.append(digits, static_cast<std::size_t>(point));
      out.push_back('.');
      out.append(digits + point, static_cast<std::size_t>(n - point));
    } else {
      out.append(digits, static_cast<std::size_t>(n));
      out.append(static_cast<std::size_t>(point - n), '0');
      out.append(".0", 2);
    }
    return;
  }
  out.push_back(digits[0]);
  if (n > 1) {
    out.push_back('.');
    out.append(digits + 1, static_cast<std::size_t>(n - 1));
  }
  out.push_back('e');
  char exp_text[8];
  const auto exp_result = std::to_chars(exp_text, exp_text + sizeof exp_text, exp10);
  out.append(exp_text, static_cast<std::size_t>(exp_result.ptr - exp_text));
}

template <typename Int>
void write_integer(Int value, std::string& out) {
  char buf[24];
  const auto result = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, static_cast<std::size_t>(result.ptr - buf));
}

void write_value(const json& value, std::string& out) {
  switch (value.type()) {
    case json::value_t::null:
      out.append("null", 4);
      return;
    case json::value_t::boolean:
      if (value.get<bool>())
        out.append("true", 4);
      else
        out.append("false", 5);
      return;
    case json::value_t::number_integer:
      write_integer(value.get<json::number_integer_t>(), out);
      return;
    case json::value_t::number_unsigned:
      write_integer(value.get<json::number_unsigned_t>(), out);
      return;
    case json::value_t::number_float:
      write_float(value.get<json::number_float_t>(), out);
      return;
    case json::value_t::string:
      write_string(value.get_ref<const std::string&>(), out);
      return;
    case json::value_t::array: {
      out.push_back('[');
      bool first = true;
      for (const auto& item : value.get_ref<const json::array_t&>()) {
        if (!first) out.push_back(',');
        first = false;
        write_value(item, out);
      }
      out.push_back(']');
      return;
    }
    case json::value_t::object: {
      out.push_back('{');
      bool first = true;
      for (const auto& [key, item] : value.get_ref<const json::object_t&>()) {
        if (!first) out.push_back(',');
        first = false;
        write_string(key, out);
        out.push_back(':');
        write_value(item, out);
      }
      out.push_back('}');
      return;
    }
    // Byte arrays and the parser's "discarded" marker never reach the writer from our
    // own code; null keeps the output valid JSON if one ever does.
    case json::value_t::binary:
    case json::value_t::discarded:
      out.append("null", 4);
      return;
  }
  out.append("null", 4);
}

}  // namespace

namespace json_detail {
bool well_formed_utf8(std::string_view text) { return valid_utf8(text.data(), text.data() + text.size()); }

}  // namespace json_detail

bool parse_json(std::string_view text, json& out) {
  Parser parser(text.data(), text.data() + text.size());
  return parser.parse(out);
}

void write_json(const json& value, std::string& out) {
  out.reserve(out.size() + estimate_size(value));
  write_value(value, out);
}

}  // namespace quorvane
