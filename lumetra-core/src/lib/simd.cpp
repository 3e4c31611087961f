#include "simd.h"

#include <atomic>

#if defined(__x86_64__) || defined(__i386__)
#define LUMETRA_X86 1
#include <immintrin.h>
#else
#define LUMETRA_X86 0
#endif

namespace lumetra::detail {

// ---------------------------------------------------------------------------------------
// Scalar definitions

void row_scalar(const std::uint32_t* const* rows, const std::uint32_t* taps, std::size_t nrows,
                std::size_t npairs, std::uint32_t* out, std::size_t count) {
  for (std::size_t x = 0; x < count; ++x) {
    std::uint32_t sum = 0;
    for (std::size_t r = 0; r < nrows; ++r) {
      const std::uint32_t* row = rows[r] + x;
      const std::uint32_t* t = taps + r * npairs;
      for (std::size_t k = 0; k < npairs; ++k) {
        const std::uint32_t s = row[2 * k];
        sum += (s & 0xFFFFu) * (t[k] & 0xFFFFu) + (s >> 16) * (t[k] >> 16);
      }
    }
    out[x] = sum;
  }
}

void dot_scalar(const std::int16_t* img, std::size_t img_stride, const std::int16_t* tpl, std::size_t tpl_stride,
                std::size_t nrows, std::size_t nblocks, std::uint32_t out[4]) {
  const std::size_t n = 16 * nblocks;
  for (int j = 0; j < 4; ++j) {
    std::uint32_t sum = 0;
    for (std::size_t r = 0; r < nrows; ++r) {
      const std::int16_t* a = img + r * img_stride + j;
      const std::int16_t* b = tpl + r * tpl_stride;
      for (std::size_t i = 0; i < n; ++i) sum += static_cast<std::uint32_t>(static_cast<std::int32_t>(a[i]) * b[i]);
    }
    out[j] = sum;
  }
}

void mask_scalar(const std::uint8_t* rgb, std::size_t pixels, const std::uint8_t color[3],
                 std::uint8_t tol, std::uint8_t* out) {
  for (std::size_t i = 0; i < pixels; ++i) {
    const std::uint8_t* p = rgb + 3 * i;
    const int dr = p[0] > color[0] ? p[0] - color[0] : color[0] - p[0];
    const int dg = p[1] > color[1] ? p[1] - color[1] : color[1] - p[1];
    const int db = p[2] > color[2] ? p[2] - color[2] : color[2] - p[2];
    out[i] = (dr <= tol && dg <= tol && db <= tol) ? 1 : 0;
  }
}

void vresize_scalar(const std::uint8_t* const* rows, const float* weights, std::size_t ntaps, float* out,
                    std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[i] = 0.0f;
  for (std::size_t k = 0; k < ntaps; ++k) {
    const std::uint8_t* row = rows[k];
    const float w = weights[k];
    for (std::size_t i = 0; i < n; ++i) out[i] += w * static_cast<float>(row[i]);
  }
}

namespace {

std::uint8_t round_to_u8(float v) {
  v = v < 0.0f ? 0.0f : v;
  v = v > 255.0f ? 255.0f : v;
  return static_cast<std::uint8_t>(v + 0.5f);
}

}  // namespace

void hresize_scalar(const float* mid, const std::uint32_t* first, const std::uint32_t* count,
                    const std::size_t* offset, const float* weights, std::uint32_t width, std::uint8_t* out) {
  for (std::uint32_t x = 0; x < width; ++x) {
    const float* w = weights + offset[x];
    const float* m = mid + 3 * static_cast<std::size_t>(first[x]);
    float r = 0.0f, g = 0.0f, b = 0.0f;
    for (std::uint32_t k = 0; k < count[x]; ++k) {
      r += w[k] * m[3 * k];
      g += w[k] * m[3 * k + 1];
      b += w[k] * m[3 * k + 2];
    }
    out[3 * x] = round_to_u8(r);
    out[3 * x + 1] = round_to_u8(g);
    out[3 * x + 2] = round_to_u8(b);
  }
}

void finalize_scalar(const CellRow& row, const ScoreConsts& k, float* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    const double s[3] = {row.s[0][i], row.s[1][i], row.s[2][i]};
    const double q[3] = {row.q[0][i], row.q[1][i], row.q[2][i]};
    const double p[3] = {row.p[0][i], row.p[1][i], row.p[2][i]};
    out[i] = score_from_sums(k, s, q, p);
  }
}

