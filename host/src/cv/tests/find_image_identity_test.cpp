// find_image shares work between the scales it tries and keeps only the best hits while
// it searches. Neither may change a result: these tests run it next to the plain way of
// doing the same thing (every scale searched on its own, every hit collected, ranked
// and suppressed) and require the very same matches, scores and order.
#include <gtest/gtest.h>
#include <lumetra/resample.h>
#include <lumetra/rounding.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <random>

#include "cv/find_image.h"
#include "cv/stb_decode.h"
#include "synthetic_screen.h"

namespace quorvane::cv {
namespace {

using lumetra::Match;
using lumetra::RgbImage;

// Every scale on its own haystack, every hit held, then ranked and suppressed.
std::vector<Match> plain_find_image(const RgbImage& hay, const RgbImage& pattern, float base, float threshold,
                                    bool variation) {
  std::vector<Match> hits;
  for (const float k : search_scales(base, variation)) {
    std::vector<Match> found;
    const std::uint32_t i = std::max(1u, lumetra::round_to_u32(static_cast<float>(hay.width) / k));
    const std::uint32_t j = std::max(1u, lumetra::round_to_u32(static_cast<float>(hay.height) / k));
    if (k >= 1.25f && i >= pattern.width && j >= pattern.height) {
      found = lumetra::match_template(lumetra::resize(hay, i, j, lumetra::ResizeFilter::Triangle), pattern, 1.0f,
                                      threshold);
      for (Match& m : found) {
        m.x = lumetra::round_to_i32(static_cast<float>(m.x) * k);
        m.y = lumetra::round_to_i32(static_cast<float>(m.y) * k);
        m.width = lumetra::round_to_u32(static_cast<float>(m.width) * k);
        m.height = lumetra::round_to_u32(static_cast<float>(m.height) * k);
        m.scale = k;
      }
    } else {
      found = lumetra::match_template(hay, pattern, k, threshold);
    }
    hits.insert(hits.end(), found.begin(), found.end());
  }
  std::stable_sort(hits.begin(), hits.end(), [](const Match& a, const Match& b) { return a.score > b.score; });
  return suppress_overlaps(hits, 16);
}

std::vector<Match> fast_find_image(const RgbImage& hay, const RgbImage& pattern, double hay_dpi, float threshold,
                                   bool variation) {
  SearchOptions options;
  options.min_similarity = threshold;
  options.allow_size_variation = variation;
  options.high_dpi = true;
  auto r = find_image(hay, hay_dpi, pattern, 96.0, options);
  EXPECT_TRUE(r.ok()) << r.error();
  return r.ok() ? r.value() : std::vector<Match>{};
}

RgbImage load_screen(const char* name) {
  std::ifstream in(std::string(QUORVANE_TESTDATA_DIR) + "/screens/" + name, std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  auto img = stb_decode_rgb(bytes);
  EXPECT_TRUE(img.ok()) << name << ": " << (img.ok() ? "" : img.error());
  return img.ok() ? std::move(img).value() : RgbImage();
}

struct Search {
  const char* what;
  std::uint32_t x, y, size;  // the pattern: a square cut from the screen
  float threshold;
  bool variation;
  double hay_dpi = 96.0;  // 192 searches at scale 2 (the screen is shrunk instead)
};

void expect_same_results(const RgbImage& screen, const std::vector<Search>& searches, const char* screen_name) {
  for (const Search& s : searches) {
    const RgbImage pattern = lumetra::crop(screen, s.x, s.y, s.size, s.size);
    const auto want = plain_find_image(screen, pattern, static_cast<float>(s.hay_dpi / 96.0), s.threshold, s.variation);
    const auto got = fast_find_image(screen, pattern, s.hay_dpi, s.threshold, s.variation);
    EXPECT_EQ(got, want) << screen_name << ": " << s.what << " " << s.size << "px at " << s.x << "," << s.y
                         << " threshold " << s.threshold << (s.variation ? " +variation" : "") << " dpi " << s.hay_dpi;
  }
}

TEST(FindImageSameResults, RealScreensAtEveryPathAndScale) {
  // Sizes on both sides of the coarse-to-fine limit (15/16), thresholds from the default
  // down to where many places qualify, size variation (scales below and above 1), and a
  // base scale of 2 where the screen is shrunk rather than the pattern enlarged.
  const RgbImage dark = load_screen("desktop_dark.png");
  const RgbImage light = load_screen("desktop_light.png");
  ASSERT_EQ(dark.width, 1920u);
  ASSERT_EQ(light.width, 1920u);
  expect_same_results(dark,
                      {{"terminal text", 40, 60, 15, 0.8f, true},
                       {"terminal text", 40, 60, 16, 0.8f, true},
                       {"process list", 400, 800, 32, 0.6f, true},
                       {"terminal and wallpaper", 100, 100, 100, 0.8f, true},
                       {"clock", 1500, 700, 24, 0.3f, false},
                       {"process list", 400, 800, 20, 0.8f, true, 192.0}},
                      "dark");
  expect_same_results(light,
                      {{"editor", 1200, 300, 15, 0.7f, true},
                       {"editor", 300, 200, 16, 0.5f, true},
                       {"manual page", 200, 600, 48, 0.8f, true},
                       {"clock", 1700, 100, 64, 0.8f, true},
                       {"plain wallpaper (flat)", 1850, 1000, 12, 0.9f, false},
                       // Two pairs of scales round to one size (13 and 15): each searched once.
                       {"editor", 1200, 300, 14, 0.6f, true}},
                      "light");
}

TEST(FindImageSameResults, FlatPatternsAndLowThresholdsWithMillionsOfHits) {
  // A flat pattern scores 0 everywhere, so at a threshold of 0 or below every position of
  // a small pattern (direct path) is a hit: the best 16 are the first separate ones in scan
  // order, scale by scale. Equal scores must keep the order they were found in.
  const RgbImage light = load_screen("desktop_light.png");
  const RgbImage part = lumetra::crop(light, 300, 200, 700, 500);
  RgbImage flat(10, 9);
  std::fill(flat.pixels.begin(), flat.pixels.end(), std::uint8_t{200});
  for (const float threshold : {0.0f, -1.0f}) {
    for (const bool variation : {false, true}) {
      EXPECT_EQ(fast_find_image(part, flat, 96.0, threshold, variation),
                plain_find_image(part, flat, 1.0f, threshold, variation))
          << threshold << " " << variation;
    }
  }
  // A real pattern at threshold -1 on a synthetic desktop: every local maximum is a hit,
  // hundreds of thousands of them with many equal scores on the flat panels.
  const RgbImage desk = testing::make_desktop_screen(640, 480, 3);
  const RgbImage icon = lumetra::crop(desk, 100, 100, 12, 12);
  EXPECT_EQ(fast_find_image(desk, icon, 96.0, -1.0f, true), plain_find_image(desk, icon, 1.0f, -1.0f, true));
}

Match m(int x, int y, std::uint32_t w, std::uint32_t h, float score) { return Match{x, y, w, h, score, 1.0f}; }

TEST(BestSeparateMatches, StreamedSelectionEqualsRankingEverything) {
  // The streamed form keeps only the best few thousand hits and searches again with more
  // room when they do not yield 16 separate matches. Streams of every kind: a pile of
  // overlapping better hits hiding the separate ones (forces the second search), tens of
  // thousands of equal scores (order of arrival decides), and random mixtures.
  std::mt19937 rng(17);
  for (int round = 0; round < 8; ++round) {
    std::vector<Match> hits;
    if (round % 2 == 1) {
      const int pile = round == 7 ? 70000 : 6000;  // 70000: more than the second search's room too
      for (int i = 0; i < pile; ++i) hits.push_back(m(1000 + static_cast<int>(rng() % 3), 1000, 20, 20, 0.99f));
    }
    const int n = round < 4 ? 5000 : 30000;
    for (int i = 0; i < n; ++i) {
      const bool equal_scores = round % 4 == 2;
      const int spread = round % 4 == 0 ? 6 : 2000;
      hits.push_back(m(static_cast<int>(rng() % spread), static_cast<int>(rng() % spread), 10 + rng() % 20,
                       10 + rng() % 20, equal_scores ? 0.5f : static_cast<float>(rng() % 64) / 64.0f));
    }
    int runs = 0;
    const HitSearch search = [&](const lumetra::MatchSink& sink) {
      ++runs;
      for (const Match& h : hits) sink(h);
    };
    const auto got = best_separate_matches(search, 16);
    EXPECT_EQ(got, best_separate_matches(hits, 16)) << round;
    if (round == 1) {
      EXPECT_GT(runs, 1);  // the pile hid the separate matches from the first search
    }
  }
}

}  // namespace
}  // namespace quorvane::cv
