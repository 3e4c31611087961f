// The SSE2 kernels (the x86-64 baseline, always present), then the SSSE3 ones, which
// gather the bytes of interleaved pixels with shuffles.
#include <immintrin.h>

#include "simd.h"

#define LUMETRA_TARGET
#include "simd_vector.h"

namespace lumetra::detail {
namespace {

struct Sse2 {
  static constexpr std::size_t kLanes = 4;
  using I = __m128i;
  static I zero() { return _mm_setzero_si128(); }
  static I set1(std::uint32_t v) { return _mm_set1_epi32(static_cast<int>(v)); }
  static I load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
  static void store(std::uint32_t* p, I v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
  static I madd(I acc, I a, I b) { return _mm_add_epi32(acc, _mm_madd_epi16(a, b)); }
  static std::uint32_t hsum(I v) { return hsum_128(v); }

  using F = __m128;
  static F fzero() { return _mm_setzero_ps(); }
  static F fset1(float v) { return _mm_set1_ps(v); }
  static F fadd(F a, F b) { return _mm_add_ps(a, b); }
  static F fmul(F a, F b) { return _mm_mul_ps(a, b); }
  static void fstore(float* p, F v) { _mm_storeu_ps(p, v); }
  // Sixteen bytes in one load, widened by unpacking.
  static void widen4(const std::uint8_t* p, F out[4]) {
    const __m128i z = _mm_setzero_si128();
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i lo = _mm_unpacklo_epi8(b, z), hi = _mm_unpackhi_epi8(b, z);
    out[0] = _mm_cvtepi32_ps(_mm_unpacklo_epi16(lo, z));
    out[1] = _mm_cvtepi32_ps(_mm_unpackhi_epi16(lo, z));
    out[2] = _mm_cvtepi32_ps(_mm_unpacklo_epi16(hi, z));
    out[3] = _mm_cvtepi32_ps(_mm_unpackhi_epi16(hi, z));
  }
};

// Gathers byte 3i + ch of 48 interleaved bytes into lane i, for each channel, from the
// three 16-byte parts.
struct Deinterleave {
  __m128i r0, r1, r2, g0, g1, g2, b0, b1, b2;
  __attribute__((target("ssse3"))) Deinterleave()
      : r0(_mm_setr_epi8(0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1)),
        r1(_mm_setr_epi8(-1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14, -1, -1, -1, -1, -1)),
        r2(_mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 1, 4, 7, 10, 13)),
        g0(_mm_setr_epi8(1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1)),
        g1(_mm_setr_epi8(-1, -1, -1, -1, -1, 0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1)),
        g2(_mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14)),
        b0(_mm_setr_epi8(2, 5, 8, 11, 14, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1)),
        b1(_mm_setr_epi8(-1, -1, -1, -1, -1, 1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1)),
        b2(_mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 3, 6, 9, 12, 15)) {}
  __attribute__((target("ssse3"))) void operator()(__m128i v0, __m128i v1, __m128i v2, __m128i& r, __m128i& g,
                                                   __m128i& b) const {
    r = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(v0, r0), _mm_shuffle_epi8(v1, r1)), _mm_shuffle_epi8(v2, r2));
    g = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(v0, g0), _mm_shuffle_epi8(v1, g1)), _mm_shuffle_epi8(v2, g2));
    b = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(v0, b0), _mm_shuffle_epi8(v1, b1)), _mm_shuffle_epi8(v2, b2));
  }
};

}  // namespace

LUMETRA_TARGET void vresize_sse2(const std::uint8_t* const* rows, const float* weights, std::size_t ntaps, float* out,
                                 std::size_t n) {
  vresize_kernel<Sse2, vresize_scalar>(rows, weights, ntaps, out, n);
}

// All three channels of a pixel in one vector, so every tap is one multiply and one add.
void hresize_sse2(const float* mid, const std::uint32_t* first, const std::uint32_t* count, const std::size_t* offset,
                  const float* weights, std::uint32_t width, std::uint8_t* out) {
  for (std::uint32_t x = 0; x < width; ++x) {
    const float* w = weights + offset[x];
    const float* m = mid + 3 * static_cast<std::size_t>(first[x]);
    __m128 acc = _mm_setzero_ps();
    for (std::uint32_t k = 0; k < count[x]; ++k)
      acc = _mm_add_ps(acc, _mm_mul_ps(_mm_set1_ps(w[k]), _mm_loadu_ps(m + 3 * k)));
    store_rgb(acc, out + 3 * x);
  }
}

namespace {

__attribute__((target("ssse3"))) void split_ssse3(const std::uint8_t* rgb, std::size_t pixels, std::uint8_t* r,
                                                  std::uint8_t* g, std::uint8_t* b) {
  const Deinterleave split;
  std::size_t i = 0;
  for (; i + 16 <= pixels; i += 16) {
    const auto* p = reinterpret_cast<const __m128i*>(rgb + 3 * i);
    __m128i vr, vg, vb;
    split(_mm_loadu_si128(p), _mm_loadu_si128(p + 1), _mm_loadu_si128(p + 2), vr, vg, vb);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(r + i), vr);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(g + i), vg);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(b + i), vb);
  }
  split_scalar(rgb + 3 * i, pixels - i, r + i, g + i, b + i);
}

// Byte-wise |x - c| <= tol for 48 interleaved bytes, then the three channel flags of each
// pixel gathered and combined. Sixteen pixels per step.
__attribute__((target("ssse3"))) void mask_ssse3(const std::uint8_t* rgb, std::size_t pixels,
                                                 const std::uint8_t color[3], std::uint8_t tol, std::uint8_t* out) {
  alignas(16) std::uint8_t pat[48];
  for (int i = 0; i < 48; ++i) pat[i] = color[i % 3];
  const __m128i c0 = _mm_load_si128(reinterpret_cast<const __m128i*>(pat));
  const __m128i c1 = _mm_load_si128(reinterpret_cast<const __m128i*>(pat + 16));
  const __m128i c2 = _mm_load_si128(reinterpret_cast<const __m128i*>(pat + 32));
  const __m128i t = _mm_set1_epi8(static_cast<char>(tol));
  const __m128i zero = _mm_setzero_si128();
  const __m128i one = _mm_set1_epi8(1);
  const Deinterleave split;
  auto within = [&](__m128i v, __m128i c) {
    const __m128i d = _mm_or_si128(_mm_subs_epu8(v, c), _mm_subs_epu8(c, v));
    return _mm_cmpeq_epi8(_mm_subs_epu8(d, t), zero);
  };
  std::size_t i = 0;
  for (; i + 16 <= pixels; i += 16) {
    const auto* p = reinterpret_cast<const __m128i*>(rgb + 3 * i);
    const __m128i f0 = within(_mm_loadu_si128(p), c0);
    const __m128i f1 = within(_mm_loadu_si128(p + 1), c1);
    const __m128i f2 = within(_mm_loadu_si128(p + 2), c2);
    __m128i fr, fg, fb;
    split(f0, f1, f2, fr, fg, fb);
    const __m128i all = _mm_and_si128(_mm_and_si128(fr, fg), fb);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_and_si128(all, one));
  }
  mask_scalar(rgb + 3 * i, pixels - i, color, tol, out + i);
}

}  // namespace

void use_sse2_kernels(Kernels& k) {
  k.row = row_kernel<Sse2>;
  k.dot = dot_kernel<Sse2>;
  k.vresize = vresize_sse2;
  k.hresize = hresize_sse2;
}

void use_ssse3_kernels(Kernels& k) {
  k.mask = mask_ssse3;
  k.split = split_ssse3;
}

}  // namespace lumetra::detail
