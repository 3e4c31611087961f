#include "block_bound.h"

#include <algorithm>

namespace lumetra::detail {
namespace {

// A template whose energy around its block means is most of its energy leaves a bound near
// 1 for every textured window: the bound would cost without pruning.
constexpr double kMaxResidualShare = 0.8;
// Below this many template pixels the per-cell arithmetic of the bound costs about as much
// as the cross sums it saves (measured on the desktops in testdata).
constexpr double kMinPixels = 2048;

std::size_t round_up(std::size_t v, std::size_t m) { return (v + m - 1) / m * m; }

}  // namespace

BlockBound::BlockBound(const RgbImage& image, const PreparedTemplate& t, float threshold, std::uint32_t block)
    : image_(&image), t_(&t), k_(block) {
  const std::uint32_t k = block;
  // Up to 8 x 8, a box sum (at most 255 * 64) is a signed 16-bit sample for the row kernel.
  if (k < 2 || k > 8 || t.flat || !(threshold > -1.0f) || t.n < kMinPixels || image.width < t.w || image.height < t.h)
    return;
  nbx_ = t.w / k;
  nby_ = t.h / k;
  // Block sums reach 255 * k^2, so a block's product with its template sum is below
  // (255 * k^2)^2: sums over this many block rows still fit in 32 unsigned bits.
  const std::uint64_t most = 255ull * k * k * 255ull * k * k;
  rows_per_chunk_ =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(nby_, 0xFFFFFFFFull / most / std::max(nbx_, 1u)));
  if (nbx_ < 2 || nby_ < 2 || rows_per_chunk_ == 0) return;
  P_ = image.width - t.w + 1;
  threshold_ = static_cast<double>(threshold) - kScoreAllowance;

  const RgbImage& tpl = *t.source;
  npairs_ = (nbx_ + 1) / 2;
  double vt = 0.0, qsum = 0.0;
  ne_ = t.n - static_cast<double>(k * k) * nbx_ * nby_;
  for (int c = 0; c < 3; ++c) {
    taps_[c].assign(static_cast<std::size_t>(nby_) * npairs_, 0);
    std::int64_t S = 0, Q = 0, inside = 0, blocks_sq = 0;
    for (std::uint32_t y = 0; y < t.h; ++y) {
      for (std::uint32_t x = 0; x < t.w; ++x) {
        const std::int64_t v = tpl.row(y)[3 * x + c];
        S += v;
        Q += v * v;
      }
    }
    for (std::uint32_t by = 0; by < nby_; ++by) {
      for (std::uint32_t bx = 0; bx < nbx_; ++bx) {
        std::uint32_t tb = 0;
        for (std::uint32_t y = by * k; y < by * k + k; ++y)
          for (std::uint32_t x = bx * k; x < bx * k + k; ++x) tb += tpl.row(y)[3 * x + c];
        taps_[c][by * npairs_ + bx / 2] |= bx % 2 == 0 ? tb : tb << 16;
        inside += tb;
        blocks_sq += static_cast<std::int64_t>(tb) * tb;
      }
    }
    double v = static_cast<double>(Q) - static_cast<double>(blocks_sq) / (k * k);
    if (ne_ > 0.0) {
      const double se = static_cast<double>(S - inside);
      te_[c] = se / ne_;
      v -= se * se / ne_;
    }
    vt += v;
    qsum += static_cast<double>(Q);
  }
  vt_ = std::max(vt, 0.0) + kEnergyAllowance * qsum;
  if (vt_ > kMaxResidualShare * t.norm * t.norm) return;

  usable_ = true;
  // Room for the row kernel to read a whole step past the last group of cells.
  phase_len_ = round_up((P_ + k - 1) / k, 64) + 64 + 2 * npairs_ + 2;
  ring_.resize(static_cast<std::size_t>(k) * nby_ + k);
  for (BoxRow& b : ring_) {
    for (int c = 0; c < 3; ++c) {
      b.packed[c].assign(static_cast<std::size_t>(k) * phase_len_, 0);
      b.h[c].resize(P_);
    }
    b.g.resize(P_);
  }
  bytes_.resize(3 * static_cast<std::size_t>(image.width));
  for (auto& b : box_) b.assign(image.width + 2 * static_cast<std::size_t>(k), 0);
  gbox_.resize(image.width);
  acc_.assign(static_cast<std::size_t>(k) * 4 * P_, 0.0);
  colsum_.resize(3 * static_cast<std::size_t>(image.width));
  lsum_.resize(P_);
  qa0_.resize(P_);
  zeros_.assign(P_, 0.0);
  consts_.score = t.consts;
  consts_.energy_b = vt_;
  consts_.sum_slack = t.sum_slack;
  consts_.threshold = threshold_;
  lraw_.resize(round_up((P_ + k - 1) / k, 64));
  rows_.resize(nby_);
}

