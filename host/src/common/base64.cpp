#include "common/base64.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "lumetra/cpu.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define QUORVANE_BASE64_X86 1
#include <immintrin.h>
#else
#define QUORVANE_BASE64_X86 0
#endif

namespace quorvane {

namespace {

using lumetra::cpu::Level;

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t kInvalid = 0xFF;

constexpr std::array<std::uint8_t, 256> make_decode_table() {
  std::array<std::uint8_t, 256> table{};
  for (auto& v : table) v = kInvalid;
  for (std::uint8_t i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = i;
  return table;
}
constexpr std::array<std::uint8_t, 256> kDecode = make_decode_table();

// Large inputs are converted through a small stack buffer and appended to the output:
// std::vector / std::string cannot grow without value-initialising, and zero-filling a
// multi-megabyte buffer before overwriting it would cost a whole extra pass over fresh
// memory. The chunk stays in L1 between the two steps.
constexpr std::size_t kDecodeChunkIn = 8192;  // multiple of 4 and of 32
constexpr std::size_t kDecodeChunkOut = kDecodeChunkIn / 4 * 3;
constexpr std::size_t kEncodeChunkIn = 6144;  // multiple of 3, 12 and 24
constexpr std::size_t kEncodeChunkOut = kEncodeChunkIn / 3 * 4;
constexpr std::size_t kSimdSlack = 32;  // vector stores overshoot

constexpr std::size_t kNoError = static_cast<std::size_t>(-1);

// --- Plain C++ ------------------------------------------------------------------------

// Decodes whole groups of four symbols (no padding allowed). Returns the index of the
// first symbol outside the alphabet, or kNoError.
std::size_t decode_groups_scalar(const std::uint8_t* src, std::size_t len, std::uint8_t* dst) {
  for (std::size_t i = 0; i < len; i += 4) {
    const std::uint32_t a = kDecode[src[i]], b = kDecode[src[i + 1]], c = kDecode[src[i + 2]], d = kDecode[src[i + 3]];
    if (((a | b | c | d) & 0x80) != 0) {  // valid values are below 64, kInvalid has the top bit
      for (std::size_t k = 0; k < 4; ++k)
        if (kDecode[src[i + k]] == kInvalid) return i + k;
    }
    const std::uint32_t v = (a << 18) | (b << 12) | (c << 6) | d;
    dst[0] = static_cast<std::uint8_t>(v >> 16);
    dst[1] = static_cast<std::uint8_t>(v >> 8);
    dst[2] = static_cast<std::uint8_t>(v);
    dst += 3;
  }
  return kNoError;
}

// Encodes whole groups of three bytes.
void encode_groups_scalar(const std::uint8_t* src, std::size_t len, char* dst) {
  for (std::size_t i = 0; i < len; i += 3) {
    const std::uint32_t v = (std::uint32_t{src[i]} << 16) | (std::uint32_t{src[i + 1]} << 8) | src[i + 2];
    dst[0] = kAlphabet[v >> 18];
    dst[1] = kAlphabet[(v >> 12) & 63];
    dst[2] = kAlphabet[(v >> 6) & 63];
    dst[3] = kAlphabet[v & 63];
    dst += 4;
  }
}

#if QUORVANE_BASE64_X86

// The vector codecs follow the well-known pshufb formulation: symbols are validated and
// mapped through two nibble-indexed lookup tables, then packed with multiply-add; bytes
// are spread into 6-bit fields with multiplies and mapped back with one table of offsets.
// Every helper is always_inline so that 256-bit values never travel through memory: the
// 64-bit Windows ABI does not align the stack to 32 bytes for spills.
#define QV_SSSE3 __attribute__((target("ssse3"), always_inline)) inline
#define QV_AVX2 __attribute__((target("avx2"), always_inline)) inline

// Returns false when any of the 16 symbols is outside the alphabet ('=' included).
QV_SSSE3 bool decode16_ssse3(const std::uint8_t* src, std::uint8_t* dst) {
  const __m128i lut_lo =
      _mm_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
  const __m128i lut_hi =
      _mm_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
  const __m128i lut_roll = _mm_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m128i mask_2f = _mm_set1_epi8(0x2F);

  __m128i str = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
  const __m128i hi_nibbles = _mm_and_si128(_mm_srli_epi32(str, 4), mask_2f);
  const __m128i lo_nibbles = _mm_and_si128(str, mask_2f);
  const __m128i hi = _mm_shuffle_epi8(lut_hi, hi_nibbles);
  const __m128i lo = _mm_shuffle_epi8(lut_lo, lo_nibbles);
  if (_mm_movemask_epi8(_mm_cmpgt_epi8(_mm_and_si128(lo, hi), _mm_setzero_si128())) != 0) return false;

  const __m128i eq_2f = _mm_cmpeq_epi8(str, mask_2f);
  const __m128i roll = _mm_shuffle_epi8(lut_roll, _mm_add_epi8(eq_2f, hi_nibbles));
  str = _mm_add_epi8(str, roll);
  const __m128i merged = _mm_maddubs_epi16(str, _mm_set1_epi32(0x01400140));
  const __m128i packed = _mm_madd_epi16(merged, _mm_set1_epi32(0x00011000));
  const __m128i out = _mm_shuffle_epi8(packed, _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), out);  // 12 bytes used, 4 overshoot
  return true;
}

__attribute__((target("ssse3"))) std::size_t decode_groups_ssse3(const std::uint8_t* src, std::size_t len,
                                                                 std::uint8_t* dst) {
  std::size_t i = 0;
  while (i + 16 <= len && decode16_ssse3(src + i, dst)) {
    i += 16;
    dst += 12;
  }
  const std::size_t bad = decode_groups_scalar(src + i, len - i, dst);
  return bad == kNoError ? kNoError : i + bad;
}

QV_SSSE3 __m128i encode12_ssse3(__m128i in) {
  in = _mm_shuffle_epi8(in, _mm_set_epi8(10, 11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1));
  const __m128i t0 = _mm_and_si128(in, _mm_set1_epi32(0x0FC0FC00));
  const __m128i t1 = _mm_mulhi_epu16(t0, _mm_set1_epi32(0x04000040));
  const __m128i t2 = _mm_and_si128(in, _mm_set1_epi32(0x003F03F0));
  const __m128i t3 = _mm_mullo_epi16(t2, _mm_set1_epi32(0x01000010));
  const __m128i indices6 = _mm_or_si128(t1, t3);
  // Map 0..63 to the alphabet by adding a per-range offset picked with pshufb.
  const __m128i lut = _mm_setr_epi8(65, 71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 0, 0);
  __m128i idx = _mm_subs_epu8(indices6, _mm_set1_epi8(51));
  idx = _mm_sub_epi8(idx, _mm_cmpgt_epi8(indices6, _mm_set1_epi8(25)));
  return _mm_add_epi8(indices6, _mm_shuffle_epi8(lut, idx));
}

// `readable` is how many bytes may be loaded from src (a vector load takes 16 bytes but
// consumes only 12).
__attribute__((target("ssse3"))) void encode_groups_ssse3(const std::uint8_t* src, std::size_t len,
                                                          std::size_t readable, char* dst) {
  std::size_t i = 0;
  while (i + 12 <= len && i + 16 <= readable) {
    const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), encode12_ssse3(in));
    i += 12;
    dst += 16;
  }
  encode_groups_scalar(src + i, len - i, dst);
}

