// The AVX2 kernels. Only this file is compiled with -mavx2, and it calls nothing with
// external linkage, so no AVX2 instruction can reach a processor without them.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "cv/png_kernels.h"

namespace quorvane::cv {
namespace {

struct Avx2Vector {
  using T = __m256i;
  static constexpr std::size_t kWidth = 32;
  static T zero() { return _mm256_setzero_si256(); }
  static T set1(int v) { return _mm256_set1_epi8(static_cast<char>(v)); }
  static T load(const std::uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
  static void store(std::uint8_t* p, T v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
  static T sub(T a, T b) { return _mm256_sub_epi8(a, b); }
  static T subs(T a, T b) { return _mm256_subs_epu8(a, b); }
  static T adds(T a, T b) { return _mm256_adds_epu8(a, b); }
  static T avg(T a, T b) { return _mm256_avg_epu8(a, b); }
  static T band(T a, T b) { return _mm256_and_si256(a, b); }
  static T bor(T a, T b) { return _mm256_or_si256(a, b); }
  static T bxor(T a, T b) { return _mm256_xor_si256(a, b); }
  static T eq(T a, T b) { return _mm256_cmpeq_epi8(a, b); }
  static T le(T a, T b) { return _mm256_cmpeq_epi8(_mm256_min_epu8(a, b), a); }
  static T select(T mask, T a, T b) { return _mm256_blendv_epi8(b, a, mask); }
  static T sad_magnitude(T r) { return _mm256_sad_epu8(_mm256_abs_epi8(r), zero()); }
  static T add64(T a, T b) { return _mm256_add_epi64(a, b); }
  static std::uint64_t hsum64(T v) {
    const __m128i s = _mm_add_epi64(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    return static_cast<std::uint64_t>(_mm_cvtsi128_si64(s)) +
           static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(s, s)));
  }
  static T add32(T a, T b) { return _mm256_add_epi32(a, b); }
  static T sad(T d) { return _mm256_sad_epu8(d, zero()); }
  // Bytes weighted 32..1: pairs summed into 16 bits (at most 255 * 63), then into 32.
  static T weighted(T d) {
    const T weights = _mm256_set_epi8(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23,
                                      24, 25, 26, 27, 28, 29, 30, 31, 32);
    return _mm256_madd_epi16(_mm256_maddubs_epi16(d, weights), _mm256_set1_epi16(1));
  }
  static std::uint64_t hsum32(T v) {
    std::uint32_t lanes[8];
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes), v);
    std::uint64_t sum = 0;
    for (std::uint32_t lane : lanes) sum += lane;
    return sum;
  }
};

}  // namespace
}  // namespace quorvane::cv

#define QUORVANE_PNG_VECTOR Avx2Vector
#include "cv/png_kernels_impl.h"

namespace quorvane::cv::kernels {
const PngKernels kAvx2 = {filter_row, adler32};
}  // namespace quorvane::cv::kernels
