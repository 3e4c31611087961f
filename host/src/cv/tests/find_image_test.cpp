#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <lumetra/resample.h>

#include <cmath>
#include <limits>
#include <random>

#include "cv/find_image.h"
#include "cv/requests.h"
#include "synthetic_screen.h"

namespace quorvane::cv {
namespace {

using lumetra::Match;
using lumetra::RgbImage;

SearchOptions options_from(const json& options) {
  auto r = read_search_options(json{{"options", options}});
  EXPECT_TRUE(r.ok()) << r.error();
  return r.ok() ? r.value() : SearchOptions{};
}

std::vector<Match> find(const RgbImage& hay, const RgbImage& pattern, const json& options = json::object(),
                        double hay_dpi = 96.0, double pattern_dpi = 96.0) {
  auto r = find_image(hay, hay_dpi, pattern, pattern_dpi, options_from(options));
  EXPECT_TRUE(r.ok()) << r.error();
  return r.ok() ? r.value() : std::vector<Match>{};
}

std::string find_error(const RgbImage& hay, const RgbImage& pattern, const json& options, double hay_dpi = 96.0,
                       double pattern_dpi = 96.0) {
  auto r = find_image(hay, hay_dpi, pattern, pattern_dpi, options_from(options));
  return r.ok() ? std::string("<ok>") : r.error();
}

// A screen with a row of distinct icons on a text-filled window, shared by several tests.
class FindImageOnScreen : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    screen_ = new RgbImage(testing::make_desktop_screen(1280, 720, 11));
    // A dialog with text and an icon at a known place, and a tray clock in the corner,
    // so that cut-outs have content that occurs once.
    testing::fill_rect(*screen_, 560, 360, 360, 160, {236, 236, 240});
    testing::fill_rect(*screen_, 560, 360, 360, 22, {40, 90, 170});
    testing::draw_text(*screen_, 568, 367, "Export report", {255, 255, 255});
    testing::draw_text(*screen_, 640, 400, "Save changes to", {20, 20, 20}, 2);
    testing::draw_text(*screen_, 640, 424, "quorvane 2024?", {20, 20, 20}, 2);
    testing::blit(*screen_, testing::make_icon(48, 31), 580, 400);
    testing::draw_text(*screen_, 1236, 700, "9:41", {250, 250, 250}, 2);
  }
  static void TearDownTestSuite() { delete screen_; }
  static const RgbImage& screen() { return *screen_; }

 private:
  static RgbImage* screen_;
};
RgbImage* FindImageOnScreen::screen_ = nullptr;

TEST_F(FindImageOnScreen, CutOutPatternIsFoundExactlyWhereItWasCut) {
  // Small patterns take the direct path, 16x16 and up the coarse-to-fine one (the
  // screen's longer side is over 800 pixels); both must land on the pixel.
  struct Cut {
    std::uint32_t x, y, w, h;
  };
  for (const Cut c : {Cut{640, 400, 15, 15}, Cut{590, 405, 40, 30}, Cut{600, 395, 96, 64}, Cut{560, 360, 20, 20},
                      Cut{1280 - 45, 720 - 21, 45, 21}}) {
    const RgbImage pattern = testing::crop(screen(), c.x, c.y, c.w, c.h);
    const auto matches = find(screen(), pattern, {{"minSimilarity", 0.8}});
    ASSERT_FALSE(matches.empty()) << c.x << "," << c.y;
    EXPECT_EQ(matches[0].x, static_cast<std::int32_t>(c.x));
    EXPECT_EQ(matches[0].y, static_cast<std::int32_t>(c.y));
    EXPECT_EQ(matches[0].width, c.w);
    EXPECT_EQ(matches[0].height, c.h);
    EXPECT_NEAR(matches[0].score, 1.0f, 1e-5f);
    EXPECT_EQ(matches[0].scale, 1.0f);
    for (std::size_t i = 1; i < matches.size(); ++i) EXPECT_GE(matches[i - 1].score, matches[i].score);
  }
}

