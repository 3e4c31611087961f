// The kernels whose loops have the same shape at every vector width, written once over a
// vector type and instantiated by the file of each x86 level (simd_sse2.cpp,
// simd_avx2.cpp, simd_avx512.cpp).
//
// Include only from those files, after <immintrin.h> and after defining LUMETRA_TARGET as
// that level's target attribute. Everything here has internal linkage and carries that
// attribute: a shared inline function compiled for AVX2 could otherwise be the copy the
// linker keeps for a baseline caller. The level files are compiled at the baseline and
// name their level per function rather than per file for the same reason: the inline
// functions of the headers they include stay baseline code.
//
// A vector type V provides, for 32-bit lanes (kLanes of them):
//   I zero(); I set1(std::uint32_t); I load(const void*); void store(std::uint32_t*, I);
//   I madd(I acc, I a, I b)       acc + the 16-bit pairwise multiply-add of a and b
//   std::uint32_t hsum(I)         sum of the lanes modulo 2^32
// and for single-precision lanes (as many):
//   F fzero(); F fset1(float); F fadd(F, F); F fmul(F, F); void fstore(float*, F);
//   void widen4(const std::uint8_t* p, F out[4])   4 * kLanes bytes as floats
#pragma once

#ifndef LUMETRA_TARGET
#error "define LUMETRA_TARGET before including simd_vector.h"
#endif

#include <cstddef>
#include <cstdint>

#include "simd.h"