QV_AVX2 bool decode32_avx2(const std::uint8_t* src, std::uint8_t* dst) {
  const __m256i lut_lo =
      _mm256_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A,
                       0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
  const __m256i lut_hi =
      _mm256_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10,
                       0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
  const __m256i lut_roll = _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 19, 4, -65,
                                            -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i mask_2f = _mm256_set1_epi8(0x2F);

  __m256i str = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
  const __m256i hi_nibbles = _mm256_and_si256(_mm256_srli_epi32(str, 4), mask_2f);
  const __m256i lo_nibbles = _mm256_and_si256(str, mask_2f);
  const __m256i hi = _mm256_shuffle_epi8(lut_hi, hi_nibbles);
  const __m256i lo = _mm256_shuffle_epi8(lut_lo, lo_nibbles);
  if (!_mm256_testz_si256(lo, hi)) return false;

  const __m256i eq_2f = _mm256_cmpeq_epi8(str, mask_2f);
  const __m256i roll = _mm256_shuffle_epi8(lut_roll, _mm256_add_epi8(eq_2f, hi_nibbles));
  str = _mm256_add_epi8(str, roll);
  const __m256i merged = _mm256_maddubs_epi16(str, _mm256_set1_epi32(0x01400140));
  const __m256i packed = _mm256_madd_epi16(merged, _mm256_set1_epi32(0x00011000));
  __m256i out = _mm256_shuffle_epi8(packed, _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2,
                                                             1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
  out = _mm256_permutevar8x32_epi32(out, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), out);  // 24 bytes used, 8 overshoot
  return true;
}

