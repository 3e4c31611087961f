#include "score.h"

#include "simd.h"

#include <algorithm>
#include <cstring>

namespace lumetra::detail {
namespace {

std::size_t round_up(std::size_t v, std::size_t m) { return (v + m - 1) / m * m; }

// Exact cross sums for one position by plain 64-bit loops; used when a single template
// row is too long for 32-bit partial sums, which no screen-sized pattern reaches.
void cross_sums_wide(const RgbImage& image, const RgbImage& templ, std::uint32_t x, std::uint32_t y,
                     std::int64_t p[3]) {
  p[0] = p[1] = p[2] = 0;
  for (std::uint32_t dy = 0; dy < templ.height; ++dy) {
    const std::uint8_t* a = image.at(x, y + dy);
    const std::uint8_t* b = templ.row(dy);
    for (std::size_t i = 0; i < templ.stride(); ++i) p[i % 3] += static_cast<std::int64_t>(a[i]) * b[i];
  }
}

}  // namespace

PreparedTemplate prepare_template(const RgbImage& templ) {
  PreparedTemplate t;
  t.source = &templ;
  t.w = templ.width;
  t.h = templ.height;
  const std::uint64_t n = static_cast<std::uint64_t>(t.w) * t.h;
  t.n = static_cast<double>(n);
  std::int64_t S[3] = {}, Q[3] = {};
  for (std::uint32_t y = 0; y < t.h; ++y) {
    const std::uint8_t* row = templ.row(y);
    for (std::uint32_t x = 0; x < t.w; ++x) {
      for (int c = 0; c < 3; ++c) {
        const std::int64_t v = row[3 * x + c];
        S[c] += v;
        Q[c] += v * v;
      }
    }
  }
  double energy = 0.0;
  for (int c = 0; c < 3; ++c) {
    const double sc = static_cast<double>(S[c]);
    const double v = static_cast<double>(Q[c]) - sc * sc / t.n;
    energy += v > 0.0 ? v : 0.0;
    t.mean[c] = sc / t.n;
  }
  t.norm = std::sqrt(energy);
  t.flat = !(t.norm >= 1e-6);
  if (t.flat) return t;

  t.npairs = (t.w + 1) / 2;
  {
    // About eight bands: enough for the bound to tighten in steps, few enough that the
    // bookkeeping stays small next to the cross sums. A band's cross sum must fit in one
    // 32-bit sum, which is what rows_per_chunk guarantees.
    const std::uint64_t per_chunk = t.w > kMaxTapsPer32BitSum ? 1 : kMaxTapsPer32BitSum / t.w;
    const std::uint32_t rows = static_cast<std::uint32_t>(std::min<std::uint64_t>((t.h + 7) / 8, per_chunk));
    for (std::uint32_t r0 = 0; r0 < t.h; r0 += rows) {
      PreparedTemplate::Band b;
      b.r0 = r0;
      b.r1 = std::min(t.h, r0 + rows);
      b.n = static_cast<double>(b.r1 - b.r0) * t.w;
      std::int64_t Qb[3] = {};
      for (std::uint32_t y = b.r0; y < b.r1; ++y) {
        const std::uint8_t* row = templ.row(y);
        for (std::uint32_t x = 0; x < t.w; ++x) {
          for (int c = 0; c < 3; ++c) {
            const std::int64_t v = row[3 * x + c];
            b.S[c] += v;
            Qb[c] += v * v;
          }
        }
      }
      for (int c = 0; c < 3; ++c) {
        b.energy += static_cast<double>(Qb[c]) - 2.0 * t.mean[c] * static_cast<double>(b.S[c]) + b.n * t.mean[c] * t.mean[c];
      }
      b.energy = std::max(b.energy, 0.0);
      t.bands.push_back(b);
    }
    std::stable_sort(t.bands.begin(), t.bands.end(),
                     [](const PreparedTemplate::Band& a, const PreparedTemplate::Band& b) { return a.energy > b.energy; });
  }
  t.wpad = round_up(t.w, 16);
  t.rows_per_chunk = t.w > kMaxTapsPer32BitSum ? 0 : std::max<std::size_t>(1, kMaxTapsPer32BitSum / t.w);
  if (t.rows_per_chunk == 0) return t;  // scored by cross_sums_wide
  for (int c = 0; c < 3; ++c) {
    t.taps[c].assign(static_cast<std::size_t>(t.h) * t.npairs, 0);
    t.planar[c].assign(static_cast<std::size_t>(t.h) * t.wpad, 0);
    for (std::uint32_t y = 0; y < t.h; ++y) {
      const std::uint8_t* row = templ.row(y);
      std::uint32_t* taps = t.taps[c].data() + static_cast<std::size_t>(y) * t.npairs;
      std::int16_t* planar = t.planar[c].data() + static_cast<std::size_t>(y) * t.wpad;
      for (std::uint32_t x = 0; x < t.w; ++x) {
        const std::uint32_t v = row[3 * x + c];
        planar[x] = static_cast<std::int16_t>(v);
        taps[x / 2] |= (x % 2 == 0) ? v : (v << 16);
      }
    }
  }
  return t;
}

// Sliding window sums of one channel over columns: colS/colQ hold the sums of h rows per
// column; the window sums of a row of positions come from running prefix sums.
namespace {

struct ColumnSums {
  std::uint32_t width = 0;
  std::vector<std::int64_t> s[3], q[3];