void split_scalar(const std::uint8_t* rgb, std::size_t pixels, std::uint8_t* r, std::uint8_t* g, std::uint8_t* b) {
  for (std::size_t i = 0; i < pixels; ++i) {
    r[i] = rgb[3 * i];
    g[i] = rgb[3 * i + 1];
    b[i] = rgb[3 * i + 2];
  }
}

void prune_scalar(const SplitRow& row, const SplitConsts& k, std::uint8_t* alive, std::size_t n) {
  const ScoreConsts& sc = k.score;
  for (std::size_t i = 0; i < n; ++i) {
    double e = 0.0, exact = 0.0, eb = 0.0, qb = 0.0, scale = 0.0;
    for (int c = 0; c < 3; ++c) {
      const double s = row.s[c][i], q = row.q[c][i], sa = row.sa[c][i], qa = row.qa[c][i];
      const double v = q - s * s / sc.n;
      e += v > 0.0 ? v : 0.0;
      const double a = s / sc.n;
      exact += row.pa[c][i] - sc.mean[c] * sa - a * k.sa[c] + k.na * a * sc.mean[c];
      eb += (q - qa) - 2.0 * a * (s - sa) + k.nb * a * a;
      qb += q - qa;
      scale += q;
    }
    if (e < 1e-12) {
      alive[i] = 0.0 >= k.threshold + kScoreAllowance;
      continue;
    }
    const double bound = std::sqrt(((eb > 0.0 ? eb : 0.0) + kEnergyAllowance * qb) * k.energy_b);
    const double limit = k.threshold * std::sqrt(e) * sc.norm - kSumAllowance * (scale + k.sum_slack);
    alive[i] = exact + bound >= limit;
  }
}

