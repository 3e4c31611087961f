#include "lumetra/resample.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "checks.h"
#include "simd.h"

namespace lumetra {
namespace {

double triangle(double x) {
  x = std::fabs(x);
  return x < 1.0 ? 1.0 - x : 0.0;
}

double sinc(double x) {
  if (x == 0.0) return 1.0;
  const double px = std::numbers::pi * x;
  return std::sin(px) / px;
}

double lanczos3(double x) {
  if (std::fabs(x) >= 3.0) return 0.0;
  return sinc(x) * sinc(x / 3.0);
}

// For each output index, the source range and the normalised weights of its taps.
struct Taps {
  std::vector<std::uint32_t> first;
  std::vector<std::uint32_t> count;
  std::vector<std::size_t> offset;  // into weights
  std::vector<float> weights;
};

Taps make_taps(std::uint32_t src_n, std::uint32_t dst_n, ResizeFilter filter) {
  const double support_1 = filter == ResizeFilter::Triangle ? 1.0 : 3.0;
  const auto kernel = filter == ResizeFilter::Triangle ? triangle : lanczos3;
  const double factor = static_cast<double>(dst_n) / src_n;
  // Stretching the kernel when shrinking makes it a low-pass filter at the new rate.
  const double stretch = std::max(1.0, 1.0 / factor);
  const double support = support_1 * stretch;

  Taps taps;
  taps.first.resize(dst_n);
  taps.count.resize(dst_n);
  taps.offset.resize(dst_n);
  if (src_n == dst_n) {
    // An axis that keeps its size is copied: Lanczos weights at whole-pixel distances are
    // zero only up to rounding, and such dust should not touch the samples.
    for (std::uint32_t i = 0; i < dst_n; ++i) {
      taps.first[i] = i;
      taps.count[i] = 1;
      taps.offset[i] = i;
    }
    taps.weights.assign(dst_n, 1.0f);
    return taps;
  }
  taps.weights.reserve(static_cast<std::size_t>(dst_n) * static_cast<std::size_t>(2 * support + 2));
  std::vector<double> w;
  for (std::uint32_t i = 0; i < dst_n; ++i) {
    const double centre = (i + 0.5) / factor;  // in source coordinates, pixel j spans [j, j+1)
    const double lo_f = std::floor(centre - support);
    const double hi_f = std::ceil(centre + support);
    const auto lo = static_cast<std::int64_t>(std::max(0.0, lo_f));
    const auto hi = static_cast<std::int64_t>(std::min<double>(src_n, hi_f));
    w.clear();
    double sum = 0.0;
    for (std::int64_t j = lo; j < hi; ++j) {
      const double v = kernel((static_cast<double>(j) + 0.5 - centre) / stretch);
      w.push_back(v);
      sum += v;
    }
    // Drop zero-weight taps at both ends so the inner loops do no useless work.
    std::size_t a = 0, b = w.size();
    while (a < b && w[a] == 0.0) ++a;
    while (b > a && w[b - 1] == 0.0) --b;
    if (a == b || sum == 0.0) {
      // Cannot happen for these kernels (the tap nearest the centre always has weight),
      // but never leave an output pixel without a source.
      const auto nearest = static_cast<std::uint32_t>(std::clamp<double>(std::floor(centre), 0.0, src_n - 1.0));
      taps.first[i] = nearest;
      taps.count[i] = 1;
      taps.offset[i] = taps.weights.size();
      taps.weights.push_back(1.0f);
      continue;
    }
    taps.first[i] = static_cast<std::uint32_t>(lo + static_cast<std::int64_t>(a));
    taps.count[i] = static_cast<std::uint32_t>(b - a);
    taps.offset[i] = taps.weights.size();
    for (std::size_t k = a; k < b; ++k) taps.weights.push_back(static_cast<float>(w[k] / sum));
  }
  return taps;
}

}  // namespace

RgbImage resize(const RgbImage& src, std::uint32_t width, std::uint32_t height, ResizeFilter filter) {
  detail::require_well_formed(src, "resize");
  if (width == src.width && height == src.height) return src;
  RgbImage dst(width, height);
  if (dst.empty() || src.empty()) return dst;

  const Taps vt = make_taps(src.height, height, filter);
  const Taps ht = make_taps(src.width, width, filter);
  const std::size_t src_stride = src.stride();

  // Columns first: every output row is a weighted sum of whole source rows, which is a
  // straight vector loop over the row, and when shrinking it cuts the row count before
  // the costlier pass over interleaved pixels.
  const detail::VResizeKernel vresize = detail::active_kernels().vresize;
  const detail::HResizeKernel hresize = detail::active_kernels().hresize;
  std::vector<float> mid(src_stride + 1);  // the horizontal pass may read one float past the row
  std::vector<const std::uint8_t*> rows;
  for (std::uint32_t oy = 0; oy < height; ++oy) {
    rows.clear();
    for (std::uint32_t k = 0; k < vt.count[oy]; ++k) rows.push_back(src.row(vt.first[oy] + k));
    vresize(rows.data(), vt.weights.data() + vt.offset[oy], rows.size(), mid.data(), src_stride);
    hresize(mid.data(), ht.first.data(), ht.count.data(), ht.offset.data(), ht.weights.data(), width, dst.row(oy));
  }
  return dst;
}

RgbImage crop(const RgbImage& src, std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height) {
  detail::require_well_formed(src, "crop");
  if (x >= src.width || y >= src.height) return RgbImage();
  const std::uint32_t w = std::min<std::uint32_t>(width, src.width - x);
  const std::uint32_t h = std::min<std::uint32_t>(height, src.height - y);
  RgbImage out(w, h);
  if (out.empty()) return RgbImage();
  for (std::uint32_t r = 0; r < h; ++r) std::memcpy(out.row(r), src.at(x, y + r), out.stride());
  return out;
}

}  // namespace lumetra