__attribute__((target("avx2"))) std::size_t decode_groups_avx2(const std::uint8_t* src, std::size_t len,
                                                               std::uint8_t* dst) {
  std::size_t i = 0;
  while (i + 32 <= len && decode32_avx2(src + i, dst)) {
    i += 32;
    dst += 24;
  }
  const std::size_t bad = decode_groups_ssse3(src + i, len - i, dst);
  return bad == kNoError ? kNoError : i + bad;
}

QV_AVX2 __m256i encode24_avx2(__m256i in) {
  in = _mm256_shuffle_epi8(in, _mm256_set_epi8(10, 11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1, 10, 11, 9, 10, 7, 8,
                                               6, 7, 4, 5, 3, 4, 1, 2, 0, 1));
  const __m256i t0 = _mm256_and_si256(in, _mm256_set1_epi32(0x0FC0FC00));
  const __m256i t1 = _mm256_mulhi_epu16(t0, _mm256_set1_epi32(0x04000040));
  const __m256i t2 = _mm256_and_si256(in, _mm256_set1_epi32(0x003F03F0));
  const __m256i t3 = _mm256_mullo_epi16(t2, _mm256_set1_epi32(0x01000010));
  const __m256i indices6 = _mm256_or_si256(t1, t3);
  const __m256i lut = _mm256_setr_epi8(65, 71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 0, 0, 65, 71, -4, -4,
                                       -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 0, 0);
  __m256i idx = _mm256_subs_epu8(indices6, _mm256_set1_epi8(51));
  idx = _mm256_sub_epi8(idx, _mm256_cmpgt_epi8(indices6, _mm256_set1_epi8(25)));
  return _mm256_add_epi8(indices6, _mm256_shuffle_epi8(lut, idx));
}

__attribute__((target("avx2"))) void encode_groups_avx2(const std::uint8_t* src, std::size_t len, std::size_t readable,
                                                        char* dst) {
  std::size_t i = 0;
  // Each 128-bit lane takes 12 input bytes; the upper lane's load starts 12 bytes on.
  while (i + 24 <= len && i + 28 <= readable) {
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 12));
    const __m256i in = _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), encode24_avx2(in));
    i += 24;
    dst += 32;
  }
  encode_groups_ssse3(src + i, len - i, readable - i, dst);
}

#undef QV_SSSE3
#undef QV_AVX2

#endif

std::size_t decode_groups(Level level, const std::uint8_t* src, std::size_t len, std::uint8_t* dst) {
#if QUORVANE_BASE64_X86
  if (level >= Level::Avx2) return decode_groups_avx2(src, len, dst);
  if (level >= Level::Ssse3) return decode_groups_ssse3(src, len, dst);
#endif
  (void)level;
  return decode_groups_scalar(src, len, dst);
}

void encode_groups(Level level, const std::uint8_t* src, std::size_t len, std::size_t readable, char* dst) {
#if QUORVANE_BASE64_X86
  if (level >= Level::Avx2) return encode_groups_avx2(src, len, readable, dst);
  if (level >= Level::Ssse3) return encode_groups_ssse3(src, len, readable, dst);
#endif
  (void)level;
  (void)readable;
  encode_groups_scalar(src, len, dst);
}

std::string invalid_symbol(std::uint8_t byte, std::size_t offset) {
  return "Invalid symbol " + std::to_string(byte) + ", offset " + std::to_string(offset) + ".";
}