#if LUMETRA_X86
namespace {

__attribute__((target("avx2"))) void prune_avx2(const SplitRow& row, const SplitConsts& k, std::uint8_t* alive,
                                                std::size_t n) {
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
      eb = _mm256_add_pd(eb, _mm256_add_pd(_mm256_sub_pd(dq, _mm256_mul_pd(_mm256_mul_pd(two, a), _mm256_sub_pd(s, sa))),
                                           _mm256_mul_pd(_mm256_mul_pd(nb, a), a)));
      qb = _mm256_add_pd(qb, dq);
      scale = _mm256_add_pd(scale, q);
    }
    const __m256d bound = _mm256_sqrt_pd(_mm256_mul_pd(_mm256_add_pd(_mm256_max_pd(eb, zero), _mm256_mul_pd(allow, qb)), ebt));
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

// score_from_sums four cells at a time. Division and square root are correctly rounded in
// every width, and each lane performs the scalar sequence of operations, so the bits agree.
__attribute__((target("avx2"))) void finalize_avx2(const CellRow& row, const ScoreConsts& k, float* out,
                                                   std::size_t n) {
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

// All three channels of a pixel in one vector (the fourth lane is the next pixel's red
// and is discarded), so every tap is one multiply and one add.
inline void store_rgb(__m128 acc, std::uint8_t* out) {
  const __m128 lo = _mm_setzero_ps(), hi = _mm_set1_ps(255.0f), half = _mm_set1_ps(0.5f);
  acc = _mm_add_ps(_mm_min_ps(_mm_max_ps(acc, lo), hi), half);
  const __m128i i32 = _mm_cvttps_epi32(acc);
  const __m128i i8 = _mm_packus_epi16(_mm_packs_epi32(i32, i32), _mm_setzero_si128());
  const std::uint32_t bytes = static_cast<std::uint32_t>(_mm_cvtsi128_si32(i8));
  out[0] = static_cast<std::uint8_t>(bytes);
  out[1] = static_cast<std::uint8_t>(bytes >> 8);
  out[2] = static_cast<std::uint8_t>(bytes >> 16);
}

void hresize_sse2(const float* mid, const std::uint32_t* first, const std::uint32_t* count,
                  const std::size_t* offset, const float* weights, std::uint32_t width, std::uint8_t* out) {
  for (std::uint32_t x = 0; x < width; ++x) {
    const float* w = weights + offset[x];
    const float* m = mid + 3 * static_cast<std::size_t>(first[x]);
    __m128 acc = _mm_setzero_ps();
    for (std::uint32_t k = 0; k < count[x]; ++k) acc = _mm_add_ps(acc, _mm_mul_ps(_mm_set1_ps(w[k]), _mm_loadu_ps(m + 3 * k)));
    store_rgb(acc, out + 3 * x);
  }
}

// ---------------------------------------------------------------------------------------
// SSE2 (always present on x86-64)

void vresize_sse2(const std::uint8_t* const* rows, const float* weights, std::size_t ntaps, float* out,
                  std::size_t n) {
  const __m128i zero = _mm_setzero_si128();
  std::size_t i = 0;
  // Sixteen samples per step, all taps summed in registers.
  for (; i + 16 <= n; i += 16) {
    __m128 a0 = _mm_setzero_ps(), a1 = a0, a2 = a0, a3 = a0;
    for (std::size_t k = 0; k < ntaps; ++k) {
      const __m128 w = _mm_set1_ps(weights[k]);
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + i));
      const __m128i lo = _mm_unpacklo_epi8(b, zero), hi = _mm_unpackhi_epi8(b, zero);
      a0 = _mm_add_ps(a0, _mm_mul_ps(w, _mm_cvtepi32_ps(_mm_unpacklo_epi16(lo, zero))));
      a1 = _mm_add_ps(a1, _mm_mul_ps(w, _mm_cvtepi32_ps(_mm_unpackhi_epi16(lo, zero))));
      a2 = _mm_add_ps(a2, _mm_mul_ps(w, _mm_cvtepi32_ps(_mm_unpacklo_epi16(hi, zero))));
      a3 = _mm_add_ps(a3, _mm_mul_ps(w, _mm_cvtepi32_ps(_mm_unpackhi_epi16(hi, zero))));
    }
    _mm_storeu_ps(out + i, a0);
    _mm_storeu_ps(out + i + 4, a1);
    _mm_storeu_ps(out + i + 8, a2);
    _mm_storeu_ps(out + i + 12, a3);
  }
  if (i < n) {
    const std::uint8_t* tails[64];
    const std::size_t m = ntaps < 64 ? ntaps : 64;
    for (std::size_t k = 0; k < m; ++k) tails[k] = rows[k] + i;
    if (m == ntaps) {
      vresize_scalar(tails, weights, ntaps, out + i, n - i);
    } else {
      // More than 64 taps only for extreme reductions; do the tail per sample.
      for (std::size_t j = i; j < n; ++j) {
        float acc = 0.0f;
        for (std::size_t k = 0; k < ntaps; ++k) acc += weights[k] * static_cast<float>(rows[k][j]);
        out[j] = acc;
      }
    }
  }
}

