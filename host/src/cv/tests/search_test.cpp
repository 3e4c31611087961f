#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "common/base64.h"
#include "cv/png.h"
#include "cv/search_image.h"
#include "cv/search_result.h"
#include "png_builder.h"
#include "synthetic_screen.h"

namespace quorvane::cv {
namespace {

using lumetra::Match;
using lumetra::RgbImage;

json raw_param(const RgbImage& img) {
  return json{
      {"data", base64_encode(img.pixels.data(), img.pixels.size())}, {"width", img.width}, {"height", img.height}};
}

json png_param(const RgbImage& img, double dpi = 96.0) {
  auto png = encode_png(img.pixels.data(), img.width, img.height, 3, dpi);
  return json{{"data", base64_encode(png->data(), png->size())}};
}

std::string error_of(const json& params) {
  auto r = search_image(params);
  return r.ok() ? std::string("<ok>") : r.error();
}

TEST(SearchResult, ReadingOrderIsRowThenColumnAndStableOnTies) {
  const std::vector<Match> matches = {{50, 10, 1, 1, 0.9f, 1},
                                      {10, 10, 1, 1, 0.8f, 1},
                                      {10, 10, 1, 1, 0.7f, 1},
                                      {0, -5, 1, 1, 0.6f, 1},
                                      {-3, 200, 1, 1, 0.5f, 1}};
  EXPECT_THAT(reading_order(matches), ::testing::ElementsAre(3, 1, 2, 0, 4));
}

TEST(SearchResult, OffsetsSaturate) {
  std::vector<Match> m = {{10, 20, 1, 1, 1, 1}, {INT32_MAX - 1, INT32_MIN + 1, 1, 1, 1, 1}};
  offset_matches(m, 1920, -5);
  EXPECT_EQ(m[0].x, 1930);
  EXPECT_EQ(m[0].y, 15);
  EXPECT_EQ(m[1].x, INT32_MAX);
  EXPECT_EQ(m[1].y, INT32_MIN);
  offset_matches(m, std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(m[0].x, INT32_MIN);
  EXPECT_EQ(m[0].y, INT32_MAX);
}

// ---------------------------------------------------------------------------------------

class SearchImageMethod : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { screen_ = new RgbImage(testing::make_desktop_screen(1024, 640, 4)); }
  static void TearDownTestSuite() { delete screen_; }
  static const RgbImage& screen() { return *screen_; }

 private:
  static RgbImage* screen_;
};
RgbImage* SearchImageMethod::screen_ = nullptr;

TEST_F(SearchImageMethod, ImageEqualToPatternIsOneFullSizeRegion) {
  const RgbImage small = testing::crop(screen(), 100, 100, 120, 90);
  auto r = search_image({{"image", raw_param(small)}, {"pattern", png_param(small)}});
  ASSERT_TRUE(r.ok()) << r.error();
  ASSERT_EQ(r->size(), 3u);
  EXPECT_EQ(r->at("containsGreenPinkBoxes"), false);
  EXPECT_EQ(r->at("errorCode"), 0);
  ASSERT_EQ(r->at("regions").size(), 1u);
  const json& region = r->at("regions")[0];
  EXPECT_EQ(region["matchedRect"], (json{{"height", 90}, {"width", 120}, {"x", 0}, {"y", 0}}));
  EXPECT_EQ(region["order"], 0);
  EXPECT_NEAR(region["score"].get<double>(), 1.0, 1e-6);
}

TEST_F(SearchImageMethod, FindsTaskbarIconsThroughTheMethodTable) {
  // The taskbar repeats seven icons; icon 100 appears at every seventh slot.
  const RgbImage icon = testing::make_icon(32, 100);
  const json params = {
      {"image", png_param(screen(), 144.0)}, {"pattern", raw_param(icon)}, {"options", {{"minSimilarity", 0.95}}}};
  const HandlerResult r = search_image("search_image", params);
  ASSERT_TRUE(r.ok()) << r.error();
  const json& regions = r.value()["regions"];
  ASSERT_GE(regions.size(), 2u);
  std::vector<int> xs;
  for (const json& region : regions) {
    EXPECT_EQ(region["matchedRect"]["y"], 640 - 36);
    xs.push_back(region["matchedRect"]["x"].get<int>());
  }
  // Equal scores: found left to right, so reading order matches array order.
  for (std::size_t i = 0; i < xs.size(); ++i) {
    EXPECT_EQ(xs[i], 8 + static_cast<int>(i) * 7 * 44);
    EXPECT_EQ(regions[i]["order"], i);
  }
}

TEST_F(SearchImageMethod, HighDpiUsesTheDpiOfEachImage) {
  RgbImage hay = screen();
  const RgbImage pattern = testing::make_icon(30, 77);
  RgbImage doubled(60, 60);
  for (std::uint32_t y = 0; y < 60; ++y)
    for (std::uint32_t x = 0; x < 60; ++x) std::copy_n(pattern.at(x / 2, y / 2), 3, doubled.at(x, y));
  testing::blit(hay, doubled, 500, 300);
  // The screen's DPI from dpiX, the pattern's from its pHYs chunk.
  json image = raw_param(hay);
  image["dpiX"] = 240;
  auto r =
      search_image({{"image", image}, {"pattern", png_param(pattern, 120.0)}, {"options", {{"enableHighDpi", true}}}});
  ASSERT_TRUE(r.ok()) << r.error();
  ASSERT_FALSE(r->at("regions").empty());
  const json& rect = r->at("regions")[0]["matchedRect"];
  EXPECT_EQ(rect["width"], 60);
  EXPECT_NEAR(rect["x"].get<int>(), 500, 2);
  EXPECT_NEAR(rect["y"].get<int>(), 300, 2);
}

TEST_F(SearchImageMethod, ErrorsComeInTheOrderOptionsImagePatternSearch) {
  const json good = raw_param(testing::crop(screen(), 0, 0, 20, 20));
  const std::string anchor_error =
      "green_pink_not_supported: tarvik2 dropped the green/pink anchor-box system; use the explicit anchor+offset "
      "relative search (or the legacy Tarvik for old macros)";
  EXPECT_EQ(error_of({{"options", {{"enableGreenPinkBoxes", true}}}}), anchor_error);
  EXPECT_EQ(error_of(json()), "bad_params: missing 'image'");
  EXPECT_EQ(error_of(json::array({good, good})), "bad_params: missing 'image'");
  EXPECT_EQ(error_of({{"pattern", good}}), "bad_params: missing 'image'");
  EXPECT_EQ(error_of({{"image", 5}, {"pattern", good}}), "bad_params: missing 'image.data'");
  EXPECT_EQ(error_of({{"image", nullptr}}), "bad_params: missing 'image.data'");
  EXPECT_EQ(error_of({{"image", good}}), "bad_params: missing 'pattern'");
  // The image is decoded before the pattern is looked at.
  EXPECT_EQ(error_of({{"image", {{"data", "%%%%"}}}}),
            "bad_params: base64 decode failed: Invalid symbol 37, offset 0.");
  EXPECT_THAT(error_of({{"image", {{"data", "AAAA"}}}, {"pattern", 5}}),
              ::testing::StartsWith("bad_image: image is neither raw RGB of 0x0x3 bytes nor decodable: "));
  EXPECT_EQ(error_of({{"image", good}, {"pattern", {{"data", "%%%%"}}}}),
            "bad_params: base64 decode failed: Invalid symbol 37, offset 0.");
  EXPECT_THAT(error_of({{"image", good}, {"pattern", {{"data", "AAAA"}, {"width", 3}, {"height", 2}}}}),
              ::testing::StartsWith("bad_image: pattern is neither raw RGB of 3x2x3 bytes nor decodable: "));
  EXPECT_EQ(
      error_of({{"image", good},
                {"pattern", good},
                {"options", {{"limitSearchArea", true}, {"searchArea", {{"x", 20}, {"width", 5}, {"height", 5}}}}}}),
      "bad_params: searchArea 5x5 at (20,0) lies fully outside the 20x20 image");
}

TEST_F(SearchImageMethod, NothingFoundIsAnEmptyResultNotAnError) {
  const RgbImage other = testing::make_icon(24, 1234);
  auto r = search_image({{"image", raw_param(testing::crop(screen(), 0, 0, 300, 200))}, {"pattern", raw_param(other)}});
  ASSERT_TRUE(r.ok()) << r.error();
  EXPECT_TRUE(r->at("regions").empty());
}

}  // namespace
}  // namespace quorvane::cv
