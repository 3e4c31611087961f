// The scalar kernels: the definitions every vector level must reproduce bit for bit, and
// the kernels of any level that has no vector version of its own.
#include "simd.h"

namespace lumetra::detail {

void row_scalar(const std::uint32_t* const* rows, const std::uint32_t* taps, std::size_t nrows, std::size_t npairs,
                std::uint32_t* out, std::size_t count) {
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

void mask_scalar(const std::uint8_t* rgb, std::size_t pixels, const std::uint8_t color[3], std::uint8_t tol,
                 std::uint8_t* out) {
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

void hresize_scalar(const float* mid, const std::uint32_t* first, const std::uint32_t* count, const std::size_t* offset,
                    const float* weights, std::uint32_t width, std::uint8_t* out) {
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

void vresize_from(std::size_t i, VResizeKernel narrower, const std::uint8_t* const* rows, const float* weights,
                  std::size_t ntaps, float* out, std::size_t n) {
  if (i >= n) return;
  const std::uint8_t* tails[64];
  if (ntaps <= 64) {
    for (std::size_t k = 0; k < ntaps; ++k) tails[k] = rows[k] + i;
    narrower(tails, weights, ntaps, out + i, n - i);
    return;
  }
  // More than 64 taps only for extreme reductions; do the tail per sample.
  for (std::size_t j = i; j < n; ++j) {
    float acc = 0.0f;
    for (std::size_t k = 0; k < ntaps; ++k) acc += weights[k] * static_cast<float>(rows[k][j]);
    out[j] = acc;
  }
}

}  // namespace lumetra::detail