void row_sse2(const std::uint32_t* const* rows, const std::uint32_t* taps, std::size_t nrows,
              std::size_t npairs, std::uint32_t* out, std::size_t count) {
  for (std::size_t x = 0; x < count; x += 16) {
    __m128i a0 = _mm_setzero_si128(), a1 = a0, a2 = a0, a3 = a0;
    for (std::size_t r = 0; r < nrows; ++r) {
      const std::uint32_t* row = rows[r] + x;
      const std::uint32_t* t = taps + r * npairs;
      for (std::size_t k = 0; k < npairs; ++k) {
        const __m128i tk = _mm_set1_epi32(static_cast<int>(t[k]));
        const auto* p = reinterpret_cast<const __m128i*>(row + 2 * k);
        a0 = _mm_add_epi32(a0, _mm_madd_epi16(_mm_loadu_si128(p), tk));
        a1 = _mm_add_epi32(a1, _mm_madd_epi16(_mm_loadu_si128(p + 1), tk));
        a2 = _mm_add_epi32(a2, _mm_madd_epi16(_mm_loadu_si128(p + 2), tk));
        a3 = _mm_add_epi32(a3, _mm_madd_epi16(_mm_loadu_si128(p + 3), tk));
      }
    }
    auto* o = reinterpret_cast<__m128i*>(out + x);
    _mm_storeu_si128(o, a0);
    _mm_storeu_si128(o + 1, a1);
    _mm_storeu_si128(o + 2, a2);
    _mm_storeu_si128(o + 3, a3);
  }
}

std::uint32_t hsum_128(__m128i v) {
  v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
  v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
  return static_cast<std::uint32_t>(_mm_cvtsi128_si32(v));
}

void dot_sse2(const std::int16_t* img, std::size_t img_stride, const std::int16_t* tpl, std::size_t tpl_stride,
              std::size_t nrows, std::size_t nblocks, std::uint32_t out[4]) {
  __m128i a0 = _mm_setzero_si128(), a1 = a0, a2 = a0, a3 = a0;
  for (std::size_t r = 0; r < nrows; ++r) {
    const std::int16_t* a = img + r * img_stride;
    const std::int16_t* b = tpl + r * tpl_stride;
    for (std::size_t k = 0; k < 2 * nblocks; ++k) {
      const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 8 * k));
      const std::int16_t* p = a + 8 * k;
      a0 = _mm_add_epi32(a0, _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), t));
      a1 = _mm_add_epi32(a1, _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1)), t));
      a2 = _mm_add_epi32(a2, _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2)), t));
      a3 = _mm_add_epi32(a3, _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 3)), t));
    }
  }
  out[0] = hsum_128(a0);
  out[1] = hsum_128(a1);
  out[2] = hsum_128(a2);
  out[3] = hsum_128(a3);
}

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
                                                  const std::uint8_t color[3], std::uint8_t tol,
                                                  std::uint8_t* out) {
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

// ---------------------------------------------------------------------------------------
// AVX2

__attribute__((target("avx2"))) void row_avx2(const std::uint32_t* const* rows, const std::uint32_t* taps,
                                              std::size_t nrows, std::size_t npairs, std::uint32_t* out,
                                              std::size_t count) {
  for (std::size_t x = 0; x < count; x += 32) {
    __m256i a0 = _mm256_setzero_si256(), a1 = a0, a2 = a0, a3 = a0;
    for (std::size_t r = 0; r < nrows; ++r) {
      const std::uint32_t* row = rows[r] + x;
      const std::uint32_t* t = taps + r * npairs;
      for (std::size_t k = 0; k < npairs; ++k) {
        const __m256i tk = _mm256_set1_epi32(static_cast<int>(t[k]));
        const auto* p = reinterpret_cast<const __m256i*>(row + 2 * k);
        a0 = _mm256_add_epi32(a0, _mm256_madd_epi16(_mm256_loadu_si256(p), tk));
        a1 = _mm256_add_epi32(a1, _mm256_madd_epi16(_mm256_loadu_si256(p + 1), tk));
        a2 = _mm256_add_epi32(a2, _mm256_madd_epi16(_mm256_loadu_si256(p + 2), tk));
        a3 = _mm256_add_epi32(a3, _mm256_madd_epi16(_mm256_loadu_si256(p + 3), tk));
      }
    }
    auto* o = reinterpret_cast<__m256i*>(out + x);
    _mm256_storeu_si256(o, a0);
    _mm256_storeu_si256(o + 1, a1);
    _mm256_storeu_si256(o + 2, a2);
    _mm256_storeu_si256(o + 3, a3);
  }
}

__attribute__((target("avx2"))) std::uint32_t hsum_256(__m256i v) {
  return hsum_128(_mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)));
}