  explicit ColumnSums(std::uint32_t w) : width(w) {
    for (int c = 0; c < 3; ++c) {
      s[c].assign(w, 0);
      q[c].assign(w, 0);
    }
  }
  // Adds (sign 1) or removes (sign -1) `width` pixels starting at `px`.
  void apply(const std::uint8_t* px, std::int64_t sign) {
    for (std::uint32_t x = 0; x < width; ++x) {
      for (int c = 0; c < 3; ++c) {
        const std::int64_t v = px[3 * x + c];
        s[c][x] += sign * v;
        q[c][x] += sign * v * v;
      }
    }
  }
  // Window sums of w columns for each of `count` positions.
  void windows(std::uint32_t w, std::uint32_t count, std::vector<std::int64_t> ws[3],
               std::vector<std::int64_t> wq[3]) const {
    for (int c = 0; c < 3; ++c) {
      ws[c].resize(count);
      wq[c].resize(count);
      std::int64_t a = 0, b = 0;
      for (std::uint32_t x = 0; x < w; ++x) {
        a += s[c][x];
        b += q[c][x];
      }
      for (std::uint32_t x = 0; x < count; ++x) {
        ws[c][x] = a;
        wq[c][x] = b;
        if (x + 1 < count) {
          a += s[c][x + w] - s[c][x];
          b += q[c][x + w] - q[c][x];
        }
      }
    }
  }
};

}  // namespace

void score_full(const RgbImage& image, const PreparedTemplate& t, ScoreMap& map) {
  if (t.flat || map.width == 0 || map.height == 0) return;
  const std::uint32_t W = image.width;
  const std::uint32_t w = t.w, h = t.h;
  const std::uint32_t P = map.width, R = map.height;

  ColumnSums cols(W);
  for (std::uint32_t dy = 0; dy < h; ++dy) cols.apply(image.row(dy), 1);
  std::vector<std::int64_t> ws[3], wq[3];
  std::int64_t s[3], q[3], p[3];

  if (t.rows_per_chunk == 0) {
    for (std::uint32_t y = 0; y < R; ++y) {
      if (y > 0) {
        cols.apply(image.row(y - 1), -1);
        cols.apply(image.row(y + h - 1), 1);
      }
      cols.windows(w, P, ws, wq);
      for (std::uint32_t x = 0; x < P; ++x) {
        cross_sums_wide(image, *t.source, x, y, p);
        for (int c = 0; c < 3; ++c) {
          s[c] = ws[c][x];
          q[c] = wq[c][x];
        }
        map.scores[static_cast<std::size_t>(y) * P + x] = cell_score(t, s, q, p);
      }
    }
    return;
  }

  // Pair-packed rows of the h source rows under the current output row, in a ring: each
  // output row adds one source row and drops one.
  const std::size_t row_len = static_cast<std::size_t>(W) + 2 * t.npairs + 72;
  std::vector<std::uint32_t> ring(3 * static_cast<std::size_t>(h) * row_len, 0);
  auto slot = [&](int c, std::uint32_t src_row) {
    return ring.data() + (static_cast<std::size_t>(c) * h + src_row % h) * row_len;
  };
  auto load_row = [&](std::uint32_t src_row) {
    const std::uint8_t* px = image.row(src_row);
    for (int c = 0; c < 3; ++c) {
      std::uint32_t* dst = slot(c, src_row);
      for (std::uint32_t x = 0; x + 1 < W; ++x) dst[x] = px[3 * x + c] | (static_cast<std::uint32_t>(px[3 * x + 3 + c]) << 16);
      dst[W - 1] = px[3 * (W - 1) + c];
    }
  };
  for (std::uint32_t dy = 0; dy < h; ++dy) load_row(dy);

  const Kernels& k = active_kernels();
  const std::size_t out_len = round_up(P, 64);
  std::vector<std::uint32_t> out32[3];
  for (auto& o : out32) o.assign(out_len, 0);
  std::vector<std::int64_t> acc[3];
  const bool chunked = t.rows_per_chunk < h;
  if (chunked) {
    for (auto& a : acc) a.assign(P, 0);
  }
  std::vector<const std::uint32_t*> ptrs(h);

  for (std::uint32_t y = 0; y < R; ++y) {
    if (y > 0) {
      cols.apply(image.row(y - 1), -1);
      cols.apply(image.row(y + h - 1), 1);
      load_row(y + h - 1);
    }
    cols.windows(w, P, ws, wq);
    float* dst = map.scores.data() + static_cast<std::size_t>(y) * P;
    for (int c = 0; c < 3; ++c) {
      for (std::uint32_t dy = 0; dy < h; ++dy) ptrs[dy] = slot(c, y + dy);
      if (!chunked) {
        k.row(ptrs.data(), t.taps[c].data(), h, t.npairs, out32[c].data(), P);
      } else {
        std::fill(acc[c].begin(), acc[c].end(), 0);
        for (std::uint32_t d0 = 0; d0 < h; d0 += static_cast<std::uint32_t>(t.rows_per_chunk)) {
          const std::uint32_t n = std::min<std::uint32_t>(static_cast<std::uint32_t>(t.rows_per_chunk), h - d0);
          k.row(ptrs.data() + d0, t.taps[c].data() + static_cast<std::size_t>(d0) * t.npairs, n, t.npairs,
                out32[c].data(), P);
          for (std::uint32_t x = 0; x < P; ++x) acc[c][x] += out32[c][x];
        }
      }
    }
    for (std::uint32_t x = 0; x < P; ++x) {
      for (int c = 0; c < 3; ++c) {
        s[c] = ws[c][x];
        q[c] = wq[c][x];
        p[c] = chunked ? acc[c][x] : static_cast<std::int64_t>(out32[c][x]);
      }
      dst[x] = cell_score(t, s, q, p);
    }
  }
}

ScoreMap score_window(const RgbImage& image, const PreparedTemplate& t, std::uint32_t x0,
                      std::uint32_t y0, std::uint32_t x1, std::uint32_t y1, float threshold,
                      std::unordered_map<std::uint64_t, float>& memo) {
  ScoreMap map;
  const std::uint32_t ww = x1 - x0, wh = y1 - y0;
  if (ww < t.w || wh < t.h) return map;
  const std::uint32_t pw = ww - t.w + 1, ph = wh - t.h + 1;
  map.width = pw;
  map.height = ph;
  map.scores.assign(static_cast<std::size_t>(pw) * ph, 0.0f);
  if (t.flat) return map;

  // Window sums of every row segment under a template row, as prefix sums down the
  // window, so that any band of rows at any position is two lookups.
  std::vector<std::int64_t> cum_s[3], cum_q[3];
  for (int c = 0; c < 3; ++c) {
    cum_s[c].assign(static_cast<std::size_t>(wh + 1) * pw, 0);
    cum_q[c].assign(static_cast<std::size_t>(wh + 1) * pw, 0);
  }
  for (std::uint32_t r = 0; r < wh; ++r) {
    const std::uint8_t* px = image.at(x0, y0 + r);
    for (int c = 0; c < 3; ++c) {
      std::int64_t a = 0, b = 0;
      for (std::uint32_t x = 0; x < t.w; ++x) {
        const std::int64_t v = px[3 * x + c];
        a += v;
        b += v * v;
      }
      const std::int64_t* ps = cum_s[c].data() + static_cast<std::size_t>(r) * pw;
      const std::int64_t* pq = cum_q[c].data() + static_cast<std::size_t>(r) * pw;
      std::int64_t* ns = cum_s[c].data() + static_cast<std::size_t>(r + 1) * pw;
      std::int64_t* nq = cum_q[c].data() + static_cast<std::size_t>(r + 1) * pw;
      for (std::uint32_t i = 0; i < pw; ++i) {
        ns[i] = ps[i] + a;
        nq[i] = pq[i] + b;
        if (i + 1 < pw) {
          const std::int64_t out = px[3 * i + c], in = px[3 * (i + t.w) + c];
          a += in - out;
          b += in * in - out * out;
        }
      }
    }
  }
  auto rows_sum = [pw](const std::vector<std::int64_t>& cum, std::uint32_t i, std::uint32_t r0, std::uint32_t r1) {
    return cum[static_cast<std::size_t>(r1) * pw + i] - cum[static_cast<std::size_t>(r0) * pw + i];
  };

  // The window's samples as 16-bit planes, each row padded so that the dot kernel may
  // read a whole block past the template's last column.
  const bool wide = t.rows_per_chunk == 0;
  const std::size_t stride = ww + 16;
  std::vector<std::int16_t> planes[3];
  if (!wide) {
    for (int c = 0; c < 3; ++c) planes[c].assign(stride * wh, 0);
    for (std::uint32_t r = 0; r < wh; ++r) {
      const std::uint8_t* px = image.at(x0, y0 + r);
      for (std::uint32_t x = 0; x < ww; ++x) {
        for (int c = 0; c < 3; ++c) planes[c][r * stride + x] = px[3 * x + c];
      }
    }
  }

  const DotKernel dot = active_kernels().dot;
  const std::size_t nblocks = t.wpad / 16;
  const std::size_t nbands = t.bands.size();
  std::vector<double> bound(nbands);
  std::int64_t s[3], q[3], p[3];
  for (std::uint32_t j = 0; j < ph; ++j) {
    for (std::uint32_t i = 0; i < pw; ++i) {
      const std::uint64_t key = (static_cast<std::uint64_t>(y0 + j) << 32) | (x0 + i);
      float& cell = map.scores[static_cast<std::size_t>(j) * pw + i];
      if (const auto it = memo.find(key); it != memo.end()) {
        cell = it->second;
        continue;
      }
      for (int c = 0; c < 3; ++c) {
        s[c] = rows_sum(cum_s[c], i, j, j + t.h);
        q[c] = rows_sum(cum_q[c], i, j, j + t.h);
      }
      if (wide) {
        cross_sums_wide(image, *t.source, x0 + i, y0 + j, p);
        cell = cell_score(t, s, q, p);
        memo.emplace(key, cell);
        continue;
      }
      double e = 0.0, scale = 0.0, a[3];
      for (int c = 0; c < 3; ++c) {
        const double sc = static_cast<double>(s[c]);
        const double v = static_cast<double>(q[c]) - sc * sc / t.n;
        e += v > 0.0 ? v : 0.0;
        a[c] = sc / t.n;
        scale += static_cast<double>(q[c]);
      }
      bool below = false;
      p[0] = p[1] = p[2] = 0;
      if (e >= 1e-12) {
        // The correlation's numerator splits into one term per band, and each band's term
        // is at most the root of the product of the window's and the template's centred
        // energies over that band (Cauchy-Schwarz). Bands are summed exactly one by one;
        // once the exact part plus the bound on the rest cannot reach the threshold, the
        // cell is given up. The slack dwarfs the rounding of these few double operations
        // (relative 1e-16 each on magnitudes up to the sums of squares), so a cell that
        // does reach the threshold is never given up.
        const double slack = 1e-9 * (scale + t.norm * t.norm + 1.0);
        const double limit = static_cast<double>(threshold) * std::sqrt(e) * t.norm - slack;
        double rest = 0.0;
        for (std::size_t b = 0; b < nbands; ++b) {
          const auto& band = t.bands[b];
          double ei = 0.0;
          for (int c = 0; c < 3; ++c) {
            const double sb = static_cast<double>(rows_sum(cum_s[c], i, j + band.r0, j + band.r1));
            const double qb = static_cast<double>(rows_sum(cum_q[c], i, j + band.r0, j + band.r1));
            ei += qb - 2.0 * a[c] * sb + band.n * a[c] * a[c];
          }
          bound[b] = std::sqrt(std::max(ei, 0.0) * band.energy);
          rest += bound[b];
        }
        double exact = 0.0;
        below = rest < limit;
        for (std::size_t b = 0; b < nbands && !below; ++b) {
          const auto& band = t.bands[b];
          const std::size_t off = static_cast<std::size_t>(j + band.r0) * stride + i;
          const std::size_t toff = static_cast<std::size_t>(band.r0) * t.wpad;
          for (int c = 0; c < 3; ++c) {
            const std::int64_t pb = dot(planes[c].data() + off, stride, t.planar[c].data() + toff, t.wpad,
                                        band.r1 - band.r0, nblocks);
            p[c] += pb;
            const double sb = static_cast<double>(rows_sum(cum_s[c], i, j + band.r0, j + band.r1));
            exact += static_cast<double>(pb) - t.mean[c] * sb - a[c] * static_cast<double>(band.S[c]) +
                     band.n * a[c] * t.mean[c];
          }
          rest -= bound[b];
          below = exact + rest < limit;
        }
      }
      cell = below ? kBelowThreshold : cell_score(t, s, q, p);
      memo.emplace(key, cell);
    }
  }
  return map;
}

}  // namespace lumetra::detail