TEST_F(FindImageOnScreen, RepeatedIconsComeBackBestFirstAndOncePerOccurrence) {
  RgbImage hay = screen();
  const RgbImage icon = testing::make_icon(32, 5);
  testing::blit(hay, icon, 200, 150);
  // Two slightly worn copies: a few pixels changed lower their scores by different amounts.
  RgbImage worn1 = icon, worn2 = icon;
  for (std::uint32_t i = 8; i < 12; ++i) worn1.at(i, 3)[0] ^= 0x40;
  for (std::uint32_t i = 4; i < 20; ++i) worn2.at(i, 5)[1] ^= 0x80;
  testing::blit(hay, worn2, 900, 120);
  testing::blit(hay, worn1, 500, 600);
  const auto matches = find(hay, icon, {{"minSimilarity", 0.8}});
  ASSERT_EQ(matches.size(), 3u);
  EXPECT_EQ(matches[0].x, 200);
  EXPECT_EQ(matches[0].y, 150);
  EXPECT_EQ(matches[1].x, 500);
  EXPECT_EQ(matches[1].y, 600);
  EXPECT_EQ(matches[2].x, 900);
  EXPECT_EQ(matches[2].y, 120);
  EXPECT_GT(matches[0].score, matches[1].score);
  EXPECT_GT(matches[1].score, matches[2].score);
}

TEST_F(FindImageOnScreen, AtMostSixteenMatchesInScanOrderForEqualScores) {
  for (const std::uint32_t size : {14u, 24u}) {
    RgbImage hay = screen();
    const RgbImage icon = testing::make_icon(size, 9);
    // 20 identical icons in two rows: every one scores exactly 1.
    for (int i = 0; i < 20; ++i) testing::blit(hay, icon, 60 + (i % 10) * 40, 300 + (i / 10) * 40);
    const auto matches = find(hay, icon, {{"minSimilarity", 0.9}});
    ASSERT_EQ(matches.size(), 16u);
    for (std::size_t i = 0; i < 16; ++i) {
      EXPECT_EQ(matches[i].score, 1.0f);
      EXPECT_EQ((matches[i].x - 60) % 40, 0);
      EXPECT_EQ((matches[i].y - 300) % 40, 0);
      for (std::size_t j = 0; j < i; ++j)
        EXPECT_FALSE(matches[i].x == matches[j].x && matches[i].y == matches[j].y) << "duplicate " << i;
      // A small pattern is scored directly over the whole screen, so equal scores keep
      // the scan order: row by row, left to right. (Larger ones come window by window.)
      if (size < 16) {
        EXPECT_EQ(matches[i].x, 60 + static_cast<int>(i % 10) * 40) << i;
        EXPECT_EQ(matches[i].y, 300 + static_cast<int>(i / 10) * 40) << i;
      }
    }
  }
}

TEST_F(FindImageOnScreen, SizeVariationFindsAPatternDrawnFivePercentLarger) {
  RgbImage hay = screen();
  const RgbImage pattern = testing::make_icon(60, 3);
  const RgbImage larger = lumetra::resize(pattern, 63, 63, lumetra::ResizeFilter::Lanczos3);
  testing::blit(hay, larger, 410, 330);

  const auto exact = find(hay, pattern, {{"minSimilarity", 0.97}});
  EXPECT_TRUE(exact.empty() || exact[0].scale == 1.0f);

  const auto matches = find(hay, pattern, {{"minSimilarity", 0.9}, {"allowSizeVariation", true}});
  ASSERT_FALSE(matches.empty());
  EXPECT_EQ(matches[0].scale, 1.05f);
  EXPECT_EQ(matches[0].width, 63u);
  EXPECT_EQ(matches[0].height, 63u);
  EXPECT_NEAR(matches[0].x, 410, 1);
  EXPECT_NEAR(matches[0].y, 330, 1);
  EXPECT_GT(matches[0].score, 0.97f);
}