__attribute__((target("avx2"))) void dot_avx2(const std::int16_t* img, std::size_t img_stride,
                                              const std::int16_t* tpl, std::size_t tpl_stride, std::size_t nrows,
                                              std::size_t nblocks, std::uint32_t out[4]) {
  __m256i a0 = _mm256_setzero_si256(), a1 = a0, a2 = a0, a3 = a0;
  for (std::size_t r = 0; r < nrows; ++r) {
    const std::int16_t* a = img + r * img_stride;
    const std::int16_t* b = tpl + r * tpl_stride;
    for (std::size_t k = 0; k < nblocks; ++k) {
      const __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + 16 * k));
      const std::int16_t* p = a + 16 * k;
      a0 = _mm256_add_epi32(a0, _mm256_madd_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), t));
      a1 = _mm256_add_epi32(a1, _mm256_madd_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1)), t));
      a2 = _mm256_add_epi32(a2, _mm256_madd_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 2)), t));
      a3 = _mm256_add_epi32(a3, _mm256_madd_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 3)), t));
    }
  }
  out[0] = hsum_256(a0);
  out[1] = hsum_256(a1);
  out[2] = hsum_256(a2);
  out[3] = hsum_256(a3);
}

// Two pixels per vector, one in each half, whenever neighbours have as many taps (all but
// the edges); each half repeats the single-pixel sequence exactly.
__attribute__((target("avx2"))) void hresize_avx2(const float* mid, const std::uint32_t* first,
                                                  const std::uint32_t* count, const std::size_t* offset,
                                                  const float* weights, std::uint32_t width, std::uint8_t* out) {
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

__attribute__((target("avx2"))) inline __m256 load8_ps(const std::uint8_t* p) {
  return _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
}

__attribute__((target("avx2"))) void vresize_avx2(const std::uint8_t* const* rows, const float* weights,
                                                  std::size_t ntaps, float* out, std::size_t n) {
  std::size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    __m256 a0 = _mm256_setzero_ps(), a1 = a0, a2 = a0, a3 = a0;
    for (std::size_t k = 0; k < ntaps; ++k) {
      const __m256 w = _mm256_set1_ps(weights[k]);
      const std::uint8_t* r = rows[k] + i;
      a0 = _mm256_add_ps(a0, _mm256_mul_ps(w, load8_ps(r)));
      a1 = _mm256_add_ps(a1, _mm256_mul_ps(w, load8_ps(r + 8)));
      a2 = _mm256_add_ps(a2, _mm256_mul_ps(w, load8_ps(r + 16)));
      a3 = _mm256_add_ps(a3, _mm256_mul_ps(w, load8_ps(r + 24)));
    }
    _mm256_storeu_ps(out + i, a0);
    _mm256_storeu_ps(out + i + 8, a1);
    _mm256_storeu_ps(out + i + 16, a2);
    _mm256_storeu_ps(out + i + 24, a3);
  }
  if (i < n) {
    const std::uint8_t* tails[64];
    const std::size_t m = ntaps < 64 ? ntaps : 64;
    for (std::size_t k = 0; k < m; ++k) tails[k] = rows[k] + i;
    if (m == ntaps) {
      vresize_sse2(tails, weights, ntaps, out + i, n - i);
    } else {
      for (std::size_t j = i; j < n; ++j) {
        float acc = 0.0f;
        for (std::size_t k = 0; k < ntaps; ++k) acc += weights[k] * static_cast<float>(rows[k][j]);
        out[j] = acc;
      }
    }
  }
}

// ---------------------------------------------------------------------------------------
// AVX-512 with VNNI: the multiply-add and the accumulation are one instruction.

