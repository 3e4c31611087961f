#include "lumetra/color.h"

#include <algorithm>

#include "checks.h"
#include "simd.h"

namespace lumetra {
namespace {

constexpr std::uint32_t kRectangleTolerance = 5;

std::uint8_t clamp_tolerance(std::uint32_t tolerance) {
  return static_cast<std::uint8_t>(std::min<std::uint32_t>(tolerance, 255));
}

}  // namespace

std::vector<std::uint8_t> color_mask(std::span<const std::uint8_t> rgb, std::uint32_t width, std::uint32_t height,
                                     Rgb8 color, std::uint32_t tolerance) {
  detail::require_rgb_size(rgb.size(), width, height, "color_mask");
  const std::size_t n = static_cast<std::size_t>(width) * height;
  std::vector<std::uint8_t> mask(n);
  const std::uint8_t c[3] = {color.r, color.g, color.b};
  if (n > 0) detail::active_kernels().mask(rgb.data(), n, c, clamp_tolerance(tolerance), mask.data());
  return mask;
}

std::vector<ColorRegion> find_color_regions(std::span<const std::uint8_t> rgb, std::uint32_t width,
                                            std::uint32_t height, Rgb8 color, std::uint32_t tolerance,
                                            std::uint32_t min_width, std::uint32_t min_height) {
  std::vector<std::uint8_t> mask = color_mask(rgb, width, height, color, tolerance);
  const std::uint32_t need_w = std::max<std::uint32_t>(min_width, 1);
  const std::uint32_t need_h = std::max<std::uint32_t>(min_height, 1);
  constexpr std::uint8_t kVisited = 2;

  std::vector<ColorRegion> regions;
  // Explicit stack: one screen-sized area would overflow the call stack by recursion.
  std::vector<std::size_t> stack;
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const std::size_t seed = static_cast<std::size_t>(y) * width + x;
      if (mask[seed] != 1) continue;
      std::uint32_t min_x = x, max_x = x, min_y = y, max_y = y;
      mask[seed] = kVisited;
      stack.push_back(seed);
      while (!stack.empty()) {
        const std::size_t i = stack.back();
        stack.pop_back();
        const auto py = static_cast<std::uint32_t>(i / width);
        const auto px = static_cast<std::uint32_t>(i % width);
        min_x = std::min(min_x, px);
        max_x = std::max(max_x, px);
        min_y = std::min(min_y, py);
        max_y = std::max(max_y, py);
        auto visit = [&](std::size_t j) {
          if (mask[j] == 1) {
            mask[j] = kVisited;
            stack.push_back(j);
          }
        };
        if (px > 0) visit(i - 1);
        if (px + 1 < width) visit(i + 1);
        if (py > 0) visit(i - width);
        if (py + 1 < height) visit(i + width);
      }
      const std::uint32_t w = max_x - min_x + 1, h = max_y - min_y + 1;
      if (w >= need_w && h >= need_h) regions.push_back(ColorRegion{min_x, min_y, w, h});
    }
  }
  std::stable_sort(regions.begin(), regions.end(),
                   [](const ColorRegion& a, const ColorRegion& b) { return a.y != b.y ? a.y < b.y : a.x < b.x; });
  return regions;
}

std::optional<ColorRegion> find_rectangle(std::span<const std::uint8_t> rgb, std::uint32_t width, std::uint32_t height,
                                          Rgb8 color) {
  const std::vector<std::uint8_t> mask = color_mask(rgb, width, height, color, kRectangleTolerance);
  auto set = [&](std::int64_t x, std::int64_t y) {
    return x >= 0 && y >= 0 && x < width && y < height && mask[static_cast<std::size_t>(y) * width + x] != 0;
  };
  // Consecutive set pixels from (x, y) in direction (dx, dy), the start included.
  auto run = [&](std::int64_t x, std::int64_t y, int dx, int dy) {
    std::uint32_t n = 0;
    while (set(x, y)) {
      ++n;
      x += dx;
      y += dy;
    }
    return n;
  };

  std::vector<ColorRegion> list;
  // Every rectangle starts at the pixel being scanned and extends right and down, so only
  // pixels not yet scanned can fall inside it. Coverage of the current row is the union
  // of the rows' spans of the rectangles alive in it: earlier rows' rectangles through a
  // difference array built when the row starts, this row's own through a running end.
  std::vector<std::size_t> alive;  // indices into list of rectangles reaching below their row
  std::vector<std::int32_t> diff(static_cast<std::size_t>(width) + 1);
  for (std::uint32_t r = 0; r < height; ++r) {
    std::fill(diff.begin(), diff.end(), 0);
    std::erase_if(alive, [&](std::size_t i) { return static_cast<std::uint64_t>(list[i].y) + list[i].height <= r; });
    for (std::size_t i : alive) {
      diff[list[i].x] += 1;
      diff[list[i].x + list[i].width] -= 1;
    }
    std::int32_t depth = 0;
    std::uint64_t row_end = 0;  // end of this row's own rectangles
    const std::size_t first_new = list.size();
    for (std::uint32_t c = 0; c < width; ++c) {
      depth += diff[c];
      if (!set(c, r) || depth > 0 || c < row_end) continue;
      // Every rectangle starts at the corner it was traced from, so only the (at most one)
      // rectangle traced from this same corner can be identical to the next one: comparing
      // with the whole row would be quadratic on a checkerboard of the colour.
      const std::size_t from_here = list.size();
      auto add = [&](ColorRegion rect) {
        for (std::size_t i = from_here; i < list.size(); ++i) {
          if (list[i] == rect) return;
        }
        list.push_back(rect);
        row_end = std::max<std::uint64_t>(row_end, static_cast<std::uint64_t>(rect.x) + rect.width);
      };
      // Clockwise: right along the top, down the right side, back left along the bottom,
      // up the left side.
      {
        const std::uint32_t k = run(c, r, 1, 0);
        const std::uint32_t j = run(c + k - 1, r, 0, 1);
        const std::uint32_t l = run(c + k - 1, r + j - 1, -1, 0);
        const std::uint32_t m = run(c, r + j - 1, 0, -1);
        if (l != 0 && m != 0) add(ColorRegion{c, r, std::min(l, k), std::min(j, m)});
      }
      // Counter-clockwise: down the left side, right along the bottom, up the right side,
      // back left along the top.
      {
        const std::uint32_t i = run(c, r, 0, 1);
        const std::uint32_t n = run(c, r + i - 1, 1, 0);
        const std::uint32_t m = run(c + n - 1, r + i - 1, 0, -1);
        const std::uint32_t v = run(c + n - 1, r, -1, 0);
        if (m != 0 && v != 0) add(ColorRegion{c, r, std::min(n, v), std::min(m, i)});
      }
    }
    for (std::size_t i = first_new; i < list.size(); ++i) {
      if (list[i].height > 1) alive.push_back(i);
    }
  }

  if (list.empty()) return std::nullopt;
  // Ties go to the rectangle found last. Areas in 64 bits so that no size can wrap.
  std::size_t best = 0;
  for (std::size_t i = 1; i < list.size(); ++i) {
    const std::uint64_t a = static_cast<std::uint64_t>(list[i].width) * list[i].height;
    const std::uint64_t b = static_cast<std::uint64_t>(list[best].width) * list[best].height;
    if (a >= b) best = i;
  }
  return list[best];
}

}  // namespace lumetra