std::optional<std::string> decode_impl(Level level, std::string_view text, std::vector<std::uint8_t>& out) {
  out.clear();
  const std::size_t n = text.size();
  if (n == 0) return std::nullopt;
  const auto* src = reinterpret_cast<const std::uint8_t*>(text.data());

  // Everything before the final group (the last four characters, or the last one to
  // three when the length is not a multiple of four) must be plain symbols.
  const std::size_t rem = n % 4;
  const std::size_t body = rem != 0 ? n - rem : n - 4;
  out.reserve(body / 4 * 3 + 3);

  std::uint8_t buf[kDecodeChunkOut + kSimdSlack];
  for (std::size_t i = 0; i < body;) {
    const std::size_t take = std::min(body - i, kDecodeChunkIn);
    const std::size_t bad = decode_groups(level, src + i, take, buf);
    if (bad != kNoError) {
      out.clear();
      return invalid_symbol(src[i + bad], i + bad);
    }
    out.insert(out.end(), buf, buf + take / 4 * 3);
    i += take;
  }

  // The final group: up to four characters, '=' only in its third and fourth place and
  // never followed by a symbol.
  std::uint32_t values[4] = {0, 0, 0, 0};
  std::size_t symbols = 0, pads = 0, first_pad = 0;
  for (std::size_t k = 0; body + k < n; ++k) {
    const std::size_t offset = body + k;
    const std::uint8_t c = src[offset];
    if (c == '=') {
      if (k < 2) {
        out.clear();
        return invalid_symbol(c, offset);
      }
      if (pads++ == 0) first_pad = offset;
      continue;
    }
    if (pads != 0) {
      out.clear();
      return invalid_symbol('=', first_pad);
    }
    const std::uint8_t v = kDecode[c];
    if (v == kInvalid) {
      out.clear();
      return invalid_symbol(c, offset);
    }
    values[symbols++] = v;
  }
  if (symbols < 2) {  // only reachable with one lone symbol: '=' in place 0 or 1 failed above
    out.clear();
    return "Invalid input length: " + std::to_string(body + symbols);
  }
  if (symbols + pads != 4) {
    out.clear();
    return std::string("Invalid padding");
  }
  const std::uint32_t bits = (values[0] << 18) | (values[1] << 12) | (values[2] << 6) | values[3];
  const std::size_t bytes = symbols - 1;  // 2 symbols -> 1 byte, 3 -> 2, 4 -> 3
  const std::uint32_t unused = bits & (0xFFFFFFu >> (bytes * 8));
  if (unused != 0) {
    out.clear();
    const std::size_t last = body + symbols - 1;
    return "Invalid last symbol " + std::to_string(src[last]) + ", offset " + std::to_string(last) + ".";
  }
  for (std::size_t b = 0; b < bytes; ++b) out.push_back(static_cast<std::uint8_t>(bits >> (16 - 8 * b)));
  return std::nullopt;
}

void encode_append_impl(Level level, const void* data, std::size_t size, std::string& out) {
  const auto* src = static_cast<const std::uint8_t*>(data);
  out.reserve(out.size() + (size + 2) / 3 * 4);

  const std::size_t whole = size - size % 3;
  char buf[kEncodeChunkOut + kSimdSlack];
  for (std::size_t i = 0; i < whole;) {
    const std::size_t take = std::min(whole - i, kEncodeChunkIn);
    encode_groups(level, src + i, take, size - i, buf);
    out.append(buf, take / 3 * 4);
    i += take;
  }

  const std::size_t tail = size - whole;
  if (tail != 0) {
    const std::uint32_t v = (std::uint32_t{src[whole]} << 16) | (tail == 2 ? std::uint32_t{src[whole + 1]} << 8 : 0);
    const char last[4] = {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], tail == 2 ? kAlphabet[(v >> 6) & 63] : '=',
                          '='};
    out.append(last, 4);
  }
}

}  // namespace

std::string base64_encode(const void* data, std::size_t size) {
  std::string out;
  encode_append_impl(lumetra::cpu::level(), data, size, out);
  return out;
}

void base64_encode_append(const void* data, std::size_t size, std::string& out) {
  encode_append_impl(lumetra::cpu::level(), data, size, out);
}

Result<void> base64_decode(std::string_view text, std::vector<std::uint8_t>& out) {
  if (std::optional<std::string> reason = decode_impl(lumetra::cpu::level(), text, out))
    return fail(std::move(*reason));
  return {};
}

}  // namespace quorvane