namespace lumetra::detail {
namespace {

LUMETRA_TARGET inline std::uint32_t hsum_128(__m128i v) {
  v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
  v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
  return static_cast<std::uint32_t>(_mm_cvtsi128_si32(v));
}

// One output pixel of a horizontal resampling pass, from a vector holding its three
// channels (the fourth lane is the next pixel's red and is discarded): clamped to
// [0, 255], rounded half up.
LUMETRA_TARGET inline void store_rgb(__m128 acc, std::uint8_t* out) {
  const __m128 lo = _mm_setzero_ps(), hi = _mm_set1_ps(255.0f), half = _mm_set1_ps(0.5f);
  acc = _mm_add_ps(_mm_min_ps(_mm_max_ps(acc, lo), hi), half);
  const __m128i i32 = _mm_cvttps_epi32(acc);
  const __m128i i8 = _mm_packus_epi16(_mm_packs_epi32(i32, i32), _mm_setzero_si128());
  const std::uint32_t bytes = static_cast<std::uint32_t>(_mm_cvtsi128_si32(i8));
  out[0] = static_cast<std::uint8_t>(bytes);
  out[1] = static_cast<std::uint8_t>(bytes >> 8);
  out[2] = static_cast<std::uint8_t>(bytes >> 16);
}

// Cross sums of `N` vectors of positions from x on (see RowKernel).
template <typename V, int N>
LUMETRA_TARGET inline void row_block(const std::uint32_t* const* rows, const std::uint32_t* taps, std::size_t nrows,
                                     std::size_t npairs, std::uint32_t* out, std::size_t x) {
  typename V::I acc[N];
  for (int j = 0; j < N; ++j) acc[j] = V::zero();
  for (std::size_t r = 0; r < nrows; ++r) {
    const std::uint32_t* row = rows[r] + x;
    const std::uint32_t* t = taps + r * npairs;
    for (std::size_t k = 0; k < npairs; ++k) {
      const typename V::I tk = V::set1(t[k]);
      const std::uint32_t* p = row + 2 * k;
      for (int j = 0; j < N; ++j) acc[j] = V::madd(acc[j], V::load(p + j * V::kLanes), tk);
    }
  }
  for (int j = 0; j < N; ++j) V::store(out + x + j * V::kLanes, acc[j]);
}

// Four vectors of positions per step; what is left (one to three vectors) in a step of
// just that many, so that narrow maps waste little: a refinement window's row of 17
// positions takes three vectors of eight, not four.
template <typename V>
LUMETRA_TARGET void row_kernel(const std::uint32_t* const* rows, const std::uint32_t* taps, std::size_t nrows,
                               std::size_t npairs, std::uint32_t* out, std::size_t count) {
  std::size_t x = 0;
  for (; x + 3 * V::kLanes < count; x += 4 * V::kLanes) row_block<V, 4>(rows, taps, nrows, npairs, out, x);
  const std::size_t left = x < count ? count - x : 0;  // the last step may pass the end
  if (left > 2 * V::kLanes) {
    row_block<V, 3>(rows, taps, nrows, npairs, out, x);
  } else if (left > V::kLanes) {
    row_block<V, 2>(rows, taps, nrows, npairs, out, x);
  } else if (left > 0) {
    row_block<V, 1>(rows, taps, nrows, npairs, out, x);
  }
}

// Adds the cross sums over samples [i0, i1) of every row, in vectors of W, at four
// neighbouring positions to acc0..acc3 (see DotKernel). Named accumulators, not an array:
// GCC spilled an array of them to the stack on every call, and a band of a few rows makes
// calls short and many.
template <typename W>
LUMETRA_TARGET inline void dot_range(const std::int16_t* img, std::size_t img_stride, const std::int16_t* tpl,
                                     std::size_t tpl_stride, std::size_t nrows, std::size_t i0, std::size_t i1,
                                     typename W::I& acc0, typename W::I& acc1, typename W::I& acc2,
                                     typename W::I& acc3) {
  for (std::size_t r = 0; r < nrows; ++r) {
    const std::int16_t* a = img + r * img_stride;
    const std::int16_t* b = tpl + r * tpl_stride;
    for (std::size_t i = i0; i < i1; i += 2 * W::kLanes) {
      const typename W::I t = W::load(b + i);
      acc0 = W::madd(acc0, W::load(a + i), t);
      acc1 = W::madd(acc1, W::load(a + i + 1), t);
      acc2 = W::madd(acc2, W::load(a + i + 2), t);
      acc3 = W::madd(acc3, W::load(a + i + 3), t);
    }
  }
}

// Four neighbouring positions, each template vector loaded once for all four (see
// DotKernel). The samples of a row go in whole vectors of V; a remainder narrower than V
// (only when V holds more than one block of sixteen) goes in vectors of H.
template <typename V, typename H = V>
LUMETRA_TARGET void dot_kernel(const std::int16_t* img, std::size_t img_stride, const std::int16_t* tpl,
                               std::size_t tpl_stride, std::size_t nrows, std::size_t nblocks, std::uint32_t out[4]) {
  const std::size_t n = 16 * nblocks, whole = n / (2 * V::kLanes) * (2 * V::kLanes);
  typename V::I a0 = V::zero(), a1 = a0, a2 = a0, a3 = a0;
  dot_range<V>(img, img_stride, tpl, tpl_stride, nrows, 0, whole, a0, a1, a2, a3);
  out[0] = V::hsum(a0);
  out[1] = V::hsum(a1);
  out[2] = V::hsum(a2);
  out[3] = V::hsum(a3);
  if constexpr (H::kLanes < V::kLanes) {
    typename H::I b0 = H::zero(), b1 = b0, b2 = b0, b3 = b0;
    dot_range<H>(img, img_stride, tpl, tpl_stride, nrows, whole, n, b0, b1, b2, b3);
    out[0] += H::hsum(b0);
    out[1] += H::hsum(b1);
    out[2] += H::hsum(b2);
    out[3] += H::hsum(b3);
  }
}

// Four vectors of samples per step, all taps summed in registers; each lane performs the
// scalar sequence (see VResizeKernel). The rest goes to the next narrower kernel.
template <typename V, VResizeKernel Narrower>
LUMETRA_TARGET void vresize_kernel(const std::uint8_t* const* rows, const float* weights, std::size_t ntaps, float* out,
                                   std::size_t n) {
  constexpr std::size_t kStep = 4 * V::kLanes;
  std::size_t i = 0;
  for (; i + kStep <= n; i += kStep) {
    typename V::F acc[4] = {V::fzero(), V::fzero(), V::fzero(), V::fzero()};
    for (std::size_t k = 0; k < ntaps; ++k) {
      const typename V::F w = V::fset1(weights[k]);
      typename V::F v[4];
      V::widen4(rows[k] + i, v);
      for (int j = 0; j < 4; ++j) acc[j] = V::fadd(acc[j], V::fmul(w, v[j]));
    }
    for (int j = 0; j < 4; ++j) V::fstore(out + i + j * V::kLanes, acc[j]);
  }
  vresize_from(i, Narrower, rows, weights, ntaps, out, n);
}

}  // namespace
}  // namespace lumetra::detail