TEST_F(FindImageOnScreen, HighDpiShrinksTheScreenAndReportsFullSizeMatches) {
  // A 192 DPI screen shows a 96 DPI pattern at twice its size.
  RgbImage hay = screen();
  const RgbImage pattern = testing::make_icon(40, 8);
  RgbImage larger = lumetra::resize(pattern, 80, 80, lumetra::ResizeFilter::Lanczos3);
  testing::blit(hay, larger, 700, 100);
  const auto matches = find(hay, pattern, {{"enableHighDpi", true}, {"minSimilarity", 0.85}}, 192.0, 96.0);
  ASSERT_FALSE(matches.empty());
  EXPECT_EQ(matches[0].scale, 2.0f);
  EXPECT_EQ(matches[0].width, 80u);
  EXPECT_EQ(matches[0].height, 80u);
  EXPECT_NEAR(matches[0].x, 700, 2);
  EXPECT_NEAR(matches[0].y, 100, 2);
  // Matches land on even pixels: they are positions in the halved screen, doubled.
  EXPECT_EQ(matches[0].x % 2, 0);

  // From 1.25 up the screen shrinks, so positions are whole reduced pixels times 1.25:
  // 0, 1, 3, 4, 5, 6, 8, ... A pattern drawn at x = 702 (2 mod 5) can only be reported
  // one pixel off, which tells the shrinking search from a resized pattern.
  RgbImage hay125 = screen();
  testing::blit(hay125, lumetra::resize(pattern, 50, 50, lumetra::ResizeFilter::Lanczos3), 702, 102);
  const auto at125 = find(hay125, pattern, {{"enableHighDpi", true}, {"minSimilarity", 0.85}}, 120.0, 96.0);
  ASSERT_FALSE(at125.empty());
  EXPECT_EQ(at125[0].scale, 1.25f);
  EXPECT_EQ(at125[0].width, 50u);
  EXPECT_EQ(std::abs(at125[0].x - 702), 1);

  // Without enableHighDpi the DPI values are ignored.
  const RgbImage cut = testing::crop(screen(), 590, 405, 40, 30);
  const auto plain = find(screen(), cut, {{"minSimilarity", 0.8}}, 192.0, 96.0);
  ASSERT_FALSE(plain.empty());
  EXPECT_EQ(plain[0].scale, 1.0f);
}

TEST_F(FindImageOnScreen, SearchAreaIsClippedAndMatchesStayInFullImagePixels) {
  RgbImage hay = screen();
  const RgbImage icon = testing::make_icon(32, 21);
  testing::blit(hay, icon, 100, 100);
  testing::blit(hay, icon, 1000, 600);

  // Only the second icon lies in the area; the area hangs over the right and bottom edges.
  auto matches =
      find(hay, icon,
           {{"limitSearchArea", true}, {"searchArea", {{"x", 900}, {"y", 500}, {"width", 5000}, {"height", 5000}}}});
  ASSERT_EQ(matches.size(), 1u);
  EXPECT_EQ(matches[0].x, 1000);
  EXPECT_EQ(matches[0].y, 600);

  // Hanging over the left edge: the visible part is [0, 150) x [0, 150).
  matches =
      find(hay, icon,
           {{"limitSearchArea", true}, {"searchArea", {{"x", -50}, {"y", -50.4}, {"width", 200}, {"height", 200.0}}}});
  ASSERT_EQ(matches.size(), 1u);
  EXPECT_EQ(matches[0].x, 100);

  // An icon cut by the area's edge is not found.
  matches = find(hay, icon,
                 {{"limitSearchArea", true}, {"searchArea", {{"x", 110}, {"y", 0}, {"width", 500}, {"height", 500}}}});
  EXPECT_TRUE(matches.empty());

  // limitSearchArea must be the boolean true.
  for (const json& flag : {json(false), json(1), json("true")}) {
    matches = find(hay, icon, {{"limitSearchArea", flag}, {"searchArea", {{"x", 5000}}}});
    EXPECT_EQ(matches.size(), 2u);
  }
}

