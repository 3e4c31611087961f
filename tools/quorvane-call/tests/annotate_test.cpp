#include <gtest/gtest.h>

#include "annotate.h"
#include "cv/image_input.h"
#include "cv/png.h"

namespace quorvane::annotate {
namespace {

lumetra::RgbImage grey(std::uint32_t w, std::uint32_t h, std::uint8_t level = 100) {
  lumetra::RgbImage image(w, h);
  std::fill(image.pixels.begin(), image.pixels.end(), level);
  return image;
}

Colour at(const lumetra::RgbImage& image, long long x, long long y) {
  const std::uint8_t* p = image.at(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y));
  return {p[0], p[1], p[2]};
}

constexpr Colour kGrey{100, 100, 100};

SearchPicture of(const json& result) {
  SearchPicture picture;
  picture.result = &result;
  return picture;
}

// The outline runs just outside the box on all four sides and leaves the box itself alone.
void expect_outlined(const lumetra::RgbImage& image, Box b, Colour colour) {
  for (long long x = b.x - kLineWidth; x < b.x + b.width + kLineWidth; ++x) {
    EXPECT_EQ(at(image, x, b.y - 1), colour) << "top edge at x=" << x;
    EXPECT_EQ(at(image, x, b.y + b.height), colour) << "bottom edge at x=" << x;
  }
  for (long long y = b.y; y < b.y + b.height; ++y) {
    EXPECT_EQ(at(image, b.x - 1, y), colour) << "left edge at y=" << y;
    EXPECT_EQ(at(image, b.x + b.width, y), colour) << "right edge at y=" << y;
    EXPECT_EQ(at(image, b.x, y), kGrey) << "inside at y=" << y;
    EXPECT_EQ(at(image, b.x + b.width - 1, y), kGrey) << "inside at y=" << y;
  }
  EXPECT_EQ(at(image, b.x - kLineWidth - 1, b.y + 1), kGrey) << "left of the line";
}

TEST(Annotate, RegionsAreOutlinedWhereTheyAreAndLabelledWithRankAndScore) {
  auto image = grey(200, 120);
  const json result = json::parse(R"({"containsGreenPinkBoxes":false,"errorCode":0,"regions":[
    {"matchedRect":{"height":20,"width":30,"x":120,"y":60},"order":1,"score":0.9876},
    {"matchedRect":{"height":10,"width":12,"x":20,"y":40},"order":0,"score":1.0}]})");
  draw_search(image, of(result));
  expect_outlined(image, {120, 60, 30, 20}, kMatch);
  expect_outlined(image, {20, 40, 12, 10}, kMatch);
  EXPECT_EQ(region_label(result["regions"][0]), "#1 0.988");
  EXPECT_EQ(region_label(result["regions"][1]), "#0 1.000");
  // Both labels are drawn (dark plates), and neither covers an outline (checked above).
  int plate = 0;
  for (long long x = 0; x < 200; ++x)
    for (long long y = 0; y < 120; ++y) plate += at(image, x, y) == Colour{24, 24, 24};
  EXPECT_GT(plate, 2 * 500);
}

TEST(Annotate, DesktopCoordinatesAreMovedByTheCaptureOrigin) {
  // A monitor left of the primary one: its pixel (0, 0) is desktop (-1920, 0).
  auto image = grey(240, 120);
  const json result =
      json::parse(R"({"regions":[{"matchedRect":{"height":8,"width":8,"x":-1880,"y":30},"order":0,"score":0.95}]})");
  SearchPicture picture = of(result);
  picture.search_area = Box{-1900, 10, 160, 80};
  picture.origin_x = -1920;
  draw_search(image, picture);
  expect_outlined(image, {40, 30, 8, 8}, kMatch);
  // The search area is dashed: both its colour and gaps occur along its top edge.
  int on = 0, off = 0;
  for (long long x = 20; x < 180; ++x) (at(image, x, 9) == kSearchArea ? on : off)++;
  EXPECT_GT(on, 40);
  EXPECT_GT(off, 40);
}

