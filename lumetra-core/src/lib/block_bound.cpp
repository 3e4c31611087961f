#include "block_bound.h"

#include <algorithm>
#include <cmath>

namespace lumetra::detail {
namespace {

constexpr std::uint32_t kBlock = 2;
// Block sums reach 255 * k^2, so a block's product with its template sum is below
// (255 * k^2)^2; this many of them still fit in one unsigned 32-bit sum.
constexpr std::uint64_t kMaxBlocksPer32BitSum = 0xFFFFFFFFull / ((255ull * kBlock * kBlock) * (255ull * kBlock * kBlock));
// A template whose energy around its block means is most of its energy leaves a bound near
// 1 for every textured window: the bound would cost without pruning.
constexpr double kMaxResidualShare = 0.8;

std::size_t round_up(std::size_t v, std::size_t m) { return (v + m - 1) / m * m; }

}  // namespace

BlockBound::BlockBound(const RgbImage& image, const PreparedTemplate& t, float threshold)
    : image_(&image), t_(&t) {
  const std::uint32_t k = k_ = kBlock;
  if (t.flat || !(threshold > -1.0f) || image.width < t.w || image.height < t.h) return;
  nbx_ = t.w / k;
  nby_ = t.h / k;
  if (nbx_ < 2 || nby_ < 2 || static_cast<std::uint64_t>(nbx_) * nby_ > kMaxBlocksPer32BitSum) return;
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
  phase_len_ = round_up((P_ + k - 1) / k, 64) + 2 * npairs_ + 2;
  ring_.resize(static_cast<std::size_t>(k) * nby_ + k);
  acc_.assign(static_cast<std::size_t>(k) * 4 * P_, 0.0);
  colsum_.resize(3 * static_cast<std::size_t>(image.width));
  lraw_.resize(round_up((P_ + k - 1) / k, 64));
}

void BlockBound::build_box_row(std::uint32_t r, BoxRow& out) {
  const std::uint32_t k = k_, W = image_->width;
  const std::uint32_t nbox = W - k + 1;  // box positions on the row
  std::fill(colsum_.begin(), colsum_.end(), 0u);
  for (std::uint32_t j = 0; j < k; ++j) {
    const std::uint8_t* px = image_->row(r + j);
    for (std::size_t i = 0; i < colsum_.size(); ++i) colsum_[i] += px[i];
  }
  std::vector<std::uint32_t> box[3];
  std::vector<double> gbox(nbox, 0.0);
  for (int c = 0; c < 3; ++c) {
    box[c].assign(nbox, 0);
    for (std::uint32_t x = 0; x < nbox; ++x) {
      std::uint32_t b = 0;
      for (std::uint32_t i = 0; i < k; ++i) b += colsum_[3 * (x + i) + c];
      box[c][x] = b;
      gbox[x] += static_cast<double>(b) * b;
    }
  }
  auto running = [&](auto value, std::vector<double>& h) {
    // h[x] = sum over block columns of value(x + k * bx); exact integers in doubles.
    h.resize(P_);
    for (std::uint32_t x = 0; x < P_; ++x) {
      if (x < k) {
        double sum = 0.0;
        for (std::uint32_t bx = 0; bx < nbx_; ++bx) sum += value(x + k * bx);
        h[x] = sum;
      } else {
        h[x] = h[x - k] - value(x - k) + value(x - k + k * nbx_);
      }
    }
  };
  for (int c = 0; c < 3; ++c) {
    out.packed[c].assign(static_cast<std::size_t>(k) * phase_len_, 0);
    for (std::uint32_t phase = 0; phase < k; ++phase) {
      std::uint32_t* dst = out.packed[c].data() + static_cast<std::size_t>(phase) * phase_len_;
      auto sample = [&](std::size_t j) -> std::uint32_t {
        const std::size_t x = k * j + phase;
        return x < nbox ? box[c][x] : 0u;
      };
      for (std::size_t j = 0; k * j + phase < nbox; ++j) dst[j] = sample(j) | (sample(j + 1) << 16);
    }
    const std::vector<std::uint32_t>& b = box[c];
    running([&b](std::uint32_t x) { return static_cast<double>(b[x]); }, out.h[c]);
  }
  running([&gbox](std::uint32_t x) { return gbox[x]; }, out.g);
}

void BlockBound::row(std::uint32_t y, const std::vector<double> ws[3], const std::vector<double> wq[3],
                     std::uint8_t* alive) {
  const std::uint32_t k = k_;
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

  // Exact sums of block sums times template block sums, phase by phase of x.
  std::vector<double> lsum(P_, 0.0);
  const Kernels& kern = active_kernels();
  std::vector<const std::uint32_t*> rows(nby_);
  const double inv_area = 1.0 / (k * k);  // a power of two: exact
  for (int c = 0; c < 3; ++c) {
    for (std::uint32_t phase = 0; phase < k && phase < P_; ++phase) {
      const std::size_t count = (P_ - phase + k - 1) / k;
      for (std::uint32_t by = 0; by < nby_; ++by)
        rows[by] = slot(y + k * by).packed[c].data() + static_cast<std::size_t>(phase) * phase_len_;
      kern.row(rows.data(), taps_[c].data(), nby_, npairs_, lraw_.data(), count);
      for (std::size_t i = 0; i < count; ++i) lsum[k * i + phase] += static_cast<double>(lraw_[i]) * inv_area;
    }
  }

  const ScoreConsts& sc = t_->consts;
  const double* core[3] = {acc, acc + P_, acc + 2 * static_cast<std::size_t>(P_)};
  const double* gsum = acc + 3 * static_cast<std::size_t>(P_);
  const bool zero_reaches = 0.0 >= threshold_ + kScoreAllowance;
  for (std::uint32_t x = 0; x < P_; ++x) {
    double e = 0.0, lin = lsum[x], qsum = 0.0, rest = 0.0;
    for (int c = 0; c < 3; ++c) {
      const double s = ws[c][x], q = wq[c][x];
      const double v = q - s * s / sc.n;
      e += v > 0.0 ? v : 0.0;
      qsum += q;
      if (ne_ > 0.0) {
        const double se = s - core[c][x];
        lin += te_[c] * se;
        rest += se * se / ne_;
      }
      lin -= sc.mean[c] * s;
    }
    if (e < 1e-12) {
      alive[x] = zero_reaches;
      continue;
    }
    const double vw = qsum - gsum[x] * inv_area - rest;
    const double bound = lin + std::sqrt(((vw > 0.0 ? vw : 0.0) + kEnergyAllowance * qsum) * vt_);
    const double limit = threshold_ * std::sqrt(e) * sc.norm - kSumAllowance * (qsum + t_->sum_slack);
    alive[x] = bound >= limit;
  }
}

}  // namespace lumetra::detail