#define LUMETRA_AVX512 "avx512f,avx512bw,avx512vl,avx512vnni"

__attribute__((target(LUMETRA_AVX512))) void row_avx512(const std::uint32_t* const* rows,
                                                        const std::uint32_t* taps, std::size_t nrows,
                                                        std::size_t npairs, std::uint32_t* out,
                                                        std::size_t count) {
  std::size_t x = 0;
  for (; x + 32 < count; x += 64) {
    __m512i a0 = _mm512_setzero_si512(), a1 = a0, a2 = a0, a3 = a0;
    for (std::size_t r = 0; r < nrows; ++r) {
      const std::uint32_t* row = rows[r] + x;
      const std::uint32_t* t = taps + r * npairs;
      for (std::size_t k = 0; k < npairs; ++k) {
        const __m512i tk = _mm512_set1_epi32(static_cast<int>(t[k]));
        const std::uint32_t* p = row + 2 * k;
        a0 = _mm512_dpwssd_epi32(a0, _mm512_loadu_si512(p), tk);
        a1 = _mm512_dpwssd_epi32(a1, _mm512_loadu_si512(p + 16), tk);
        a2 = _mm512_dpwssd_epi32(a2, _mm512_loadu_si512(p + 32), tk);
        a3 = _mm512_dpwssd_epi32(a3, _mm512_loadu_si512(p + 48), tk);
      }
    }
    _mm512_storeu_si512(out + x, a0);
    _mm512_storeu_si512(out + x + 16, a1);
    _mm512_storeu_si512(out + x + 32, a2);
    _mm512_storeu_si512(out + x + 48, a3);
  }
  // A short tail (up to 32 positions) in half the width, so narrow maps waste less.
  if (x < count) {
    __m512i a0 = _mm512_setzero_si512(), a1 = a0;
    for (std::size_t r = 0; r < nrows; ++r) {
      const std::uint32_t* row = rows[r] + x;
      const std::uint32_t* t = taps + r * npairs;
      for (std::size_t k = 0; k < npairs; ++k) {
        const __m512i tk = _mm512_set1_epi32(static_cast<int>(t[k]));
        const std::uint32_t* p = row + 2 * k;
        a0 = _mm512_dpwssd_epi32(a0, _mm512_loadu_si512(p), tk);
        a1 = _mm512_dpwssd_epi32(a1, _mm512_loadu_si512(p + 16), tk);
      }
    }
    _mm512_storeu_si512(out + x, a0);
    _mm512_storeu_si512(out + x + 16, a1);
  }
}

__attribute__((target(LUMETRA_AVX512))) std::uint32_t hsum_512(__m512i v) {
  // Through memory: GCC 12's 512-to-256-bit extraction helpers trip -Wuninitialized.
  alignas(64) std::uint32_t lanes[16];
  _mm512_store_si512(lanes, v);
  std::uint32_t sum = 0;
  for (std::uint32_t x : lanes) sum += x;
  return sum;
}

