// The AVX2 kernels, and the score finalisers in double precision, four cells at a time.
#include <immintrin.h>

#include "simd.h"

#define LUMETRA_TARGET __attribute__((target("avx2")))
#include "simd_vector.h"

namespace lumetra::detail {
namespace {

struct Avx2 {
  static constexpr std::size_t kLanes = 8;
  using I = __m256i;
  LUMETRA_TARGET static I zero() { return _mm256_setzero_si256(); }
  LUMETRA_TARGET static I set1(std::uint32_t v) { return _mm256_set1_epi32(static_cast<int>(v)); }
  LUMETRA_TARGET static I load(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
  LUMETRA_TARGET static void store(std::uint32_t* p, I v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
  LUMETRA_TARGET static I madd(I acc, I a, I b) { return _mm256_add_epi32(acc, _mm256_madd_epi16(a, b)); }
  LUMETRA_TARGET static std::uint32_t hsum(I v) {
    return hsum_128(_mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)));
  }

  using F = __m256;
  LUMETRA_TARGET static F fzero() { return _mm256_setzero_ps(); }
  LUMETRA_TARGET static F fset1(float v) { return _mm256_set1_ps(v); }
  LUMETRA_TARGET static F fadd(F a, F b) { return _mm256_add_ps(a, b); }
  LUMETRA_TARGET static F fmul(F a, F b) { return _mm256_mul_ps(a, b); }
  LUMETRA_TARGET static void fstore(float* p, F v) { _mm256_storeu_ps(p, v); }
  // Eight bytes per vector, zero-extended to 32 bits.
  LUMETRA_TARGET static void widen4(const std::uint8_t* p, F out[4]) {
    for (int j = 0; j < 4; ++j) {
      const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 8 * j));
      out[j] = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(b));
    }
  }
};

// Two pixels per vector, one in each half, whenever neighbours have as many taps (all but
// the edges); each half repeats the single-pixel sequence exactly.
LUMETRA_TARGET void hresize_avx2(const float* mid, const std::uint32_t* first, const std::uint32_t* count,
                                 const std::size_t* offset, const float* weights, std::uint32_t width,
                                 std::uint8_t* out) {
  std::uint32_t x = 0;
  while (x < width) {
    if (x + 1 < width && count[x] == count[x + 1]) {
      const float* w0 = weights + offset[x];
      const float* w1 = weights + offset[x + 1];
      const float* m0 = mid + 3 * static_cast<std::size_t>(first[x]);
      const float* m1 = mid + 3 * static_cast<std::size_t>(first[x + 1]);
      __m256 acc = _mm256_setzero_ps();
      for (std::uint32_t k = 0; k < count[x]; ++k) {
        const __m256 w = _mm256_set_m128(_mm_set1_ps(w1[k]), _mm_set1_ps(w0[k]));
        acc = _mm256_add_ps(acc, _mm256_mul_ps(w, _mm256_loadu2_m128(m1 + 3 * k, m0 + 3 * k)));
      }
      store_rgb(_mm256_castps256_ps128(acc), out + 3 * x);
      store_rgb(_mm256_extractf128_ps(acc, 1), out + 3 * x + 3);
      x += 2;
    } else {
      hresize_sse2(mid, first + x, count + x, offset + x, weights, 1, out + 3 * x);
      x += 1;
    }
  }
}

// score_from_sums four cells at a time. Division and square root are correctly rounded in
// every width, and each lane performs the scalar sequence of operations, so the bits agree.
LUMETRA_TARGET void finalize_avx2(const CellRow& row, const ScoreConsts& k, float* out, std::size_t n) {
  const __m256d zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1.0), minus_one = _mm256_set1_pd(-1.0);
  const __m256d nn = _mm256_set1_pd(k.n), norm = _mm256_set1_pd(k.norm), tiny = _mm256_set1_pd(1e-12);
  const __m256d mean[3] = {_mm256_set1_pd(k.mean[0]), _mm256_set1_pd(k.mean[1]), _mm256_set1_pd(k.mean[2])};
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    __m256d e = zero, num = zero;
    for (int c = 0; c < 3; ++c) {
      const __m256d s = _mm256_loadu_pd(row.s[c] + i);
      const __m256d v = _mm256_sub_pd(_mm256_loadu_pd(row.q[c] + i), _mm256_div_pd(_mm256_mul_pd(s, s), nn));
      e = _mm256_add_pd(e, _mm256_max_pd(v, zero));
      num = _mm256_add_pd(num, _mm256_sub_pd(_mm256_loadu_pd(row.p[c] + i), _mm256_mul_pd(mean[c], s)));
    }
    __m256d score = _mm256_div_pd(num, _mm256_mul_pd(_mm256_sqrt_pd(e), norm));
    score = _mm256_min_pd(_mm256_max_pd(score, minus_one), one);
    score = _mm256_blendv_pd(score, zero, _mm256_cmp_pd(e, tiny, _CMP_LT_OQ));
    _mm_storeu_ps(out + i, _mm256_cvtpd_ps(score));
  }
  if (i < n) {
    const CellRow rest{{row.s[0] + i, row.s[1] + i, row.s[2] + i},
                       {row.q[0] + i, row.q[1] + i, row.q[2] + i},
                       {row.p[0] + i, row.p[1] + i, row.p[2] + i}};
    finalize_scalar(rest, k, out + i, n - i);
  }
}