void BlockBound::build_box_row(std::uint32_t r, BoxRow& out) {
  const std::uint32_t k = k_, W = image_->width;
  const std::uint32_t nbox = W - k + 1;  // box positions on the row
  const SplitKernel split = active_kernels().split;
  for (std::uint32_t j = 0; j < k; ++j) {
    split(image_->row(r + j), W, bytes_.data(), bytes_.data() + W, bytes_.data() + 2 * static_cast<std::size_t>(W));
    for (std::size_t i = 0; i < bytes_.size(); ++i) colsum_[i] = (j == 0 ? 0u : colsum_[i]) + bytes_[i];
  }
  for (int c = 0; c < 3; ++c) {
    const std::uint32_t* cs = colsum_.data() + static_cast<std::size_t>(c) * W;
    std::uint32_t* b = box_[c].data();
    for (std::uint32_t x = 0; x < nbox; ++x) b[x] = cs[x];
    for (std::uint32_t i = 1; i < k; ++i)
      for (std::uint32_t x = 0; x < nbox; ++x) b[x] += cs[x + i];
  }
  for (std::uint32_t x = 0; x < nbox; ++x)
    gbox_[x] = static_cast<double>(box_[0][x] * box_[0][x] + box_[1][x] * box_[1][x] + box_[2][x] * box_[2][x]);
  for (int c = 0; c < 3; ++c) {
    // box_ is zero past nbox, and so is the packed row past its samples.
    const std::uint32_t* b = box_[c].data();
    for (std::uint32_t phase = 0; phase < k; ++phase) {
      std::uint32_t* dst = out.packed[c].data() + static_cast<std::size_t>(phase) * phase_len_;
      for (std::size_t j = 0, x = phase; x < nbox; ++j, x += k) dst[j] = b[x] | (b[x + k] << 16);
    }
  }
  // Sums over the block columns, first directly, then running along each phase: exact
  // integers in doubles, so the running sums do not drift.
  for (std::uint32_t x = 0; x < std::min(k, P_); ++x) {
    double sum[4] = {};
    for (std::uint32_t bx = 0; bx < nbx_; ++bx) {
      for (int c = 0; c < 3; ++c) sum[c] += box_[c][x + k * bx];
      sum[3] += gbox_[x + k * bx];
    }
    for (int c = 0; c < 3; ++c) out.h[c][x] = sum[c];
    out.g[x] = sum[3];
  }
  const std::uint32_t span = k * nbx_;
  for (std::uint32_t x = k; x < P_; ++x) {
    for (int c = 0; c < 3; ++c)
      out.h[c][x] = out.h[c][x - k] + (static_cast<double>(box_[c][x - k + span]) - box_[c][x - k]);
    out.g[x] = out.g[x - k] + (gbox_[x - k + span] - gbox_[x - k]);
  }
}

void BlockBound::advance(std::uint32_t y) {
  const std::uint32_t k = k_;
  y_ = y;
  const std::uint32_t last = y + k * (nby_ - 1);
  // Box rows come in order; the ring keeps the k rows below y that the running sums drop.
  if (y == 0) {
    for (std::uint32_t r = 0; r < last; ++r) build_box_row(r, slot(r));
  }
  build_box_row(last, slot(last));

  // Sums over the block rows, per channel of the boxes (3) and of their squares (1).
  double* acc = acc_.data() + static_cast<std::size_t>(y % k) * 4 * P_;
  auto arrays = [&](BoxRow& b, int a) -> const double* { return a < 3 ? b.h[a].data() : b.g.data(); };
  for (int a = 0; a < 4; ++a) {
    double* dst = acc + static_cast<std::size_t>(a) * P_;
    if (y < k) {
      std::fill(dst, dst + P_, 0.0);
      for (std::uint32_t by = 0; by < nby_; ++by) {
        const double* src = arrays(slot(y + k * by), a);
        for (std::uint32_t x = 0; x < P_; ++x) dst[x] += src[x];
      }
    } else {
      const double* in = arrays(slot(last), a);
      const double* out = arrays(slot(y - k), a);
      for (std::uint32_t x = 0; x < P_; ++x) dst[x] += in[x] - out[x];
    }
  }
}