__attribute__((target(LUMETRA_AVX512))) void dot_avx512(const std::int16_t* img, std::size_t img_stride,
                                                        const std::int16_t* tpl, std::size_t tpl_stride,
                                                        std::size_t nrows, std::size_t nblocks, std::uint32_t out[4]) {
  // Two blocks of sixteen samples per 512-bit step; an odd last block in 256 bits.
  __m512i a0 = _mm512_setzero_si512(), a1 = a0, a2 = a0, a3 = a0;
  __m256i b0 = _mm256_setzero_si256(), b1 = b0, b2 = b0, b3 = b0;
  const std::size_t pairs = nblocks / 2;
  const bool odd = nblocks % 2 != 0;
  for (std::size_t r = 0; r < nrows; ++r) {
    const std::int16_t* a = img + r * img_stride;
    const std::int16_t* b = tpl + r * tpl_stride;
    for (std::size_t k = 0; k < pairs; ++k) {
      const __m512i t = _mm512_loadu_si512(b + 32 * k);
      const std::int16_t* p = a + 32 * k;
      a0 = _mm512_dpwssd_epi32(a0, _mm512_loadu_si512(p), t);
      a1 = _mm512_dpwssd_epi32(a1, _mm512_loadu_si512(p + 1), t);
      a2 = _mm512_dpwssd_epi32(a2, _mm512_loadu_si512(p + 2), t);
      a3 = _mm512_dpwssd_epi32(a3, _mm512_loadu_si512(p + 3), t);
    }
    if (odd) {
      const __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + 32 * pairs));
      const std::int16_t* p = a + 32 * pairs;
      b0 = _mm256_dpwssd_epi32(b0, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), t);
      b1 = _mm256_dpwssd_epi32(b1, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1)), t);
      b2 = _mm256_dpwssd_epi32(b2, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 2)), t);
      b3 = _mm256_dpwssd_epi32(b3, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 3)), t);
    }
  }
  out[0] = hsum_512(a0) + hsum_256(b0);
  out[1] = hsum_512(a1) + hsum_256(b1);
  out[2] = hsum_512(a2) + hsum_256(b2);
  out[3] = hsum_512(a3) + hsum_256(b3);
}

SimdLevel probe() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vnni")) {
    return SimdLevel::Avx512;
  }
  if (__builtin_cpu_supports("avx2")) return SimdLevel::Avx2;
  return SimdLevel::Sse2;
}

bool has_ssse3() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3");
}

}  // namespace
#endif  // LUMETRA_X86

const char* simd_level_name(SimdLevel level) {
  switch (level) {
    case SimdLevel::Scalar: return "scalar";
    case SimdLevel::Sse2: return "sse2";
    case SimdLevel::Avx2: return "avx2";
    case SimdLevel::Avx512: return "avx512-vnni";
  }
  return "?";
}

SimdLevel detected_simd_level() {
#if LUMETRA_X86
  static const SimdLevel level = probe();
  return level;
#else
  return SimdLevel::Scalar;
#endif
}

Kernels kernels_for(SimdLevel level) {
  Kernels k{row_scalar,      dot_scalar,      mask_scalar, vresize_scalar,
            hresize_scalar,  finalize_scalar, prune_scalar, split_scalar};
#if LUMETRA_X86
  if (level > detected_simd_level()) level = detected_simd_level();
  if (level >= SimdLevel::Sse2) {
    k.row = row_sse2;
    k.dot = dot_sse2;
    k.vresize = vresize_sse2;
    k.hresize = hresize_sse2;
    if (has_ssse3()) {
      k.mask = mask_ssse3;
      k.split = split_ssse3;
    }
  }
  if (level >= SimdLevel::Avx2) {
    k.row = row_avx2;
    k.dot = dot_avx2;
    k.vresize = vresize_avx2;
    k.hresize = hresize_avx2;
    k.finalize = finalize_avx2;
    k.prune = prune_avx2;
  }
  if (level >= SimdLevel::Avx512) {
    k.row = row_avx512;
    k.dot = dot_avx512;
  }
#else
  (void)level;
#endif
  return k;
}

namespace {

std::atomic<int> g_limit{static_cast<int>(SimdLevel::Avx512)};

}  // namespace

void set_simd_limit(SimdLevel limit) { g_limit.store(static_cast<int>(limit)); }

SimdLevel active_simd_level() {
  const int limit = g_limit.load();
  const int detected = static_cast<int>(detected_simd_level());
  return static_cast<SimdLevel>(limit < detected ? limit : detected);
}

const Kernels& active_kernels() {
  // One table per level, built once; the active one is looked up per call so that a
  // changed limit takes effect at once.
  static const Kernels tables[4] = {kernels_for(SimdLevel::Scalar), kernels_for(SimdLevel::Sse2),
                                    kernels_for(SimdLevel::Avx2), kernels_for(SimdLevel::Avx512)};
  return tables[static_cast<int>(active_simd_level())];
}

}  // namespace lumetra::detail
