// Score maps against a plain double-precision evaluation of the correlation, and the
// vector kernels against the scalar ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "lumetra/matching.h"
#include "lumetra/resample.h"
#include "screens.h"
#include "simd.h"

namespace lumetra {
namespace {

using testing::noise_image;
using testing::render_screen;
using testing::Rng;

// The textbook evaluation: summed-area tables of I and I^2 in doubles, cross sums by
// direct double loops, the formula term by term.
ScoreMap reference_map(const RgbImage& img, const RgbImage& t) {
  ScoreMap map;
  if (img.empty() || t.empty() || t.width > img.width || t.height > img.height) return map;
  const std::uint32_t W = img.width, H = img.height, w = t.width, h = t.height;
  map.width = W - w + 1;
  map.height = H - h + 1;
  map.scores.assign(static_cast<std::size_t>(map.width) * map.height, 0.0f);
  const double N = static_cast<double>(w) * h;
  double S[3] = {}, Q[3] = {};
  for (std::uint32_t y = 0; y < h; ++y)
    for (std::uint32_t x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) {
        const double v = t.at(x, y)[c];
        S[c] += v;
        Q[c] += v * v;
      }
  double m2 = 0;
  for (int c = 0; c < 3; ++c) m2 += std::max(Q[c] - S[c] * S[c] / N, 0.0);
  const double m = std::sqrt(m2);
  if (m < 1e-6) return map;
  const std::size_t tw = W + 1;
  std::vector<double> sat[3], sat2[3];
  for (int c = 0; c < 3; ++c) {
    sat[c].assign(tw * (H + 1), 0.0);
    sat2[c].assign(tw * (H + 1), 0.0);
    for (std::uint32_t y = 0; y < H; ++y)
      for (std::uint32_t x = 0; x < W; ++x) {
        const double v = img.at(x, y)[c];
        sat[c][(y + 1) * tw + x + 1] = v + sat[c][y * tw + x + 1] + sat[c][(y + 1) * tw + x] - sat[c][y * tw + x];
        sat2[c][(y + 1) * tw + x + 1] =
            v * v + sat2[c][y * tw + x + 1] + sat2[c][(y + 1) * tw + x] - sat2[c][y * tw + x];
      }
  }
  auto box = [&](const std::vector<double>& s, std::uint32_t x, std::uint32_t y) {
    return s[(y + h) * tw + x + w] - s[y * tw + x + w] - s[(y + h) * tw + x] + s[y * tw + x];
  };
  for (std::uint32_t y = 0; y < map.height; ++y)
    for (std::uint32_t x = 0; x < map.width; ++x) {
      double s[3], q[3], e = 0;
      for (int c = 0; c < 3; ++c) {
        s[c] = box(sat[c], x, y);
        q[c] = box(sat2[c], x, y);
        e += std::max(q[c] - s[c] * s[c] / N, 0.0);
      }
      if (e < 1e-12) continue;
      double p[3] = {};
      for (std::uint32_t dy = 0; dy < h; ++dy)
        for (std::uint32_t dx = 0; dx < w; ++dx)
          for (int c = 0; c < 3; ++c) p[c] += static_cast<double>(img.at(x + dx, y + dy)[c]) * t.at(dx, dy)[c];
      double num = 0;
      for (int c = 0; c < 3; ++c) num += p[c] - (S[c] / N) * s[c];
      const double score = std::clamp(num / (std::sqrt(e) * m), -1.0, 1.0);
      map.scores[static_cast<std::size_t>(y) * map.width + x] = static_cast<float>(score);
    }
  return map;
}

void expect_maps_identical(const ScoreMap& got, const ScoreMap& want, const char* what) {
  ASSERT_EQ(got.width, want.width) << what;
  ASSERT_EQ(got.height, want.height) << what;
  ASSERT_EQ(got.scores.size(), want.scores.size()) << what;
  std::size_t bad = 0;
  for (std::size_t i = 0; i < want.scores.size(); ++i) {
    const float a = got.scores[i], b = want.scores[i];
    // Within 1e-5 is what callers could notice; the implementation promises the very same
    // bits, so check both and report the first few offenders.
    if (std::fabs(a - b) > 1e-5f || std::memcmp(&a, &b, sizeof a) != 0) {
      if (++bad <= 5)
        ADD_FAILURE() << what << ": cell " << i % want.width << "," << i / want.width << " got " << a << " want " << b;
    }
  }
  EXPECT_EQ(bad, 0u) << what;
}

TEST(ScoreMap, MatchesDoubleReferenceOnEveryCellAtEverySimdLevel) {
  struct Case {
    RgbImage image, templ;
    const char* name;
  };
  std::vector<Case> cases;
  cases.push_back({noise_image(67, 41, 1), noise_image(5, 3, 2), "noise 67x41 / 5x3"});
  cases.push_back({noise_image(40, 50, 3), noise_image(1, 7, 4), "noise 40x50 / 1x7"});
  cases.push_back({noise_image(129, 33, 5), noise_image(16, 16, 6), "noise 129x33 / 16x16"});
  cases.push_back({noise_image(90, 70, 7), noise_image(33, 31, 8), "noise 90x70 / 33x31"});
  cases.push_back({noise_image(20, 20, 9), noise_image(20, 20, 10), "noise, template as large as image"});
  // Screen content: flat panels (zero-variance windows), text, icon edges.
  const testing::Screen screen = render_screen(420, 260, 11);
  cases.push_back({screen.image, crop(screen.image, 150, 132, 24, 13), "screen / text"});
  cases.push_back({crop(screen.image, 0, 30, 260, 60), crop(screen.image, 58, 44, 32, 32), "toolbar / icon"});
  cases.push_back({crop(screen.image, 0, 0, 300, 150), crop(screen.image, 100, 60, 9, 9), "screen / part flat"});
  for (const Case& c : cases) {
    const ScoreMap want = reference_map(c.image, c.templ);
    ASSERT_FALSE(want.scores.empty()) << c.name;
    ASSERT_NE(std::count(want.scores.begin(), want.scores.end(), 0.0f), static_cast<std::ptrdiff_t>(want.scores.size()))
        << c.name << ": a flat template would test nothing";
    cpu::for_each_level(testing::kKernelLevels, [&](cpu::Level level) {
      expect_maps_identical(score_map(c.image, c.templ), want,
                            (std::string(c.name) + " at " + cpu::level_name(level)).c_str());
    });
  }
}

TEST(ScoreMap, LongTemplatesSplitTheirSumsExactly) {
  // 260 x 260 = 67600 taps exceeds what one 32-bit sum of byte products can hold, and
  // bright samples push the sums to that limit.
  Rng rng(12);
  RgbImage img(264, 262);
  for (auto& b : img.pixels) b = static_cast<std::uint8_t>(200 + rng.next() % 56);
  const RgbImage t = crop(img, 2, 1, 260, 260);
  const ScoreMap want = reference_map(img, t);
  cpu::for_each_level(testing::kKernelLevels, [&](cpu::Level level) {
    const ScoreMap got = score_map(img, t);
    expect_maps_identical(got, want, cpu::level_name(level));
    EXPECT_EQ(got.at(2, 1), 1.0f);
  });
  // A single row longer than that limit takes the plain 64-bit route.
  RgbImage wide = noise_image(66060, 2, 13);
  const RgbImage wt = crop(wide, 5, 0, 66052, 1);
  const ScoreMap wmap = score_map(wide, wt);
  expect_maps_identical(wmap, reference_map(wide, wt), "66052 px template row");
  EXPECT_EQ(wmap.at(5, 0), 1.0f);
}

TEST(ScoreMap, ExactCopiesScoreOneAndEqualWindowsScoreEqually) {
  const testing::Screen screen = render_screen(900, 300, 21);
  // Two toolbar icons of the same design, so two identical windows.
  std::vector<testing::PlacedIcon> same;
  for (const auto& ic : screen.icons)
    if (ic.id % 6 == 2 && ic.y == 44) same.push_back(ic);
  ASSERT_GE(same.size(), 2u);
  // The toolbar strip only, to keep the scalar level quick. The template includes the
  // icon's surroundings, so the windows are equal only where the icons are.
  const RgbImage strip = crop(screen.image, 0, 36, 900, 48);
  const std::uint32_t y = same[0].y - 36 - 3;
  const RgbImage t = crop(strip, same[0].x - 3, y, 38, 38);
  cpu::for_each_level(testing::kKernelLevels, [&](cpu::Level level) {
    const ScoreMap map = score_map(strip, t);
    EXPECT_EQ(map.at(same[0].x - 3, y), 1.0f) << cpu::level_name(level);
    EXPECT_EQ(map.at(same[1].x - 3, y), 1.0f) << cpu::level_name(level);
    // Neighbours of the two copies: equal windows, equal scores.
    for (std::uint32_t d = 1; d <= 4; ++d) {
      EXPECT_EQ(map.at(same[0].x - 3 + d, y), map.at(same[1].x - 3 + d, y));
      EXPECT_EQ(map.at(same[0].x - 3, y + d), map.at(same[1].x - 3, y + d));
    }
  });
}

TEST(ScoreMap, FlatTemplatesAndFlatWindowsScoreZero) {
  const testing::Screen screen = render_screen(500, 300, 31);
  RgbImage flat(12, 12);
  std::fill(flat.pixels.begin(), flat.pixels.end(), 200);
  const ScoreMap fm = score_map(screen.image, flat);
  ASSERT_EQ(fm.width, 489u);
  ASSERT_EQ(fm.height, 289u);
  for (float v : fm.scores) ASSERT_EQ(v, 0.0f);

  // A textured template over a flat panel: the panel's windows have no variance, while
  // a window reaching one pixel past the panel's edge has some.
  RgbImage img = screen.image;
  testing::fill_rect(img, 200, 150, 60, 40, {90, 91, 92});
  const RgbImage t = crop(img, 300, 110, 20, 12);
  const ScoreMap map = score_map(img, t);
  for (std::uint32_t y = 150; y + 12 <= 190; ++y)
    for (std::uint32_t x = 200; x + 20 <= 260; ++x) ASSERT_EQ(map.at(x, y), 0.0f) << x << "," << y;
  EXPECT_NE(map.at(241, 150), 0.0f);
  // A template with variance in one channel only is not flat.
  RgbImage one(4, 1);
  one.at(1, 0)[2] = 9;
  EXPECT_GT(score_map(noise_image(30, 5, 32), one).scores.size(), 0u);
}

TEST(ScoreMap, DegenerateSizesGiveEmptyOrZeroMaps) {
  const RgbImage img = noise_image(30, 20, 41);
  EXPECT_TRUE(score_map(img, noise_image(31, 5, 42)).scores.empty());
  EXPECT_TRUE(score_map(img, noise_image(5, 21, 42)).scores.empty());
  EXPECT_TRUE(score_map(img, RgbImage()).scores.empty());
  EXPECT_TRUE(score_map(RgbImage(), noise_image(2, 2, 1)).scores.empty());
  EXPECT_TRUE(score_map(RgbImage(0, 7), RgbImage(0, 3)).scores.empty());
  // A 1x1 template has no variance: a full map of zeros.
  const ScoreMap one = score_map(img, noise_image(1, 1, 43));
  EXPECT_EQ(one.width, 30u);
  EXPECT_EQ(one.height, 20u);
  for (float v : one.scores) EXPECT_EQ(v, 0.0f);
  // A buffer that lies about its size is refused, not read past its end.
  RgbImage broken(10, 10);
  broken.pixels.resize(299);
  EXPECT_THROW(score_map(broken, noise_image(2, 2, 1)), std::invalid_argument);
  EXPECT_THROW(score_map(img, broken), std::invalid_argument);
}

TEST(SimdKernels, RowAndDotKernelsAgreeWithScalarUpToTheirWidth) {
  // Which levels this run covered depends on the CPU; say so in the log.
  std::printf("[   INFO   ] widest kernels here: %s\n", cpu::level_name(cpu::detected_level()));
  Rng rng(51);
  cpu::for_each_level(testing::kKernelLevels, [&](cpu::Level level) {
    const detail::Kernels& k = detail::active_kernels();
    for (std::size_t count : {1u, 7u, 11u, 17u, 24u, 31u, 33u, 62u, 64u, 65u, 200u}) {
      for (std::size_t npairs : {1u, 2u, 8u, 33u}) {
        const std::size_t nrows = 1 + rng.next() % 5;
        const std::size_t len = (count + 63) / 64 * 64 + 2 * npairs;
        std::vector<std::vector<std::uint32_t>> rows(nrows, std::vector<std::uint32_t>(len));
        std::vector<const std::uint32_t*> ptrs;
        for (auto& r : rows) {
          // Mostly 255s: the largest products are where a lane would overflow if any.
          for (auto& v : r)
            v = (rng.next() % 4 ? 255u : rng.next() % 256) | (rng.next() % 4 ? 255u : rng.next() % 256) << 16;
          ptrs.push_back(r.data());
        }
        std::vector<std::uint32_t> taps(nrows * npairs);
        for (auto& v : taps)
          v = static_cast<std::uint32_t>(rng.next() % 256) | static_cast<std::uint32_t>(rng.next() % 256) << 16;
        std::vector<std::uint32_t> want((count + 63) / 64 * 64), got(want.size());
        detail::row_scalar(ptrs.data(), taps.data(), nrows, npairs, want.data(), count);
        k.row(ptrs.data(), taps.data(), nrows, npairs, got.data(), count);
        for (std::size_t x = 0; x < count; ++x)
          ASSERT_EQ(got[x], want[x]) << cpu::level_name(level) << " count " << count << " x " << x;
      }
    }
    for (std::size_t nblocks : {1u, 2u, 3u, 9u}) {
      for (std::size_t nrows : {1u, 2u, 5u, 16u}) {
        const std::size_t is = nblocks * 16 + 5, ts = nblocks * 16;
        std::vector<std::int16_t> img(is * nrows + 20), tpl(ts * nrows);
        for (auto& v : img) v = static_cast<std::int16_t>(rng.next() % 256);
        for (auto& v : tpl) v = static_cast<std::int16_t>(rng.next() % 256);
        std::uint32_t got[4], want[4];
        k.dot(img.data() + 1, is, tpl.data(), ts, nrows, nblocks, got);
        detail::dot_scalar(img.data() + 1, is, tpl.data(), ts, nrows, nblocks, want);
        for (int j = 0; j < 4; ++j) EXPECT_EQ(got[j], want[j]) << cpu::level_name(level) << " position " << j;
      }
    }
  });
}

}  // namespace
}  // namespace lumetra