void BlockBound::test(const std::vector<double> ws[3], const std::vector<double> wq[3], std::uint32_t x0,
                      std::uint32_t n, std::uint8_t* alive) {
  const std::uint32_t k = k_, y = y_;
  const double* acc = acc_.data() + static_cast<std::size_t>(y % k) * 4 * P_;
  // Exact sums of block sums times template block sums, phase by phase of x (x0 is a
  // multiple of k), in chunks of block rows whose sums fit in 32 bits.
  std::fill(lsum_.begin() + x0, lsum_.begin() + x0 + n, 0.0);
  const Kernels& kern = active_kernels();
  const double inv_area = 1.0 / (k * k);
  for (int c = 0; c < 3; ++c) {
    for (std::uint32_t phase = 0; phase < k && phase < n; ++phase) {
      const std::size_t count = (n - phase + k - 1) / k;
      for (std::uint32_t by = 0; by < nby_; ++by)
        rows_[by] = slot(y + k * by).packed[c].data() + static_cast<std::size_t>(phase) * phase_len_ + x0 / k;
      for (std::uint32_t b0 = 0; b0 < nby_; b0 += rows_per_chunk_) {
        const std::uint32_t m = std::min(rows_per_chunk_, nby_ - b0);
        kern.row(rows_.data() + b0, taps_[c].data() + static_cast<std::size_t>(b0) * npairs_, m, npairs_, lraw_.data(),
                 count);
        for (std::size_t i = 0; i < count; ++i) lsum_[x0 + k * i + phase] += static_cast<double>(lraw_[i]);
      }
    }
  }

  // What is left is the test of the split pruning, with the block means standing in for
  // the exact part and VW for the energy of the rest: feed that kernel accordingly. Its
  // part A is "no rows" (sa = s, na = 0, template sums 0), its exact part the linear
  // term, and q - qa the window's energy around its block means, already raised by the
  // allowance for its own rounding.
  const double* core[3] = {acc + x0, acc + P_ + x0, acc + 2 * static_cast<std::size_t>(P_) + x0};
  const double* gsum = acc + 3 * static_cast<std::size_t>(P_) + x0;
  const double* s0 = ws[0].data() + x0;
  const double* s1 = ws[1].data() + x0;
  const double* s2 = ws[2].data() + x0;
  const double* q0 = wq[0].data() + x0;
  const double* q1 = wq[1].data() + x0;
  const double* q2 = wq[2].data() + x0;
  const double inv_ne = ne_ > 0.0 ? 1.0 / ne_ : 0.0;
  const double t0 = te_[0], t1 = te_[1], t2 = te_[2];
  double* lin = lsum_.data() + x0;
  double* qa0 = qa0_.data() + x0;
  const std::size_t cells = n;
  for (std::size_t x = 0; x < cells; ++x) {
    const double e0 = s0[x] - core[0][x], e1 = s1[x] - core[1][x], e2 = s2[x] - core[2][x];
    lin[x] = lin[x] * inv_area + (t0 * e0 + t1 * e1 + t2 * e2);
    const double qsum = q0[x] + q1[x] + q2[x];
    const double vw = qsum - gsum[x] * inv_area - (e0 * e0 + e1 * e1 + e2 * e2) * inv_ne;
    qa0[x] = q0[x] - ((vw > 0.0 ? vw : 0.0) + kEnergyAllowance * qsum);
  }
  SplitRow srow;
  for (int c = 0; c < 3; ++c) {
    srow.s[c] = ws[c].data() + x0;
    srow.q[c] = wq[c].data() + x0;
    srow.sa[c] = ws[c].data() + x0;
    srow.qa[c] = c == 0 ? qa0_.data() + x0 : wq[c].data() + x0;
    srow.pa[c] = c == 0 ? lsum_.data() + x0 : zeros_.data() + x0;
  }
  kern.prune(srow, consts_, alive + x0, n);
}

}  // namespace lumetra::detail
