// Colour masks, regions and rectangles.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "lumetra/color.h"
#include "screens.h"
#include "simd.h"

namespace lumetra {
namespace {

using testing::fill_rect;

constexpr Rgb8 kRed{255, 0, 0};
constexpr Rgb8 kWhite{255, 255, 255};

RgbImage canvas(std::uint32_t w, std::uint32_t h) {
  RgbImage img(w, h);
  fill_rect(img, 0, 0, w, h, kWhite);
  return img;
}

std::vector<ColorRegion> regions(const RgbImage& img, Rgb8 c, std::uint32_t tol = 0, std::uint32_t mw = 3,
                                 std::uint32_t mh = 3) {
  return find_color_regions(img.pixels, img.width, img.height, c, tol, mw, mh);
}

std::optional<ColorRegion> rectangle(const RgbImage& img, Rgb8 c) {
  return find_rectangle(img.pixels, img.width, img.height, c);
}

TEST(ColorMask, VectorMaskAgreesWithScalarAtTheToleranceBoundary) {
  // Every channel distance around the tolerance, at every pixel phase of the 16-pixel
  // blocks, plus a remainder.
  testing::Rng rng(3);
  const std::uint32_t w = 37, h = 11;
  RgbImage img(w, h);
  const Rgb8 c{100, 3, 250};
  for (std::size_t i = 0; i < img.pixels.size(); ++i) {
    const int base = i % 3 == 0 ? c.r : i % 3 == 1 ? c.g : c.b;
    img.pixels[i] = static_cast<std::uint8_t>(std::clamp(base + rng.uniform(-7, 7), 0, 255));
  }
  for (std::uint32_t tol : {0u, 4u, 5u, 6u, 255u, 300u}) {
    std::vector<std::uint8_t> want(w * h);
    const std::uint8_t cc[3] = {c.r, c.g, c.b};
    detail::mask_scalar(img.pixels.data(), w * h, cc, static_cast<std::uint8_t>(std::min(tol, 255u)), want.data());
    cpu::for_each_level(testing::kKernelLevels, [&](cpu::Level level) {
      EXPECT_EQ(color_mask(img.pixels, w, h, c, tol), want) << "tolerance " << tol << " " << cpu::level_name(level);
    });
  }
  // The scalar definition itself, at the edge of the tolerance in each channel.
  RgbImage px(3, 1);
  const std::uint8_t vals[9] = {105, 3, 250, 100, 9, 250, 100, 3, 245};
  std::copy(vals, vals + 9, px.pixels.begin());
  EXPECT_EQ(color_mask(px.pixels, 3, 1, c, 5), (std::vector<std::uint8_t>{1, 0, 1}));
}

TEST(ColorRegions, FourConnectedAreasFilteredAndOrdered) {
  RgbImage img = canvas(60, 40);
  fill_rect(img, 30, 2, 5, 5, kRed);  // touches the next square at a corner only
  fill_rect(img, 35, 7, 5, 5, kRed);
  fill_rect(img, 2, 20, 10, 2, kRed);  // a 10x2 line
  fill_rect(img, 2, 7, 4, 4, kRed);    // same top row as the second square, further left
  // An L shape: one area whose box includes unset pixels.
  fill_rect(img, 40, 20, 10, 3, kRed);
  fill_rect(img, 40, 20, 3, 12, kRed);
  const auto found = regions(img, kRed);
  const std::vector<ColorRegion> want = {{30, 2, 5, 5}, {2, 7, 4, 4}, {35, 7, 5, 5}, {40, 20, 10, 12}};
  EXPECT_EQ(found, want);
  // The line is kept once the minimum height allows it; 0 counts as 1. It shares its top
  // row with the L and lies left of it.
  const auto with_line = regions(img, kRed, 0, 0, 2);
  ASSERT_EQ(with_line.size(), 5u);
  EXPECT_EQ(with_line[3], (ColorRegion{2, 20, 10, 2}));
  // A tolerance above 255 behaves as 255: the whole image is one area.
  EXPECT_EQ(regions(img, {1, 2, 3}, 300), (std::vector<ColorRegion>{{0, 0, 60, 40}}));
  EXPECT_TRUE(regions(img, {0, 0, 255}).empty());
  EXPECT_TRUE(find_color_regions({}, 0, 0, kRed, 0, 1, 1).empty());
}

TEST(ColorRegions, ScreenSizedAreaNeedsNoDeepRecursion) {
  // A serpentine one pixel wide fills a full-HD screen: an area of about a million pixels
  // whose fill would recurse that deep.
  RgbImage img = canvas(1920, 1080);
  for (std::uint32_t y = 0; y < 1080; y += 2) {
    fill_rect(img, 0, y, 1920, 1, kRed);
    fill_rect(img, (y / 2) % 2 ? 0 : 1919, y + 1, 1, 1, kRed);
  }
  EXPECT_EQ(regions(img, kRed), (std::vector<ColorRegion>{{0, 0, 1920, 1080}}));
}

TEST(ColorRegions, BrokenBufferIsRefused) {
  std::vector<std::uint8_t> short_buffer(11);
  EXPECT_THROW(find_color_regions(short_buffer, 2, 2, kRed, 0, 1, 1), std::invalid_argument);
  EXPECT_THROW(find_rectangle(short_buffer, 2, 2, kRed), std::invalid_argument);
}

TEST(FindRectangle, OutlineBeatsSmallerFilledBlockAndStrayPixels) {
  RgbImage img = canvas(400, 300);
  // One-pixel outline of 200x100.
  fill_rect(img, 20, 30, 200, 1, kRed);
  fill_rect(img, 20, 129, 200, 1, kRed);
  fill_rect(img, 20, 30, 1, 100, kRed);
  fill_rect(img, 219, 30, 1, 100, kRed);
  fill_rect(img, 260, 200, 50, 50, kRed);  // filled block
  fill_rect(img, 350, 10, 1, 1, kRed);     // stray pixel
  EXPECT_EQ(rectangle(img, kRed), (ColorRegion{20, 30, 200, 100}));
  EXPECT_EQ(rectangle(img, {0, 255, 0}), std::nullopt);
  // The filled block alone is found whole from its corner.
  RgbImage block = canvas(100, 100);
  fill_rect(block, 10, 20, 50, 30, kRed);
  EXPECT_EQ(rectangle(block, kRed), (ColorRegion{10, 20, 50, 30}));
}

TEST(FindRectangle, ToleranceIsFiveAndTiesGoToTheLastFound) {
  RgbImage img = canvas(100, 60);
  fill_rect(img, 5, 5, 10, 10, {250, 5, 0});   // 5 off in two channels: matches
  fill_rect(img, 50, 5, 20, 20, {249, 0, 0});  // 6 off: does not
  EXPECT_EQ(rectangle(img, kRed), (ColorRegion{5, 5, 10, 10}));
  // Two 10x10 blocks: equal areas, the later one wins.
  fill_rect(img, 30, 40, 10, 10, kRed);
  EXPECT_EQ(rectangle(img, kRed), (ColorRegion{30, 40, 10, 10}));
}

TEST(FindRectangle, TracesBothWaysAndTakesTheShorterSides) {
  // A staircase: the clockwise trace from (10,10) runs along the top 30, down the right
  // 5, back along the bottom; the counter-clockwise one goes down 20 first.
  RgbImage img = canvas(80, 60);
  fill_rect(img, 10, 10, 30, 5, kRed);
  fill_rect(img, 10, 10, 8, 20, kRed);
  const auto r = rectangle(img, kRed);
  ASSERT_TRUE(r);
  // Clockwise: k=30, j=5, l=30, m=5 -> 30x5 (150). Counter-clockwise: i=20, n=8,
  // m=20, v=8 -> 8x20 (160), the larger.
  EXPECT_EQ(*r, (ColorRegion{10, 10, 8, 20}));
}

// find_rectangle as its rules read: every candidate compared with every rectangle so far,
// every pixel checked against every rectangle. Quadratic, and the yardstick.
std::optional<ColorRegion> plain_rectangle(const RgbImage& img, Rgb8 c) {
  auto set = [&](std::int64_t x, std::int64_t y) {
    if (x < 0 || y < 0 || x >= img.width || y >= img.height) return false;
    const std::uint8_t* p = img.at(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y));
    return std::abs(p[0] - c.r) <= 5 && std::abs(p[1] - c.g) <= 5 && std::abs(p[2] - c.b) <= 5;
  };
  auto run = [&](std::int64_t x, std::int64_t y, int dx, int dy) {
    std::uint32_t n = 0;
    for (; set(x, y); x += dx, y += dy) ++n;
    return n;
  };
  std::vector<ColorRegion> list;
  auto add = [&](ColorRegion r) {
    if (std::find(list.begin(), list.end(), r) == list.end()) list.push_back(r);
  };
  for (std::uint32_t r = 0; r < img.height; ++r) {
    for (std::uint32_t col = 0; col < img.width; ++col) {
      if (!set(col, r)) continue;
      const bool inside = std::any_of(list.begin(), list.end(), [&](const ColorRegion& q) {
        return q.x <= col && col < q.x + q.width && q.y <= r && r < q.y + q.height;
      });
      if (inside) continue;
      const std::uint32_t k = run(col, r, 1, 0), j = run(col + k - 1, r, 0, 1);
      const std::uint32_t l = run(col + k - 1, r + j - 1, -1, 0), m = run(col, r + j - 1, 0, -1);
      if (l != 0 && m != 0) add(ColorRegion{col, r, std::min(l, k), std::min(j, m)});
      const std::uint32_t i = run(col, r, 0, 1), n = run(col, r + i - 1, 1, 0);
      const std::uint32_t m2 = run(col + n - 1, r + i - 1, 0, -1), v = run(col + n - 1, r, -1, 0);
      if (m2 != 0 && v != 0) add(ColorRegion{col, r, std::min(n, v), std::min(m2, i)});
    }
  }
  if (list.empty()) return std::nullopt;
  std::size_t best = 0;
  for (std::size_t i = 1; i < list.size(); ++i) {
    if (std::uint64_t{list[i].width} * list[i].height >= std::uint64_t{list[best].width} * list[best].height) best = i;
  }
  return list[best];
}

TEST(FindRectangle, SameAsTheRulesOnCheckerboardsOutlinesAndNoise) {
  // Checkerboards of the colour (every pixel its own candidate), outlines, filled blocks
  // and their overlaps, stray pixels, and pixels at the tolerance's edge, on images of
  // many shapes. The winner is the last of the largest, so a duplicate wrongly kept or
  // wrongly dropped changes the answer.
  testing::Rng rng(23);
  for (int round = 0; round < 60; ++round) {
    const std::uint32_t w = 1 + static_cast<std::uint32_t>(rng.uniform(0, 70));
    const std::uint32_t h = 1 + static_cast<std::uint32_t>(rng.uniform(0, 50));
    RgbImage img = canvas(w, h);
    const int kind = round % 4;
    if (kind == 0) {
      const std::uint32_t cell = 1 + static_cast<std::uint32_t>(rng.uniform(0, 2));
      for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x)
          if ((x / cell + y / cell) % 2 == 0) fill_rect(img, x, y, 1, 1, kRed);
    }
    const int shapes = rng.uniform(0, 12);
    for (int s = 0; s < shapes; ++s) {
      const int x = rng.uniform(-5, static_cast<int>(w)), y = rng.uniform(-5, static_cast<int>(h));
      const int rw = rng.uniform(1, 30), rh = rng.uniform(1, 30);
      if (rng.uniform(0, 1) == 0) {
        fill_rect(img, x, y, rw, rh, kRed);
      } else {
        fill_rect(img, x, y, rw, 1, kRed);
        fill_rect(img, x, y + rh - 1, rw, 1, kRed);
        fill_rect(img, x, y, 1, rh, kRed);
        fill_rect(img, x + rw - 1, y, 1, rh, kRed);
      }
    }
    const int strays = kind == 3 ? static_cast<int>(w * h / 3) : rng.uniform(0, 20);
    for (int s = 0; s < strays; ++s) {
      const Rgb8 near{static_cast<std::uint8_t>(255 - rng.uniform(0, 6)), static_cast<std::uint8_t>(rng.uniform(0, 6)),
                      0};
      fill_rect(img, rng.uniform(0, static_cast<int>(w) - 1), rng.uniform(0, static_cast<int>(h) - 1), 1, 1, near);
    }
    EXPECT_EQ(rectangle(img, kRed), plain_rectangle(img, kRed)) << "round " << round << " " << w << "x" << h;
  }
}

}  // namespace
}  // namespace lumetra