LUMETRA_TARGET void prune_avx2(const SplitRow& row, const SplitConsts& k, std::uint8_t* alive, std::size_t n) {
  const ScoreConsts& sc = k.score;
  const __m256d zero = _mm256_setzero_pd(), two = _mm256_set1_pd(2.0), nn = _mm256_set1_pd(sc.n);
  const __m256d na = _mm256_set1_pd(k.na), nb = _mm256_set1_pd(k.nb), ebt = _mm256_set1_pd(k.energy_b);
  const __m256d th = _mm256_set1_pd(k.threshold), norm = _mm256_set1_pd(sc.norm), tiny = _mm256_set1_pd(1e-12);
  const __m256d slack0 = _mm256_set1_pd(k.sum_slack), eps = _mm256_set1_pd(kSumAllowance);
  const __m256d allow = _mm256_set1_pd(kEnergyAllowance);
  const bool zero_reaches = 0.0 >= k.threshold + kScoreAllowance;
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    __m256d e = zero, exact = zero, eb = zero, qb = zero, scale = zero;
    for (int c = 0; c < 3; ++c) {
      const __m256d s = _mm256_loadu_pd(row.s[c] + i), q = _mm256_loadu_pd(row.q[c] + i);
      const __m256d sa = _mm256_loadu_pd(row.sa[c] + i), qa = _mm256_loadu_pd(row.qa[c] + i);
      e = _mm256_add_pd(e, _mm256_max_pd(_mm256_sub_pd(q, _mm256_div_pd(_mm256_mul_pd(s, s), nn)), zero));
      const __m256d a = _mm256_div_pd(s, nn);
      const __m256d mean = _mm256_set1_pd(sc.mean[c]);
      exact = _mm256_add_pd(
          exact, _mm256_add_pd(_mm256_sub_pd(_mm256_sub_pd(_mm256_loadu_pd(row.pa[c] + i), _mm256_mul_pd(mean, sa)),
                                             _mm256_mul_pd(a, _mm256_set1_pd(k.sa[c]))),
                               _mm256_mul_pd(_mm256_mul_pd(na, a), mean)));
      const __m256d dq = _mm256_sub_pd(q, qa);
      eb =
          _mm256_add_pd(eb, _mm256_add_pd(_mm256_sub_pd(dq, _mm256_mul_pd(_mm256_mul_pd(two, a), _mm256_sub_pd(s, sa))),
                                          _mm256_mul_pd(_mm256_mul_pd(nb, a), a)));
      qb = _mm256_add_pd(qb, dq);
      scale = _mm256_add_pd(scale, q);
    }
    const __m256d bound =
        _mm256_sqrt_pd(_mm256_mul_pd(_mm256_add_pd(_mm256_max_pd(eb, zero), _mm256_mul_pd(allow, qb)), ebt));
    const __m256d limit = _mm256_sub_pd(_mm256_mul_pd(_mm256_mul_pd(th, _mm256_sqrt_pd(e)), norm),
                                        _mm256_mul_pd(eps, _mm256_add_pd(scale, slack0)));
    const int reach = _mm256_movemask_pd(_mm256_cmp_pd(_mm256_add_pd(exact, bound), limit, _CMP_GE_OQ));
    const int flat = _mm256_movemask_pd(_mm256_cmp_pd(e, tiny, _CMP_LT_OQ));
    for (int j = 0; j < 4; ++j) alive[i + j] = (flat >> j & 1) ? zero_reaches : (reach >> j & 1);
  }
  if (i < n) {
    SplitRow rest = row;
    for (int c = 0; c < 3; ++c) {
      rest.s[c] += i;
      rest.q[c] += i;
      rest.sa[c] += i;
      rest.qa[c] += i;
      rest.pa[c] += i;
    }
    prune_scalar(rest, k, alive + i, n - i);
  }
}

}  // namespace

void use_avx2_kernels(Kernels& k) {
  k.row = row_kernel<Avx2>;
  k.dot = dot_kernel<Avx2>;
  k.vresize = vresize_kernel<Avx2, vresize_sse2>;
  k.hresize = hresize_avx2;
  k.finalize = finalize_avx2;
  k.prune = prune_avx2;
}

}  // namespace lumetra::detail