TEST(FindImage, SearchAreaErrors) {
  const RgbImage hay = testing::make_desktop_screen(200, 100, 1);
  const RgbImage pattern = testing::crop(hay, 10, 10, 8, 8);
  EXPECT_EQ(find_error(hay, pattern, {{"limitSearchArea", true}}), "bad_params: limitSearchArea set but no searchArea");
  EXPECT_EQ(
      find_error(hay, pattern,
                 {{"limitSearchArea", true}, {"searchArea", {{"x", 250}, {"y", 5}, {"width", 10}, {"height", 10}}}}),
      "bad_params: searchArea 10x10 at (250,5) lies fully outside the 200x100 image");
  // Values are quoted as read: floats rounded half away from zero, unclipped.
  EXPECT_EQ(find_error(
                hay, pattern,
                {{"limitSearchArea", true}, {"searchArea", {{"x", -20.5}, {"y", 5}, {"width", 20.4}, {"height", 10}}}}),
            "bad_params: searchArea 20x10 at (-21,5) lies fully outside the 200x100 image");
  // Missing and non-numeric members count as 0; so does a searchArea that is no object.
  EXPECT_EQ(find_error(hay, pattern, {{"limitSearchArea", true}, {"searchArea", {{"x", "1"}, {"width", 50}}}}),
            "bad_params: searchArea 50x0 at (0,0) lies fully outside the 200x100 image");
  EXPECT_EQ(find_error(hay, pattern, {{"limitSearchArea", true}, {"searchArea", nullptr}}),
            "bad_params: searchArea 0x0 at (0,0) lies fully outside the 200x100 image");
  // Far beyond 64 bits: saturated, and the sum x + width does not wrap.
  EXPECT_EQ(
      find_error(hay, pattern,
                 {{"limitSearchArea", true},
                  {"searchArea",
                   {{"x", 1e300}, {"y", 0}, {"width", std::numeric_limits<std::uint64_t>::max()}, {"height", 9}}}}),
      "bad_params: searchArea 9223372036854775807x9 at (9223372036854775807,0) lies fully outside the 200x100 "
      "image");
  // The search-area check comes before any matching, even for a zero-size haystack.
  EXPECT_EQ(find_error(RgbImage(), pattern, {{"limitSearchArea", true}, {"searchArea", {{"width", 1}, {"height", 1}}}}),
            "bad_params: searchArea 1x1 at (0,0) lies fully outside the 0x0 image");
}

TEST(FindImage, DegenerateInputsEndInAnOrderlyResult) {
  const RgbImage hay = testing::make_desktop_screen(300, 200, 2);
  const RgbImage pattern = testing::crop(hay, 50, 40, 20, 20);

  // Zero-size images and patterns larger than the haystack: nothing to find.
  EXPECT_TRUE(find(RgbImage(), pattern).empty());
  EXPECT_TRUE(find(hay, RgbImage()).empty());
  EXPECT_TRUE(find(pattern, hay).empty());
  EXPECT_TRUE(find(testing::crop(hay, 0, 0, 300, 10), pattern, {{"allowSizeVariation", true}}).empty());

  // Thresholds no score can reach, including NaN (a float overflowing to infinity is the
  // nearest a request gets to it).
  EXPECT_TRUE(find(hay, pattern, {{"minSimilarity", 1.5}}).empty());
  EXPECT_TRUE(find(hay, pattern, {{"minSimilarity", 1e300}}).empty());
  SearchOptions nan_options;
  nan_options.min_similarity = std::numeric_limits<float>::quiet_NaN();
  auto nan = find_image(hay, 96, pattern, 96, nan_options);
  ASSERT_TRUE(nan.ok());
  EXPECT_TRUE(nan->empty());
  // Exactly 1 still finds the exact copy.
  EXPECT_FALSE(find(hay, pattern, {{"minSimilarity", 1.0}}).empty());

  // A flat 1x1 pattern scores 0 everywhere: no match above 0, and at or below 0 every
  // position qualifies, bounded by suppression and the limit.
  const RgbImage dot = testing::crop(hay, 5, 5, 1, 1);
  EXPECT_TRUE(find(hay, dot).empty());
  const auto everywhere = find(hay, dot, {{"minSimilarity", -5}});
  ASSERT_EQ(everywhere.size(), 16u);
  EXPECT_EQ(everywhere[0].x, 0);
  EXPECT_EQ(everywhere[1].x, 1);
  EXPECT_EQ(everywhere[0].score, 0.0f);
  RgbImage uniform(20, 20);
  std::fill(uniform.pixels.begin(), uniform.pixels.end(), 77);
  EXPECT_EQ(find(hay, uniform, {{"minSimilarity", 0}, {"allowSizeVariation", true}}).size(), 16u);
}

