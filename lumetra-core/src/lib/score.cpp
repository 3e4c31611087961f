#include "score.h"

#include <algorithm>
#include <tuple>

#include "block_bound.h"
#include "simd.h"

namespace lumetra::detail {
namespace {

std::size_t round_up(std::size_t v, std::size_t m) { return (v + m - 1) / m * m; }

constexpr std::uint64_t kMinPixelsToSplit = 256;

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

// Per-channel sums and sums of squares of the template's rows [r0, r1).
struct RowSums {
  std::int64_t S[3] = {}, Q[3] = {};
};

RowSums row_sums(const RgbImage& templ, std::uint32_t r0, std::uint32_t r1) {
  RowSums sums;
  for (std::uint32_t y = r0; y < r1; ++y) {
    const std::uint8_t* row = templ.row(y);
    for (std::uint32_t x = 0; x < templ.width; ++x) {
      for (int c = 0; c < 3; ++c) {
        const std::int64_t v = row[3 * x + c];
        sums.S[c] += v;
        sums.Q[c] += v * v;
      }
    }
  }
  return sums;
}

// Upper bound of the sum of (T_c - mean_c)^2 over rows of `n` pixels with these sums, all
// channels: the centred energy from the uncentred sums, raised by kEnergyAllowance times
// those sums for the cancellation.
double centred_energy_bound(const RowSums& sums, double n, const double mean[3]) {
  double energy = 0.0;
  for (int c = 0; c < 3; ++c) {
    energy += static_cast<double>(sums.Q[c]) - 2.0 * mean[c] * static_cast<double>(sums.S[c]) + n * mean[c] * mean[c];
  }
  return std::max(energy, 0.0) + kEnergyAllowance * static_cast<double>(sums.Q[0] + sums.Q[1] + sums.Q[2]);
}

}  // namespace

PreparedTemplate prepare_template(const RgbImage& templ) {
  PreparedTemplate t;
  t.source = &templ;
  t.w = templ.width;
  t.h = templ.height;
  const std::uint64_t n = static_cast<std::uint64_t>(t.w) * t.h;
  t.n = static_cast<double>(n);
  const RowSums all = row_sums(templ, 0, t.h);
  double energy = 0.0;
  for (int c = 0; c < 3; ++c) {
    const double sc = static_cast<double>(all.S[c]);
    const double v = static_cast<double>(all.Q[c]) - sc * sc / t.n;
    energy += v > 0.0 ? v : 0.0;
    t.mean[c] = sc / t.n;
  }
  t.norm = std::sqrt(energy);
  t.sum_slack = static_cast<double>(all.Q[0] + all.Q[1] + all.Q[2]) + 1.0;
  t.consts.n = t.n;
  for (int c = 0; c < 3; ++c) t.consts.mean[c] = t.mean[c];
  t.consts.norm = t.norm;
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
      const RowSums sums = row_sums(templ, b.r0, b.r1);
      for (int c = 0; c < 3; ++c) b.S[c] = sums.S[c];
      b.energy = centred_energy_bound(sums, b.n, t.mean);
      t.bands.push_back(b);
    }
    // Halves for the whole-map pruning. Below a few hundred pixels the cross sums are
    // cheaper than the bookkeeping that could save half of them.
    if (t.h >= 2 && n >= kMinPixelsToSplit && n <= kMaxTapsPer32BitSum) {
      auto& sp = t.split;
      const std::uint32_t mid = t.h / 2;
      sp.usable = true;
      const RowSums halves[2] = {row_sums(templ, 0, mid), row_sums(templ, mid, t.h)};
      const double count[2] = {static_cast<double>(mid) * t.w, static_cast<double>(t.h - mid) * t.w};
      const double energy[2] = {centred_energy_bound(halves[0], count[0], t.mean),
                                centred_energy_bound(halves[1], count[1], t.mean)};
      const int a = energy[0] >= energy[1] ? 0 : 1;
      sp.a0 = a == 0 ? 0 : mid;
      sp.a1 = a == 0 ? mid : t.h;
      sp.consts.score = t.consts;
      sp.consts.na = count[a];
      sp.consts.nb = count[1 - a];
      for (int c = 0; c < 3; ++c) sp.consts.sa[c] = static_cast<double>(halves[a].S[c]);
      sp.consts.energy_b = energy[1 - a];
      sp.consts.sum_slack = t.sum_slack;
    }
    std::stable_sort(
        t.bands.begin(), t.bands.end(),
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

namespace {

// A whole number below 2^32 as a double, by the conversion the vectoriser has (signed 32
// bits to double) rather than the one it lacks (unsigned).
inline double exact_double(std::uint32_t v) {
  return static_cast<double>(static_cast<std::int32_t>(v ^ 0x80000000u)) + 2147483648.0;
}

// Sums of h rows per column, per channel, kept interleaved like the pixels (element
// 3x + c) so that sliding the rows down by one is a single straight loop over the row.
struct ColumnSums {
  std::uint32_t width = 0;
  std::vector<std::int64_t> s, q;

  explicit ColumnSums(std::uint32_t w) : width(w), s(3 * static_cast<std::size_t>(w)), q(s.size()) {}
  void add(const std::uint8_t* px) {
    for (std::size_t k = 0; k < s.size(); ++k) {
      const std::int64_t v = px[k];
      s[k] += v;
      q[k] += v * v;
    }
  }
  // Drops row `out` and takes row `in`.
  void slide(const std::uint8_t* out, const std::uint8_t* in) {
    for (std::size_t k = 0; k < s.size(); ++k) {
      const std::int64_t o = out[k], i = in[k];
      s[k] += i - o;
      q[k] += i * i - o * o;
    }
  }
  // Window sums of w columns for each of `count` positions; exact in doubles.
  void windows(std::uint32_t w, std::uint32_t count, std::vector<double> ws[3], std::vector<double> wq[3]) const {
    std::int64_t a[3] = {}, b[3] = {};
    for (std::uint32_t x = 0; x < w; ++x) {
      for (int c = 0; c < 3; ++c) {
        a[c] += s[3 * x + c];
        b[c] += q[3 * x + c];
      }
    }
    for (int c = 0; c < 3; ++c) {
      ws[c].resize(count);
      wq[c].resize(count);
    }
    for (std::uint32_t x = 0; x < count; ++x) {
      for (int c = 0; c < 3; ++c) {
        ws[c][x] = static_cast<double>(a[c]);
        wq[c][x] = static_cast<double>(b[c]);
      }
      if (x + 1 < count) {
        const std::size_t lo = 3 * static_cast<std::size_t>(x), hi = 3 * (static_cast<std::size_t>(x) + w);
        for (int c = 0; c < 3; ++c) {
          a[c] += s[hi + c] - s[lo + c];
          b[c] += q[hi + c] - q[lo + c];
        }
      }
    }
  }
};

}  // namespace

void score_full(const RgbImage& image, const PreparedTemplate& t, ScoreMap& map, float threshold) {
  if (t.flat || map.width == 0 || map.height == 0) return;
  const std::uint32_t W = image.width;
  const std::uint32_t w = t.w, h = t.h;
  const std::uint32_t P = map.width, R = map.height;
  const Kernels& k = active_kernels();
  ColumnSums cols(W);
  for (std::uint32_t dy = 0; dy < h; ++dy) cols.add(image.row(dy));
  std::vector<double> ws[3], wq[3], wp[3];
  for (auto& v : wp) v.resize(P);
  auto row_of = [&](std::size_t x) {
    CellRow r{};
    for (int c = 0; c < 3; ++c) {
      r.s[c] = ws[c].data() + x;
      r.q[c] = wq[c].data() + x;
      r.p[c] = wp[c].data() + x;
    }
    return r;
  };

  if (t.rows_per_chunk == 0) {
    std::int64_t p[3];
    for (std::uint32_t y = 0; y < R; ++y) {
      if (y > 0) cols.slide(image.row(y - 1), image.row(y + h - 1));
      cols.windows(w, P, ws, wq);
      for (std::uint32_t x = 0; x < P; ++x) {
        cross_sums_wide(image, *t.source, x, y, p);
        for (int c = 0; c < 3; ++c) wp[c][x] = static_cast<double>(p[c]);
      }
      k.finalize(row_of(0), t.consts, map.scores.data() + static_cast<std::size_t>(y) * P, P);
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
  std::vector<std::uint8_t> plane(3 * (static_cast<std::size_t>(W) + 1), 0);
  auto load_row = [&](std::uint32_t src_row) {
    std::uint8_t* pl[3] = {plane.data(), plane.data() + W + 1, plane.data() + 2 * (W + 1)};
    k.split(image.row(src_row), W, pl[0], pl[1], pl[2]);
    for (int c = 0; c < 3; ++c) {
      std::uint32_t* dst = slot(c, src_row);
      const std::uint8_t* p = pl[c];  // p[W] stays 0: the sample past the edge
      for (std::uint32_t x = 0; x < W; ++x) dst[x] = p[x] | (static_cast<std::uint32_t>(p[x + 1]) << 16);
    }
  };
  for (std::uint32_t dy = 0; dy < h; ++dy) load_row(dy);

  const std::size_t out_len = round_up(P, 64);
  std::vector<std::uint32_t> out32[3], rest32(64);
  for (auto& o : out32) o.assign(out_len, 0);
  const bool chunked = t.rows_per_chunk < h;
  std::vector<const std::uint32_t*> ptrs[3];
  for (auto& v : ptrs) v.resize(h);

  // Bounds from the template's block means give up most cells before any of their cross
  // sums: 4x4 blocks over the whole row, then 2x2 blocks where a group of cells still has
  // a survivor; groups that keep one are summed in full.
  BlockBound bound4(image, t, threshold, 4), bound2(image, t, threshold, 2);
  const bool bounded = bound4.usable() || bound2.usable();
  std::vector<std::uint8_t> alive4(bound4.usable() ? P : 0), alive2(bound2.usable() ? P : 0);
  auto none_alive = [](const std::vector<std::uint8_t>& alive, std::uint32_t x0, std::uint32_t n) {
    return std::find(alive.begin() + x0, alive.begin() + x0 + n, 1) == alive.begin() + x0 + n;
  };
  // Pruning (see Split): rows [a0, a1) first for every cell, the other rows only for
  // blocks of cells that may still reach the threshold.
  const PreparedTemplate::Split& split = t.split;
  const bool prune = split.usable && !chunked && threshold > -1.0f && !bounded;
  std::vector<const std::uint32_t*> shifted(bounded ? h : 0);
  ColumnSums cols_a(W);
  std::vector<double> wsa[3], wqa[3];
  std::vector<std::uint8_t> alive;
  std::vector<const std::uint32_t*> rows_b;
  SplitConsts split_consts = split.consts;
  split_consts.threshold = static_cast<double>(threshold) - kScoreAllowance;
  if (prune) {
    rows_b.resize(h - (split.a1 - split.a0));
    for (std::uint32_t dy = split.a0; dy < split.a1; ++dy) cols_a.add(image.row(dy));
    alive.resize(P);
  }

  for (std::uint32_t y = 0; y < R; ++y) {
    if (y > 0) {
      cols.slide(image.row(y - 1), image.row(y + h - 1));
      if (prune) cols_a.slide(image.row(y - 1 + split.a0), image.row(y + split.a1 - 1));
      load_row(y + h - 1);
    }
    cols.windows(w, P, ws, wq);
    float* dst = map.scores.data() + static_cast<std::size_t>(y) * P;
    // Rows y .. y + h - 1 sit in the ring from slot y % h on, wrapping once.
    const std::uint32_t first = y % h;
    for (int c = 0; c < 3; ++c) {
      const std::uint32_t* base = slot(c, 0);
      for (std::uint32_t dy = 0, r = first; dy < h; ++dy, r = r + 1 == h ? 0 : r + 1) ptrs[c][dy] = base + r * row_len;
    }

    if (bounded) {
      if (bound4.usable()) {
        bound4.advance(y);
        bound4.test(ws, wq, 0, P, alive4.data());
      }
      if (bound2.usable()) bound2.advance(y);
      // Survivors are few and scattered: groups as narrow as the row kernel's step.
      for (std::uint32_t x0 = 0; x0 < P; x0 += 32) {
        const std::uint32_t n = std::min<std::uint32_t>(32, P - x0);
        bool below = bound4.usable() && none_alive(alive4, x0, n);
        if (!below && bound2.usable()) {
          bound2.test(ws, wq, x0, n, alive2.data());
          below = none_alive(alive2, x0, n);
        }
        if (below) {
          std::fill(dst + x0, dst + x0 + n, kBelowThreshold);
          continue;
        }
        for (int c = 0; c < 3; ++c) {
          for (std::uint32_t r = 0; r < h; ++r) shifted[r] = ptrs[c][r] + x0;
          double* sums = wp[c].data() + x0;
          const std::uint32_t* part = rest32.data();
          for (std::uint32_t d0 = 0; d0 < h; d0 += static_cast<std::uint32_t>(t.rows_per_chunk)) {
            const std::uint32_t m = std::min<std::uint32_t>(static_cast<std::uint32_t>(t.rows_per_chunk), h - d0);
            k.row(shifted.data() + d0, t.taps[c].data() + static_cast<std::size_t>(d0) * t.npairs, m, t.npairs,
                  rest32.data(), n);
            // Partial sums of at most 2^32 each, added exactly in doubles.
            if (d0 == 0) {
              for (std::uint32_t i = 0; i < n; ++i) sums[i] = exact_double(part[i]);
            } else {
              for (std::uint32_t i = 0; i < n; ++i) sums[i] += exact_double(part[i]);
            }
          }
        }
        k.finalize(row_of(x0), t.consts, dst + x0, n);
      }
      continue;
    }

    if (!prune) {
      for (int c = 0; c < 3; ++c) {
        if (!chunked) {
          k.row(ptrs[c].data(), t.taps[c].data(), h, t.npairs, out32[c].data(), P);
          for (std::uint32_t x = 0; x < P; ++x) wp[c][x] = exact_double(out32[c][x]);
        } else {
          std::fill(wp[c].begin(), wp[c].end(), 0.0);
          for (std::uint32_t d0 = 0; d0 < h; d0 += static_cast<std::uint32_t>(t.rows_per_chunk)) {
            const std::uint32_t n = std::min<std::uint32_t>(static_cast<std::uint32_t>(t.rows_per_chunk), h - d0);
            k.row(ptrs[c].data() + d0, t.taps[c].data() + static_cast<std::size_t>(d0) * t.npairs, n, t.npairs,
                  out32[c].data(), P);
            // Partial sums of at most 2^32 each, added exactly in doubles (all below 2^53).
            for (std::uint32_t x = 0; x < P; ++x) wp[c][x] += exact_double(out32[c][x]);
          }
        }
      }
      k.finalize(row_of(0), t.consts, dst, P);
      continue;
    }

    // First rows: cross sums of the split's rows everywhere.
    cols_a.windows(w, P, wsa, wqa);
    const std::uint32_t na = split.a1 - split.a0;
    for (int c = 0; c < 3; ++c) {
      k.row(ptrs[c].data() + split.a0, t.taps[c].data() + static_cast<std::size_t>(split.a0) * t.npairs, na, t.npairs,
            out32[c].data(), P);
    }
    SplitRow srow;
    for (int c = 0; c < 3; ++c) {
      for (std::uint32_t x = 0; x < P; ++x) wp[c][x] = exact_double(out32[c][x]);
      srow.s[c] = ws[c].data();
      srow.q[c] = wq[c].data();
      srow.sa[c] = wsa[c].data();
      srow.qa[c] = wqa[c].data();
      srow.pa[c] = wp[c].data();
    }
    k.prune(srow, split_consts, alive.data(), P);
    // The other rows, block by block, where a cell is still in the running.
    const std::uint32_t nb = h - na;
    const std::uint32_t b0 = split.a0 == 0 ? split.a1 : 0;
    for (std::uint32_t x0 = 0; x0 < P; x0 += 64) {
      const std::uint32_t n = std::min<std::uint32_t>(64, P - x0);
      if (std::find(alive.begin() + x0, alive.begin() + x0 + n, 1) == alive.begin() + x0 + n) {
        std::fill(dst + x0, dst + x0 + n, kBelowThreshold);
        continue;
      }
      for (int c = 0; c < 3; ++c) {
        for (std::uint32_t r = 0; r < nb; ++r) rows_b[r] = ptrs[c][b0 + r] + x0;
        k.row(rows_b.data(), t.taps[c].data() + static_cast<std::size_t>(b0) * t.npairs, nb, t.npairs, rest32.data(),
              n);
        // Both parts are exact and their total is below 2^32.
        for (std::uint32_t i = 0; i < n; ++i) wp[c][x0 + i] = exact_double(out32[c][x0 + i] + rest32[i]);
      }
      k.finalize(row_of(x0), t.consts, dst + x0, n);
    }
  }
}

namespace {

// One band's rows of a refinement window: prefix sums after its last and before its first
// row (hs/ls for the sums, hq/lq for the squares) and the window means a, per channel.
struct BandRows {
  const double *hs[3], *ls[3], *hq[3], *lq[3], *a[3];
};

// Each cell's bound on the band's term (see WindowScorer::bound_row) into `bound`, added to
// `rest`. The three channels are taken in turn within one pass, the same additions in the
// same order as channel by channel; the outputs are declared unaliased so that the loop,
// square root included, is vectorised.
void band_bounds(const BandRows& r, double n, double energy, double* __restrict bound, double* __restrict rest,
                 std::uint32_t count) {
  const double *hs0 = r.hs[0], *ls0 = r.ls[0], *hq0 = r.hq[0], *lq0 = r.lq[0], *a0 = r.a[0];
  const double *hs1 = r.hs[1], *ls1 = r.ls[1], *hq1 = r.hq[1], *lq1 = r.lq[1], *a1 = r.a[1];
  const double *hs2 = r.hs[2], *ls2 = r.ls[2], *hq2 = r.hq[2], *lq2 = r.lq[2], *a2 = r.a[2];
  for (std::uint32_t i = 0; i < count; ++i) {
    const double s0 = hs0[i] - ls0[i], q0 = hq0[i] - lq0[i];
    const double s1 = hs1[i] - ls1[i], q1 = hq1[i] - lq1[i];
    const double s2 = hs2[i] - ls2[i], q2 = hq2[i] - lq2[i];
    double u = 0.0;
    u += q0 - 2.0 * a0[i] * s0 + n * a0[i] * a0[i];
    u += q1 - 2.0 * a1[i] * s1 + n * a1[i] * a1[i];
    u += q2 - 2.0 * a2[i] * s2 + n * a2[i] * a2[i];
    double qs = 0.0;
    qs += q0;
    qs += q1;
    qs += q2;
    bound[i] = std::sqrt(((u > 0.0 ? u : 0.0) + kEnergyAllowance * qs) * energy);
    rest[i] += bound[i];
  }
}

// The scores of one refinement window (see score_window), phase by phase: the window's
// row sums once, then each row of cells bounded, summed band by band while any cell may
// still reach the threshold, and written out. Every buffer is overwritten before it is
// read, so the scratch's sizes only grow and windows after the first cost no allocation
// or clearing.
class WindowScorer {
 public:
  WindowScorer(const RgbImage& image, const PreparedTemplate& t, std::uint32_t x0, std::uint32_t y0, std::uint32_t ww,
               std::uint32_t wh, float threshold, ScoreCache& cache, WindowScratch& scratch)
      : image_(image),
        t_(t),
        x0_(x0),
        y0_(y0),
        ww_(ww),
        wh_(wh),
        pw_(ww - t.w + 1),
        threshold_(threshold),
        cache_(cache),
        cum_s_(scratch.cum_s),
        cum_q_(scratch.cum_q),
        bytes_(scratch.bytes),
        planes_(scratch.planes),
        wide_(t.rows_per_chunk == 0),
        stride_(ww + 32) {}

  // Sums of every template-wide row segment, as prefix sums down the window, so that any
  // band of rows at any position is one subtraction. Integers below 2^53: exact.
  void sum_segments();

  // Row j of cells into `cells`: those already in the cache taken from it, the others
  // scored or proven below the threshold, and cached.
  void score_row(std::uint32_t j, float* cells) {
    if (mark_todo(j) && !wide_) bound_row(j);
    sum_bands(j);
    write_row(j, cells);
  }

 private:
  enum : std::uint8_t { kDone, kAlive, kGivenUp };

  // Pointers to the prefix sums after rows r1 and r0: their difference, position by
  // position, is the sum over window rows [r0, r1).
  std::pair<const double*, const double*> band_sum(const std::vector<double>& cum, std::uint32_t r0,
                                                   std::uint32_t r1) const {
    return std::pair{cum.data() + static_cast<std::size_t>(r1) * pw_, cum.data() + static_cast<std::size_t>(r0) * pw_};
  }

  void prefetch_row(std::uint32_t r) const;
  void need_rows(std::uint32_t r0, std::uint32_t r1);
  bool mark_todo(std::uint32_t j);
  void bound_row(std::uint32_t j);
  void sum_bands(std::uint32_t j);
  void write_row(std::uint32_t j, float* cells);

  const RgbImage& image_;
  const PreparedTemplate& t_;
  const std::uint32_t x0_, y0_, ww_, wh_, pw_;
  const float threshold_;
  ScoreCache& cache_;
  std::vector<double> (&cum_s_)[3];
  std::vector<double> (&cum_q_)[3];
  // The window's rows split into byte planes.
  std::vector<std::uint8_t> (&bytes_)[3];
  // The window's samples as 16-bit planes for the dot kernel, each row padded so that it
  // may read a whole block (and three positions) past the template's last column. Rows
  // are split out only when a band that still has live cells first needs them: most
  // cells are given up after a band or two, and most rows are never read.
  std::vector<std::int16_t> (&planes_)[3];
  std::vector<std::uint8_t> plane_ready_;
  const bool wide_;  // scored by cross_sums_wide
  const std::size_t stride_;

  // Per row of cells: energies, mean samples, limits, the bound on the bands not summed
  // yet and each band's bound, computed for the whole row in straight loops before the
  // cells are visited one by one; then each cell's state and exact sums so far.
  std::vector<double> e_, a_[3], limit_, rest_, bound_, scale_;
  std::vector<std::uint8_t> todo_, state_;
  std::vector<double> exact_;
  std::vector<std::int64_t> pp_[3];
};

void WindowScorer::prefetch_row(std::uint32_t r) const {
  const std::uint8_t* px = image_.at(x0_, y0_ + r);
  const std::size_t row_bytes = 3 * static_cast<std::size_t>(ww_);
  for (std::size_t k = 0; k < row_bytes; k += 64) __builtin_prefetch(px + k);
  __builtin_prefetch(px + row_bytes - 1);
}

void WindowScorer::sum_segments() {
  const std::uint32_t pw = pw_, ww = ww_, wh = wh_;
  for (int c = 0; c < 3; ++c) {
    cum_s_[c].resize(std::max(cum_s_[c].size(), static_cast<std::size_t>(wh + 1) * pw));
    cum_q_[c].resize(cum_s_[c].size());
    std::fill(cum_s_[c].begin(), cum_s_[c].begin() + pw, 0.0);
    std::fill(cum_q_[c].begin(), cum_q_[c].begin() + pw, 0.0);
  }
  for (auto& b : bytes_) b.resize(std::max(b.size(), static_cast<std::size_t>(ww) * wh));
  if (!wide_) {
    for (auto& pl : planes_) pl.resize(std::max(pl.size(), stride_ * wh));
    plane_ready_.assign(wh, 0);
  }
  const SplitKernel split = active_kernels().split;
  // The window's rows lie a whole image row apart, a stride the hardware prefetchers do
  // not follow quickly; ask for a few rows ahead so that the loads below do not wait.
  constexpr std::uint32_t kPrefetchRows = 4;
  for (std::uint32_t r = 0; r < std::min(kPrefetchRows, wh); ++r) prefetch_row(r);
  for (std::uint32_t r = 0; r < wh; ++r) {
    if (r + kPrefetchRows < wh) prefetch_row(r + kPrefetchRows);
    const std::uint8_t* px = image_.at(x0_, y0_ + r);
    // Sums over the first template-wide segment, then slid along the row. The channels are
    // split first so that the sums are straight vector loops.
    std::int64_t seg[6] = {};
    const std::size_t row_off = static_cast<std::size_t>(r) * ww;
    split(px, ww, bytes_[0].data() + row_off, bytes_[1].data() + row_off, bytes_[2].data() + row_off);
    for (int c = 0; c < 3; ++c) {
      const std::uint8_t* p = bytes_[c].data() + row_off;
      if (t_.w <= kMaxTapsPer32BitSum) {
        std::uint32_t a = 0, b = 0;  // below 255 * 255 * 66051 < 2^32
        for (std::uint32_t x = 0; x < t_.w; ++x) {
          const std::uint32_t v = p[x];
          a += v;
          b += v * v;
        }
        seg[c] = a;
        seg[3 + c] = b;
      } else {
        for (std::uint32_t x = 0; x < t_.w; ++x) {
          const std::int64_t v = p[x];
          seg[c] += v;
          seg[3 + c] += v * v;
        }
      }
    }
    const std::size_t above = static_cast<std::size_t>(r) * pw, here = above + pw;
    for (std::uint32_t i = 0; i < pw; ++i) {
      for (int c = 0; c < 3; ++c) {
        cum_s_[c][here + i] = cum_s_[c][above + i] + static_cast<double>(seg[c]);
        cum_q_[c][here + i] = cum_q_[c][above + i] + static_cast<double>(seg[3 + c]);
      }
      if (i + 1 < pw) {
        for (int c = 0; c < 3; ++c) {
          const std::uint8_t* p = bytes_[c].data() + row_off;
          const std::int64_t o = p[i], n = p[i + t_.w];
          seg[c] += n - o;
          seg[3 + c] += n * n - o * o;
        }
      }
    }
  }
  // The per-row buffers, sized once for the window.
  const std::size_t nbands = t_.bands.size();
  for (auto* v : {&e_, &a_[0], &a_[1], &a_[2], &limit_, &rest_, &scale_, &exact_}) v->resize(pw);
  bound_.resize(nbands * pw);
  todo_.resize(pw);
  state_.resize(pw);
  for (auto& v : pp_) v.resize(pw);
}

void WindowScorer::need_rows(std::uint32_t r0, std::uint32_t r1) {
  for (std::uint32_t r = r0; r < r1; ++r) {
    if (plane_ready_[r]) continue;
    plane_ready_[r] = 1;
    for (int c = 0; c < 3; ++c) {
      const std::uint8_t* src = bytes_[c].data() + r * static_cast<std::size_t>(ww_);
      std::int16_t* dst = planes_[c].data() + r * stride_;
      for (std::uint32_t x = 0; x < ww_; ++x) dst[x] = src[x];
      std::fill(dst + ww_, dst + stride_, 0);
    }
  }
}

// Which cells of row j the cache does not hold yet; whether there are any.
bool WindowScorer::mark_todo(std::uint32_t j) {
  bool any = false;
  for (std::uint32_t i = 0; i < pw_; ++i) {
    todo_[i] = std::isnan(cache_.at(x0_ + i, y0_ + j));
    any = any || todo_[i];
  }
  return any;
}

// The correlation's numerator splits into one term per band, and each band's term is at
// most the root of the product of the window's and the template's centred energies over
// that band (Cauchy-Schwarz). Bands are summed exactly one by one; once the exact part
// plus the bound on the rest cannot reach the threshold, the cell is given up. The
// allowances (see SplitConsts) keep a cell that does reach the threshold from ever being
// given up through rounding.
void WindowScorer::bound_row(std::uint32_t j) {
  const std::uint32_t pw = pw_;
  const PreparedTemplate& t = t_;
  std::fill(e_.begin(), e_.end(), 0.0);
  std::fill(scale_.begin(), scale_.end(), 0.0);
  for (int c = 0; c < 3; ++c) {
    const auto [hi_s, lo_s] = band_sum(cum_s_[c], j, j + t.h);
    const auto [hi_q, lo_q] = band_sum(cum_q_[c], j, j + t.h);
    for (std::uint32_t i = 0; i < pw; ++i) {
      const double sc = hi_s[i] - lo_s[i], qc = hi_q[i] - lo_q[i];
      const double v = qc - sc * sc / t.n;
      e_[i] += v > 0.0 ? v : 0.0;
      a_[c][i] = sc / t.n;
      scale_[i] += qc;
    }
  }
  for (std::uint32_t i = 0; i < pw; ++i) {
    limit_[i] = (static_cast<double>(threshold_) - kScoreAllowance) * std::sqrt(e_[i]) * t.norm -
                kSumAllowance * (scale_[i] + t.sum_slack);
    rest_[i] = 0.0;
  }
  for (std::size_t b = 0; b < t.bands.size(); ++b) {
    const auto& band = t.bands[b];
    BandRows rows;
    for (int c = 0; c < 3; ++c) {
      std::tie(rows.hs[c], rows.ls[c]) = band_sum(cum_s_[c], j + band.r0, j + band.r1);
      std::tie(rows.hq[c], rows.lq[c]) = band_sum(cum_q_[c], j + band.r0, j + band.r1);
      rows.a[c] = a_[c].data();
    }
    band_bounds(rows, band.n, band.energy, bound_.data() + b * pw, rest_.data(), pw);
  }
}

// Bands in order, each summed for every cell of the row still in the running, four
// neighbouring cells per kernel call so that the band's template rows stay in cache.
void WindowScorer::sum_bands(std::uint32_t j) {
  const std::uint32_t pw = pw_;
  const PreparedTemplate& t = t_;
  for (std::uint32_t i = 0; i < pw; ++i) {
    state_[i] = !todo_[i] || wide_ || !(e_[i] >= 1e-12) ? kDone : (rest_[i] < limit_[i] ? kGivenUp : kAlive);
    exact_[i] = 0.0;
    for (int c = 0; c < 3; ++c) pp_[c][i] = 0;
  }
  const DotKernel dot = active_kernels().dot;
  const std::size_t nblocks = t.wpad / 16;
  for (std::size_t b = 0; b < t.bands.size(); ++b) {
    const auto& band = t.bands[b];
    const std::size_t toff = static_cast<std::size_t>(band.r0) * t.wpad;
    bool any_alive = false;
    for (std::uint32_t i0 = 0; i0 < pw; i0 += 4) {
      const std::uint32_t n = std::min<std::uint32_t>(4, pw - i0);
      bool alive = false;
      for (std::uint32_t k = 0; k < n; ++k) alive = alive || state_[i0 + k] == kAlive;
      if (!alive) continue;
      if (!any_alive) need_rows(j + band.r0, j + band.r1);
      any_alive = true;
      const std::size_t off = static_cast<std::size_t>(j + band.r0) * stride_ + i0;
      for (int c = 0; c < 3; ++c) {
        std::uint32_t pb[4];
        dot(planes_[c].data() + off, stride_, t.planar[c].data() + toff, t.wpad, band.r1 - band.r0, nblocks, pb);
        const auto [hi_s, lo_s] = band_sum(cum_s_[c], j + band.r0, j + band.r1);
        for (std::uint32_t k = 0; k < n; ++k) {
          const std::uint32_t i = i0 + k;
          if (state_[i] != kAlive) continue;
          pp_[c][i] += pb[k];
          const double sb = hi_s[i] - lo_s[i];
          exact_[i] += static_cast<double>(pb[k]) - t.mean[c] * sb - a_[c][i] * static_cast<double>(band.S[c]) +
                       band.n * a_[c][i] * t.mean[c];
        }
      }
    }
    if (!any_alive) break;
    for (std::uint32_t i = 0; i < pw; ++i) {
      if (state_[i] != kAlive) continue;
      rest_[i] -= bound_[b * pw + i];
      if (exact_[i] + rest_[i] < limit_[i]) state_[i] = kGivenUp;
    }
  }
}

void WindowScorer::write_row(std::uint32_t j, float* cells) {
  std::int64_t s[3], q[3], p[3];
  for (std::uint32_t i = 0; i < pw_; ++i) {
    float& slot = cache_.at(x0_ + i, y0_ + j);
    float& cell = cells[i];
    if (!todo_[i]) {
      cell = slot;
      continue;
    }
    for (int c = 0; c < 3; ++c) {
      const auto [hi_s, lo_s] = band_sum(cum_s_[c], j, j + t_.h);
      const auto [hi_q, lo_q] = band_sum(cum_q_[c], j, j + t_.h);
      s[c] = static_cast<std::int64_t>(hi_s[i] - lo_s[i]);
      q[c] = static_cast<std::int64_t>(hi_q[i] - lo_q[i]);
      p[c] = pp_[c][i];
    }
    if (wide_) {
      cross_sums_wide(image_, *t_.source, x0_ + i, y0_ + j, p);
    } else if (state_[i] == kGivenUp) {
      cell = slot = kBelowThreshold;
      continue;
    }
    // Survivors have every band summed; flat windows score 0 whatever p holds.
    cell = slot = cell_score(t_, s, q, p);
  }
}

}  // namespace

ScoreMap score_window(const RgbImage& image, const PreparedTemplate& t, std::uint32_t x0, std::uint32_t y0,
                      std::uint32_t x1, std::uint32_t y1, float threshold, ScoreCache& cache, WindowScratch& scratch) {
  ScoreMap map;
  const std::uint32_t ww = x1 - x0, wh = y1 - y0;
  if (ww < t.w || wh < t.h) return map;
  map.width = ww - t.w + 1;
  map.height = wh - t.h + 1;
  map.scores.assign(static_cast<std::size_t>(map.width) * map.height, 0.0f);
  if (t.flat) return map;
  WindowScorer scorer(image, t, x0, y0, ww, wh, threshold, cache, scratch);
  scorer.sum_segments();
  for (std::uint32_t j = 0; j < map.height; ++j)
    scorer.score_row(j, map.scores.data() + static_cast<std::size_t>(j) * map.width);
  return map;
}

}  // namespace lumetra::detail
