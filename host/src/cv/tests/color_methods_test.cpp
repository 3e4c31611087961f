#include <gtest/gtest.h>

#include "cv/color_methods.h"
#include "cv/tests/screen_fake.h"

namespace quorvane::cv {
namespace {

using cv::testing::FakeScreen;
using cv::testing::monitor;

struct Shape {
  std::int32_t x, y;
  std::uint32_t w, h;
  std::array<std::uint8_t, 3> rgb;
  bool filled = true;
};

// A grey desktop with shapes drawn on it, in desktop coordinates.
struct Drawing {
  std::vector<Shape> shapes;
  std::array<std::uint8_t, 4> operator()(std::int32_t x, std::int32_t y) const {
    std::array<std::uint8_t, 4> bgra{128, 128, 128, 0};
    for (const Shape& s : shapes) {
      const bool inside =
          x >= s.x && y >= s.y && x < s.x + static_cast<std::int32_t>(s.w) && y < s.y + static_cast<std::int32_t>(s.h);
      const bool edge = x == s.x || y == s.y || x == s.x + static_cast<std::int32_t>(s.w) - 1 ||
                        y == s.y + static_cast<std::int32_t>(s.h) - 1;
      if (inside && (s.filled || edge)) bgra = {s.rgb[2], s.rgb[1], s.rgb[0], 0};
    }
    return bgra;
  }
};

constexpr std::array<std::uint8_t, 3> kRed{255, 0, 0};

// The browser on a monitor left of the primary one.
FakeScreen screen_with(std::vector<Shape> shapes) {
  FakeScreen screen;
  screen.monitors = {monitor(1, 0, 0, 200, 200, true), monitor(2, -1920, 0, 400, 300)};
  screen.browser_frame = cv::FrameBounds{-1900, 10, -1600, 200};
  screen.desktop = Drawing{std::move(shapes)};
  return screen;
}

json regions(const Result<json>& result) {
  EXPECT_TRUE(result.ok()) << result.error();
  return result.ok() ? (*result)["regions"] : json();
}

TEST(ColorParam, HexWithOptionalHash) {
  for (const char* text : {"#FF0000", "ff0000", "Ff0000"}) {
    Result<lumetra::Rgb8> red = read_color({{"color", text}});
    ASSERT_TRUE(red.ok()) << text;
    EXPECT_EQ(*red, (lumetra::Rgb8{255, 0, 0}));
  }
  EXPECT_EQ(*read_color({{"color", "0a1B2c"}}), (lumetra::Rgb8{0x0a, 0x1b, 0x2c}));
  EXPECT_EQ(read_color({{"color", "f00"}}).error(), "bad_params: color 'f00' is not rrggbb");
  EXPECT_EQ(read_color({{"color", "#f00"}}).error(), "bad_params: color 'f00' is not rrggbb");
  EXPECT_EQ(read_color({{"color", "gg0000"}}).error(), "bad_params: color is not hex");
  EXPECT_EQ(read_color({{"color", "##f0000"}}).error(), "bad_params: color is not hex");
  EXPECT_EQ(read_color({{"color", "+f0000"}}).error(), "bad_params: color is not hex");
  EXPECT_EQ(read_color({{"color", 0xff0000}}).error(), "bad_params: missing 'color'");
  EXPECT_EQ(read_color(json::array({"ff0000"})).error(), "bad_params: missing 'color'");
}

TEST(FindColorRegions, BoxesInDesktopCoordinatesInReadingOrder) {
  FakeScreen screen = screen_with({{-1820, 50, 10, 10, kRed},
                                   {-1900, 20, 5, 5, kRed},
                                   // two squares touching only at a corner: 4-connectivity keeps them apart
                                   {-1700, 100, 4, 4, kRed},
                                   {-1696, 104, 4, 4, kRed}});
  json found = regions(find_color_regions({{"color", "ff0000"}}, screen));
  EXPECT_EQ(found.dump(),
            "[{\"height\":5,\"width\":5,\"x\":-1900,\"y\":20},{\"height\":10,\"width\":10,\"x\":-1820,\"y\":50},"
            "{\"height\":4,\"width\":4,\"x\":-1700,\"y\":100},{\"height\":4,\"width\":4,\"x\":-1696,\"y\":104}]");
  ASSERT_EQ(screen.copies.size(), 1u);
  EXPECT_EQ(screen.copies[0].x, -1920);
}

TEST(FindColorRegions, MinimumSizesAndTolerance) {
  FakeScreen screen = screen_with({{-1800, 40, 2, 10, kRed}, {-1700, 40, 6, 6, {250, 4, 3}}});
  EXPECT_EQ(regions(find_color_regions({{"color", "ff0000"}}, screen)).size(), 0u);
  EXPECT_EQ(regions(find_color_regions({{"color", "ff0000"}, {"minWidth", 2}}, screen)).size(), 1u);
  // Higher bits of the minimum are dropped: 2^32 + 2 is 2.
  EXPECT_EQ(regions(find_color_regions({{"color", "ff0000"}, {"minWidth", 4294967298ull}}, screen)).size(), 1u);
  // A minimum of 0 counts as 1; a non-integer falls back to 3.
  EXPECT_EQ(regions(find_color_regions({{"color", "ff0000"}, {"minWidth", 0}}, screen)).size(), 1u);
  EXPECT_EQ(regions(find_color_regions({{"color", "ff0000"}, {"minWidth", 2.0}}, screen)).size(), 0u);

  EXPECT_EQ(regions(find_color_regions({{"color", "ff0000"}, {"tolerance", 4}}, screen)).size(), 0u);
  json near = regions(find_color_regions({{"color", "ff0000"}, {"tolerance", 5}}, screen));
  ASSERT_EQ(near.size(), 1u);
  EXPECT_EQ(near[0]["x"], -1700);
  EXPECT_EQ(regions(find_color_regions({{"color", "ff0000"}, {"tolerance", "5"}}, screen)).size(), 0u);

  // Above 255 acts as 255: every pixel matches and the capture is one region.
  json all = regions(find_color_regions({{"color", "ff0000"}, {"tolerance", 300}}, screen));
  EXPECT_EQ(all.dump(), "[{\"height\":300,\"width\":400,\"x\":-1920,\"y\":0}]");
}

TEST(FindColorRegions, SearchAreaIsCroppedFromTheCapture) {
  FakeScreen screen = screen_with({{-1820, 50, 10, 10, kRed}, {-1700, 50, 10, 10, kRed}});
  auto search = [&](json area) {
    return regions(find_color_regions({{"color", "ff0000"}, {"searchArea", std::move(area)}}, screen));
  };
  // Only the first square, cut at the area's right edge (desktop x -1815).
  json found = search({{"x", -1830.4}, {"y", 0}, {"width", 15}, {"height", 200}});
  EXPECT_EQ(found.dump(), "[{\"height\":10,\"width\":5,\"x\":-1820,\"y\":50}]");
  // Beside the monitor: nothing, and no error.
  EXPECT_EQ(search({{"x", 0}, {"y", 0}, {"width", 100}, {"height", 100}}).dump(), "[]");
  EXPECT_EQ(search({{"x", -1800}, {"y", 0}, {"width", -5}, {"height", 100}}).dump(), "[]");
  // An incomplete area is ignored: the whole capture is searched.
  EXPECT_EQ(search({{"x", -1830}, {"y", 0}, {"width", 15}}).size(), 2u);
  EXPECT_EQ(search({{"x", -1830}, {"y", 0}, {"width", 15}, {"height", "200"}}).size(), 2u);
}

TEST(FindRectangle, LargestRectangleOutlinedOrFilled) {
  FakeScreen screen = screen_with({{-1850, 30, 200, 100, kRed, false}, {-1600, 150, 50, 50, kRed}});
  Result<json> found = find_rectangle({{"color", "#ff0000"}}, screen);
  ASSERT_TRUE(found.ok()) << found.error();
  EXPECT_EQ(found->dump(), "{\"height\":100,\"width\":200,\"x\":-1850,\"y\":30}");

  Result<json> none = find_rectangle({{"color", "00ff00"}}, screen);
  ASSERT_TRUE(none.ok());
  EXPECT_EQ(none->dump(), "{\"height\":0,\"width\":0,\"x\":0,\"y\":0}");

  // Tolerance 5: one channel off by 5 still matches, by 6 does not.
  FakeScreen off_by_5 = screen_with({{-1800, 40, 30, 20, {250, 0, 0}}});
  EXPECT_EQ(find_rectangle({{"color", "ff0000"}}, off_by_5)->dump(),
            "{\"height\":20,\"width\":30,\"x\":-1800,\"y\":40}");
  FakeScreen off_by_6 = screen_with({{-1800, 40, 30, 20, {249, 0, 0}}});
  EXPECT_EQ(find_rectangle({{"color", "ff0000"}}, off_by_6)->dump(), "{\"height\":0,\"width\":0,\"x\":0,\"y\":0}");
}

TEST(ColorMethods, ColourErrorsComeBeforeTheCaptureAndCaptureErrorsPassThrough) {
  FakeScreen screen = screen_with({});
  EXPECT_EQ(find_color_regions({{"color", "xyz"}}, screen).error(), "bad_params: color 'xyz' is not rrggbb");
  EXPECT_EQ(find_rectangle(json(nullptr), screen).error(), "bad_params: missing 'color'");
  EXPECT_TRUE(screen.copies.empty());

  screen.enumerate_error = "Not enough memory resources are available to process this command. (0x80070008)";
  EXPECT_EQ(find_color_regions({{"color", "ff0000"}}, screen).error(),
            "capture_failed: Not enough memory resources are available to process this command. (0x80070008)");
  EXPECT_EQ(find_rectangle({{"color", "ff0000"}}, screen).error(),
            "capture_failed: Not enough memory resources are available to process this command. (0x80070008)");
}

}  // namespace
}  // namespace quorvane::cv