TEST(FindImage, UnusableDpiScalesAreRejected) {
  const RgbImage hay = testing::make_desktop_screen(300, 200, 3);
  const RgbImage pattern = testing::crop(hay, 50, 40, 20, 20);
  const json high_dpi = {{"enableHighDpi", true}};
  EXPECT_EQ(find_error(hay, pattern, high_dpi, 96.0, 0.0),
            "bad_params: enableHighDpi cannot scale a 0 DPI pattern to a 96 DPI image");
  EXPECT_EQ(find_error(hay, pattern, high_dpi, 0.0, 96.0),
            "bad_params: enableHighDpi cannot scale a 96 DPI pattern to a 0 DPI image");
  EXPECT_EQ(find_error(hay, pattern, high_dpi, 1e300, 1.0),
            "bad_params: enableHighDpi cannot scale a 1 DPI pattern to a 1e+300 DPI image");
  // Extreme but finite ratios are searched and simply find nothing.
  EXPECT_TRUE(find(hay, pattern, high_dpi, 1e30, 1.0).empty());
  EXPECT_TRUE(find(hay, pattern, high_dpi, 1.0, 1e30).empty());  // pattern shrunk to one flat pixel
  // The DPI check does not apply when high-DPI scaling is off.
  EXPECT_EQ(find(hay, pattern, json::object(), 96.0, 0.0).size(), 1u);
}

TEST(SearchOptionsReading, DefaultsTypesAndAnchorBoxes) {
  auto read = [](const json& params) { return read_search_options(params); };
  for (const json& params : {json(), json{{"options", 5}}, json{{"options", nullptr}}, json::array()}) {
    auto o = read(params);
    ASSERT_TRUE(o.ok());
    EXPECT_EQ(o->min_similarity, 0.8f);
    EXPECT_FALSE(o->allow_size_variation);
    EXPECT_EQ(o->max_results, 16u);
    EXPECT_EQ(o->scale, 1.0f);
    EXPECT_FALSE(o->high_dpi);
    EXPECT_FALSE(o->area.limit);
    EXPECT_FALSE(o->area.given);
  }
  auto o = read({{"options", {{"minSimilarity", 0.95}, {"allowSizeVariation", true}, {"enableHighDpi", true}}}});
  ASSERT_TRUE(o.ok());
  EXPECT_EQ(o->min_similarity, 0.95f);
  EXPECT_TRUE(o->allow_size_variation);
  EXPECT_TRUE(o->high_dpi);
  EXPECT_FALSE(read({{"options", {{"enableHighDpi", 1}}}})->high_dpi);

  // Area members keep their JSON kind: the screen methods move x and y before rounding.
  o = read({{"options",
             {{"limitSearchArea", true}, {"searchArea", {{"x", -3}, {"y", 4u}, {"width", 2.5}, {"height", "9"}}}}}});
  ASSERT_TRUE(o.ok());
  EXPECT_TRUE(o->area.limit && o->area.given);
  EXPECT_EQ(std::get<std::int64_t>(o->area.x), -3);
  EXPECT_EQ(std::get<std::uint64_t>(o->area.y), 4u);
  EXPECT_EQ(std::get<double>(o->area.width), 2.5);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(o->area.height));
  o = read({{"options", {{"limitSearchArea", "yes"}, {"searchArea", {1, 2}}}}});
  EXPECT_FALSE(o->area.limit);
  EXPECT_TRUE(o->area.given);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(o->area.x));
  EXPECT_EQ(read({{"options", {{"minSimilarity", 1}}}})->min_similarity, 1.0f);
  EXPECT_EQ(read({{"options", {{"minSimilarity", -2}}}})->min_similarity, -2.0f);
  EXPECT_EQ(read({{"options", {{"minSimilarity", "0.9"}}}})->min_similarity, 0.8f);
  EXPECT_EQ(read({{"options", {{"minSimilarity", -1e300}}}})->min_similarity, -std::numeric_limits<float>::infinity());
  EXPECT_FALSE(read({{"options", {{"allowSizeVariation", 1}}}})->allow_size_variation);

  const std::string anchor_error =
      "green_pink_not_supported: tarvik2 dropped the green/pink anchor-box system; use the explicit anchor+offset "
      "relative search (or the legacy Tarvik for old macros)";
  EXPECT_EQ(read({{"options", {{"enableGreenPinkBoxes", true}}}}).error(), anchor_error);
  EXPECT_EQ(read({{"options", {{"requireGreenPinkBoxes", true}, {"minSimilarity", 0.5}}}}).error(), anchor_error);
  EXPECT_TRUE(read({{"options", {{"enableGreenPinkBoxes", 1}, {"requireGreenPinkBoxes", false}}}}).ok());
}

