// The SSE2 kernels: the x86-64 baseline, always present.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "cv/png_kernels.h"

namespace quorvane::cv {
namespace {

struct Sse2Vector {
  using T = __m128i;
  static constexpr std::size_t kWidth = 16;
  static T zero() { return _mm_setzero_si128(); }
  static T set1(int v) { return _mm_set1_epi8(static_cast<char>(v)); }
  static T load(const std::uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
  static void store(std::uint8_t* p, T v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
  static T sub(T a, T b) { return _mm_sub_epi8(a, b); }
  static T subs(T a, T b) { return _mm_subs_epu8(a, b); }
  static T adds(T a, T b) { return _mm_adds_epu8(a, b); }
  static T avg(T a, T b) { return _mm_avg_epu8(a, b); }
  static T band(T a, T b) { return _mm_and_si128(a, b); }
  static T bor(T a, T b) { return _mm_or_si128(a, b); }
  static T bxor(T a, T b) { return _mm_xor_si128(a, b); }
  static T eq(T a, T b) { return _mm_cmpeq_epi8(a, b); }
  static T le(T a, T b) { return _mm_cmpeq_epi8(_mm_min_epu8(a, b), a); }
  static T select(T mask, T a, T b) { return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b)); }
  // |r| as signed bytes is min(r, -r) as unsigned ones (128 for -128).
  static T sad_magnitude(T r) {
    const T m = _mm_min_epu8(r, _mm_sub_epi8(zero(), r));
    return _mm_sad_epu8(m, zero());
  }
  static T add64(T a, T b) { return _mm_add_epi64(a, b); }
  static std::uint64_t hsum64(T v) {
    return static_cast<std::uint64_t>(_mm_cvtsi128_si64(v)) +
           static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(v, v)));
  }
  static T add32(T a, T b) { return _mm_add_epi32(a, b); }
  static T sad(T d) { return _mm_sad_epu8(d, zero()); }
  static T weighted(T d) {
    const T lo = _mm_unpacklo_epi8(d, zero());
    const T hi = _mm_unpackhi_epi8(d, zero());
    return _mm_add_epi32(_mm_madd_epi16(lo, _mm_set_epi16(9, 10, 11, 12, 13, 14, 15, 16)),
                         _mm_madd_epi16(hi, _mm_set_epi16(1, 2, 3, 4, 5, 6, 7, 8)));
  }
  static std::uint64_t hsum32(T v) {
    alignas(16) std::uint32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), v);
    return std::uint64_t{lanes[0]} + lanes[1] + lanes[2] + lanes[3];
  }
};

}  // namespace
}  // namespace quorvane::cv

#define QUORVANE_PNG_VECTOR Sse2Vector
#include "cv/png_kernels_impl.h"

namespace quorvane::cv::kernels {
const PngKernels kSse2 = {filter_row, adler32};
}  // namespace quorvane::cv::kernels
