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
                      std::uint32_t y0, std::uint32_t x1, std::uint32_t y1,
                      std::unordered_map<std::uint64_t, float>& memo) {
  ScoreMap map;
  const std::uint32_t ww = x1 - x0, wh = y1 - y0;
  if (ww < t.w || wh < t.h) return map;
  map.width = ww - t.w + 1;
  map.height = wh - t.h + 1;
  map.scores.assign(static_cast<std::size_t>(map.width) * map.height, 0.0f);
  if (t.flat) return map;

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
  ColumnSums cols(ww);
  for (std::uint32_t dy = 0; dy < t.h; ++dy) cols.apply(image.at(x0, y0 + dy), 1);
  std::vector<std::int64_t> ws[3], wq[3];
  std::int64_t s[3], q[3], p[3];
  for (std::uint32_t j = 0; j < map.height; ++j) {
    if (j > 0) {
      cols.apply(image.at(x0, y0 + j - 1), -1);
      cols.apply(image.at(x0, y0 + j + t.h - 1), 1);
    }
    cols.windows(t.w, map.width, ws, wq);
    for (std::uint32_t i = 0; i < map.width; ++i) {
      const std::uint64_t key = (static_cast<std::uint64_t>(y0 + j) << 32) | (x0 + i);
      float& cell = map.scores[static_cast<std::size_t>(j) * map.width + i];
      if (const auto it = memo.find(key); it != memo.end()) {
        cell = it->second;
        continue;
      }
      if (wide) {
        cross_sums_wide(image, *t.source, x0 + i, y0 + j, p);
      } else {
        for (int c = 0; c < 3; ++c) {
          const std::int16_t* img = planes[c].data() + j * stride + i;
          std::int64_t sum = 0;
          for (std::uint32_t d0 = 0; d0 < t.h; d0 += static_cast<std::uint32_t>(t.rows_per_chunk)) {
            const std::size_t n = std::min<std::size_t>(t.rows_per_chunk, t.h - d0);
            sum += dot(img + d0 * stride, stride, t.planar[c].data() + d0 * t.wpad, t.wpad, n, nblocks);
          }
          p[c] = sum;
        }
      }
      for (int c = 0; c < 3; ++c) {
        s[c] = ws[c][i];
        q[c] = wq[c][i];
      }
      cell = cell_score(t, s, q, p);
      memo.emplace(key, cell);
    }
  }
  return map;
}

}  // namespace lumetra::detail