TEST(FindImage, ScaleListAndSuppressionRules) {
  EXPECT_THAT(search_scales(1.0f, false), ::testing::ElementsAre(1.0f));
  EXPECT_THAT(search_scales(2.0f, true),
              ::testing::ElementsAre(2.0f, 0.9f * 2.0f, 0.95f * 2.0f, 1.05f * 2.0f, 1.1f * 2.0f));

  auto m = [](std::int32_t x, std::int32_t y, std::uint32_t w, std::uint32_t h, float s) {
    return Match{x, y, w, h, s, 1.0f};
  };
  // 10x10 boxes: a shift of 6 leaves 4x10 = 40 shared, union 160: exactly 0.25, suppressed.
  // A shift of 7 leaves 30 shared, union 170: below 0.25, kept.
  std::vector<Match> sorted = {m(0, 0, 10, 10, 0.9f), m(6, 0, 10, 10, 0.8f), m(0, 7, 10, 10, 0.7f),
                               m(10, 0, 10, 10, 0.6f)};
  auto kept = suppress_overlaps(sorted, 16);
  ASSERT_EQ(kept.size(), 3u);
  EXPECT_EQ(kept[1], sorted[2]);
  EXPECT_EQ(kept[2], sorted[3]);  // touching edges do not overlap
  EXPECT_EQ(suppress_overlaps(sorted, 2).size(), 2u);

  // A small box inside a large one: the union is the large box, so containment of a box
  // under a quarter of the area survives.
  sorted = {m(0, 0, 100, 100, 0.9f), m(10, 10, 49, 49, 0.8f), m(20, 20, 50, 50, 0.7f)};
  kept = suppress_overlaps(sorted, 16);
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept[1].width, 49u);

  // Ranking only a prefix must give what a full stable sort gives, including when the
  // prefix has to grow because nearly everything overlaps, and with many equal scores.
  std::mt19937 rng(5);
  for (int round = 0; round < 6; ++round) {
    std::vector<Match> hits;
    // A pile of better-scoring duplicates first, so the separate matches lie deep in the list.
    if (round % 2 == 1)
      for (int i = 0; i < 5000; ++i) hits.push_back(m(1000 + static_cast<int>(rng() % 3), 1000, 20, 20, 0.99f));
    const int n = round < 3 ? 3000 : 20000;
    for (int i = 0; i < n; ++i) {
      const int spread = round % 3 == 0 ? 4 : 400;  // round 0 and 3: a pile of overlapping boxes
      hits.push_back(m(static_cast<int>(rng() % spread), static_cast<int>(rng() % spread), 10 + rng() % 20,
                       10 + rng() % 20, static_cast<float>(rng() % 50) / 50.0f));
    }
    std::vector<Match> sorted_all = hits;
    std::stable_sort(sorted_all.begin(), sorted_all.end(),
                     [](const Match& a, const Match& b) { return a.score > b.score; });
    EXPECT_EQ(best_separate_matches(hits, 16), suppress_overlaps(sorted_all, 16)) << round;
  }

  // Near the 32-bit limit, right edges must not wrap around into an overlap.
  sorted = {m(INT32_MAX - 5, 0, 100, 10, 0.9f), m(INT32_MIN, 0, 100, 10, 0.8f)};
  EXPECT_EQ(suppress_overlaps(sorted, 16).size(), 2u);
}

}  // namespace
}  // namespace quorvane::cv