TEST(Annotate, TheBestCandidateIsDrawnOnlyWhenNothingMatched) {
  const json candidate =
      json::parse(R"({"matchedRect":{"height":10,"width":10,"x":50,"y":50},"order":0,"score":0.61})");
  const json none = json::parse(R"({"regions":[]})");
  auto image = grey(120, 120);
  SearchPicture nothing = of(none);
  nothing.best_candidate = &candidate;
  draw_search(image, nothing);
  int orange = 0;
  for (long long x = 48; x < 62; ++x) orange += at(image, x, 49) == kCandidate;
  EXPECT_GT(orange, 4);
  EXPECT_EQ(at(image, 55, 55), kGrey);

  const json some =
      json::parse(R"({"regions":[{"matchedRect":{"height":4,"width":4,"x":5,"y":5},"order":0,"score":0.9}]})");
  auto other = grey(120, 120);
  SearchPicture matched = of(some);
  matched.best_candidate = &candidate;
  draw_search(other, matched);
  for (long long x = 40; x < 70; ++x)
    for (long long y = 40; y < 70; ++y) ASSERT_NE(at(other, x, y), kCandidate);
}

TEST(Annotate, RelativeSearchesShowTheAnchorAndTheTarget) {
  auto image = grey(100, 100);
  const json result = json::parse(R"({"regions":[{"anchorRect":{"height":10,"width":10,"x":10,"y":40},
    "matchedRect":{"height":9.5,"width":20.2,"x":30.4,"y":40.0},"order":0,"score":1.0}]})");
  draw_search(image, of(result));
  expect_outlined(image, {10, 40, 10, 10}, kMatch);
  // Float targets are rounded outwards: x 30.4..50.6 becomes 30..51.
  expect_outlined(image, {30, 40, 21, 10}, kTarget);
}

TEST(Annotate, LabelsOfMatchesStackedCloselyDoNotCoverEachOthersOutlines) {
  // Four check boxes one under another, as in a dialog: no room above each, labels go beside.
  auto image = grey(300, 200);
  const json result = json::parse(R"({"regions":[
    {"matchedRect":{"height":20,"width":20,"x":40,"y":40},"order":0,"score":1.0},
    {"matchedRect":{"height":20,"width":20,"x":40,"y":66},"order":1,"score":1.0},
    {"matchedRect":{"height":20,"width":20,"x":40,"y":92},"order":2,"score":1.0},
    {"matchedRect":{"height":20,"width":20,"x":40,"y":118},"order":3,"score":0.99}]})");
  draw_search(image, of(result));
  for (long long y : {40, 66, 92, 118}) expect_outlined(image, {40, y, 20, 20}, kMatch);
}

TEST(Annotate, ShapesPartlyOrWhollyOutsideTheImageAreClipped) {
  auto image = grey(30, 30);
  const json result = json::parse(R"({"regions":[
    {"matchedRect":{"height":40,"width":40,"x":-5,"y":-5},"order":0,"score":0.9},
    {"matchedRect":{"height":5,"width":5,"x":1000000,"y":-1000000},"order":1,"score":0.9},
    {"matchedRect":"not a rectangle","order":2,"score":0.9}, 7]})");
  SearchPicture picture = of(result);
  picture.search_area = Box{-100, -100, 1000, 1000};
  draw_search(image, picture);
  EXPECT_EQ(at(image, 15, 15), kGrey);
  label(image, 25, 25, "#123456789", kMatch, 3);  // runs off the right and bottom edges
}

TEST(Annotate, ThePictureSurvivesPngEncodingPixelForPixel) {
  auto image = grey(160, 100);
  const json result =
      json::parse(R"({"regions":[{"matchedRect":{"height":12,"width":16,"x":30,"y":20},"order":0,"score":0.875}]})");
  draw_search(image, of(result));
  auto png = cv::encode_png(image.pixels.data(), image.width, image.height, 3, 96.0);
  ASSERT_TRUE(png.ok()) << png.error();
  auto back = cv::decode_picture(*png);
  ASSERT_TRUE(back.ok()) << back.error();
  EXPECT_EQ(back->pixels, image.pixels);
  expect_outlined(*back, {30, 20, 16, 12}, kMatch);
}

}  // namespace
}  // namespace quorvane::annotate
