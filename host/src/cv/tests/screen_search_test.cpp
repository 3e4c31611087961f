#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <limits>

#include "common/base64.h"
#include "cv/png.h"
#include "cv/screen_search.h"
#include "screen_fake.h"

namespace quorvane::cv {
namespace {

using testing::FakeScreen;
using testing::monitor;

// Deterministic noise over the whole desktop, so any cut-out occurs exactly once.
std::array<std::uint8_t, 4> noise(std::int32_t x, std::int32_t y) {
  std::uint32_t h = static_cast<std::uint32_t>(x) * 374761393u + static_cast<std::uint32_t>(y) * 668265263u;
  h = (h ^ (h >> 13)) * 1274126177u;
  h ^= h >> 16;
  return {static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(h >> 8), static_cast<std::uint8_t>(h >> 16), 0};
}

// A raw RGB image parameter whose pixel (col, row) has the colour of `pixel(col, row)`.
template <typename PixelFn>
json raw_image(std::uint32_t w, std::uint32_t h, PixelFn pixel, double dpi = 0) {
  std::string rgb;
  for (std::uint32_t row = 0; row < h; ++row)
    for (std::uint32_t col = 0; col < w; ++col) {
      auto bgra = pixel(static_cast<std::int32_t>(col), static_cast<std::int32_t>(row));
      rgb += static_cast<char>(bgra[2]);
      rgb += static_cast<char>(bgra[1]);
      rgb += static_cast<char>(bgra[0]);
    }
  json image = {{"data", base64_encode(rgb)}, {"width", w}, {"height", h}};
  if (dpi > 0) image["dpiX"] = dpi;
  return image;
}

// The desktop's pixels at [x, x+w) x [y, y+h).
json desktop_cutout(std::int32_t x, std::int32_t y, std::uint32_t w, std::uint32_t h, double dpi = 0) {
  return raw_image(
      w, h, [&](std::int32_t col, std::int32_t row) { return noise(x + col, y + row); }, dpi);
}

// A primary monitor at the origin and a browser on a second one at (1920, 0).
FakeScreen desktop() {
  FakeScreen screen;
  screen.monitors = {monitor(1, 0, 0, 300, 200, true), monitor(2, 1920, 0, 400, 300)};
  screen.browser_frame = FrameBounds{1950, 10, 2250, 250};
  screen.desktop = noise;
  return screen;
}

class FakeClock final : public WaitClock {
 public:
  std::chrono::nanoseconds time{std::chrono::seconds(5)};
  std::chrono::nanoseconds per_attempt{0};  // time one capture takes
  std::vector<std::uint64_t> sleeps;
  std::chrono::nanoseconds now() override { return time; }
  void sleep_ms(std::uint64_t ms) override {
    sleeps.push_back(ms);
    // Saturating, so an absurd pause shows up in `sleeps` instead of wrapping the clock.
    const auto max = std::chrono::nanoseconds::max();
    const std::uint64_t room_ms = static_cast<std::uint64_t>((max - time).count()) / 1'000'000u;
    time = ms >= room_ms ? max : time + std::chrono::milliseconds(static_cast<std::int64_t>(ms));
  }
};

std::vector<std::uint8_t> read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST(SearchDesktop, ReportsMatchesInDesktopCoordinates) {
  FakeScreen screen = desktop();
  Result<json> result = search_desktop({{"pattern", desktop_cutout(2100, 120, 24, 20)}}, screen);
  ASSERT_TRUE(result.ok()) << result.error();
  ASSERT_EQ((*result)["regions"].size(), 1u);
  const json& region = (*result)["regions"][0];
  EXPECT_EQ(region["matchedRect"].dump(), "{\"height\":20,\"width\":24,\"x\":2100,\"y\":120}");
  EXPECT_NEAR(region["score"].get<double>(), 1.0, 1e-6);
  EXPECT_FALSE(result->contains("capturePath"));
  EXPECT_FALSE(result->contains("found"));
  EXPECT_EQ((*result)["errorCode"], 0);
  // The browser's monitor was captured, not the primary one.
  ASSERT_EQ(screen.copies.size(), 1u);
  EXPECT_EQ(screen.copies[0].x, 1920);
}

TEST(SearchDesktop, SearchAreaIsGivenInDesktopCoordinates) {
  FakeScreen screen = desktop();
  const json pattern = desktop_cutout(2100, 120, 24, 20);
  auto search_in = [&](json area) {
    json params = {{"pattern", pattern}, {"options", {{"limitSearchArea", true}, {"searchArea", std::move(area)}}}};
    Result<json> result = search_desktop(params, screen);
    EXPECT_TRUE(result.ok()) << result.error();
    return result.ok() ? (*result)["regions"].size() : 99u;
  };
  // Capture pixels 160..220 hold the pattern; the area covers desktop 2050..2150.
  EXPECT_EQ(search_in({{"x", 2050}, {"y", 100}, {"width", 100}, {"height", 60}}), 1u);
  // Left of the pattern on the same monitor: nothing.
  EXPECT_EQ(search_in({{"x", 1920}, {"y", 0}, {"width", 150}, {"height", 300}}), 0u);
  // A desktop area left of the monitor lies outside the capture: the error quotes the moved values.
  json params = {
      {"pattern", pattern},
      {"options", {{"limitSearchArea", true}, {"searchArea", {{"x", 100}, {"y", 0}, {"width", 50}, {"height", 50}}}}}};
  EXPECT_EQ(search_desktop(params, screen).error(),
            "bad_params: searchArea 50x50 at (-1820,0) lies fully outside the 400x300 image");
}

TEST(SearchDesktop, MovesOnlyNumericSearchAreaMembers) {
  auto area_of = [](const json& area) { return read_search_options({{"options", {{"searchArea", area}}}})->area; };
  const SearchAreaRequest moved = move_search_area(area_of({{"x", 2000}, {"y", "top"}, {"width", 10}}), 1920.0, -5.0);
  EXPECT_EQ(std::get<double>(moved.x), 80.0);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(moved.y));
  EXPECT_EQ(std::get<std::int64_t>(moved.width), 10);
  // Beyond 64 bits an unsigned x moves from its own value, not from the saturated one.
  const SearchAreaRequest far = move_search_area(area_of({{"x", 18446744073709551615ull}}), 1e19, 0.0);
  EXPECT_EQ(std::get<double>(far.x), 18446744073709551615.0 - 1e19);
  const SearchAreaRequest not_object = move_search_area(area_of(5), 1.0, 1.0);
  EXPECT_TRUE(not_object.given);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(not_object.x));
}

TEST(SearchDesktop, SavesTheCaptureWhenAsked) {
  FakeScreen screen = desktop();
  screen.monitors[1].scale = 1.5f;
  const std::filesystem::path path = std::filesystem::temp_directory_path() / "screen_search_test_capture.png";
  json params = {{"pattern", desktop_cutout(2100, 120, 24, 20)},
                 {"options", {{"saveCaptureOnDisk", true}, {"capturePath", path_text(path)}}}};
  Result<json> result = search_desktop(params, screen);
  ASSERT_TRUE(result.ok()) << result.error();
  EXPECT_EQ((*result)["capturePath"], path_text(path));
  std::vector<std::uint8_t> bytes = read_file(path);
  Result<PngHeader> header = probe_png(bytes);
  ASSERT_TRUE(header.ok()) << header.error();
  EXPECT_EQ(header->width, 400u);
  EXPECT_EQ(header->color_type, kPngRgb);
  EXPECT_EQ(header->physical->x_pixels_per_unit, 5669u);
  std::filesystem::remove(path);

  params["options"]["capturePath"] = path_text(std::filesystem::temp_directory_path() / "no such dir" / "x.png");
  Result<json> failed = search_desktop(params, screen);
  ASSERT_FALSE(failed.ok());
  EXPECT_TRUE(failed.error().starts_with("save_failed: ")) << failed.error();

  // A NUL would cut the name short: refused, and nothing is written under the short name.
  const std::string cut = path_text(std::filesystem::temp_directory_path() / "screen_search_test_cut");
  std::filesystem::remove(path_from_text(cut));
  params["options"]["capturePath"] = cut + std::string(1, '\0') + ".png";
  EXPECT_EQ(search_desktop(params, screen).error(),
            "save_failed: strings passed to WinAPI cannot contain NULs (" + cut + std::string(1, '\0') + ".png)");
  EXPECT_FALSE(std::filesystem::exists(path_from_text(cut)));

  params["options"] = {{"saveCaptureOnDisk", true}};
  result = search_desktop(params, screen);
  ASSERT_TRUE(result.ok()) << result.error();
  EXPECT_EQ((*result)["capturePath"], path_text(default_capture_path()));
  EXPECT_TRUE(std::filesystem::exists(default_capture_path()));
  std::filesystem::remove(default_capture_path());
}

TEST(ScreenSearch, ErrorsComeInStepOrder) {
  FakeScreen screen = desktop();
  EXPECT_EQ(search_desktop(json::object(), screen).error(), "bad_params: missing 'pattern'");
  EXPECT_TRUE(search_desktop({{"options", {{"enableGreenPinkBoxes", true}}}}, screen)
                  .error()
                  .starts_with("green_pink_not_supported: "));
  EXPECT_EQ(search_desktop({{"pattern", {{"data", 5}}}}, screen).error(), "bad_params: missing 'pattern.data'");
  EXPECT_TRUE(screen.copies.empty());

  screen.copy_error = "Get RGBA data failed";
  const json params = {{"pattern", desktop_cutout(0, 0, 4, 4)}};
  EXPECT_EQ(search_desktop(params, screen).error(), "capture_failed: Get RGBA data failed");
  // A capture that cannot be saved fails before the search area is looked at.
  screen.copy_error.reset();
  const std::string folder = path_text(std::filesystem::temp_directory_path() / "no such folder" / "x.png");
  json saving = params;
  saving["options"] = {{"saveCaptureOnDisk", true}, {"capturePath", folder}, {"limitSearchArea", true}};
  EXPECT_TRUE(search_desktop(saving, screen).error().starts_with("save_failed: "))
      << search_desktop(saving, screen).error();
  saving["options"]["saveCaptureOnDisk"] = false;
  EXPECT_EQ(search_desktop(saving, screen).error(), "bad_params: limitSearchArea set but no searchArea");
  screen.copy_error = "Get RGBA data failed";
  FakeClock clock;
  EXPECT_EQ(wait_for_image(params, screen, clock).error(), "capture_failed: Get RGBA data failed");
  EXPECT_EQ(search_relative(
                {{"offset", {{"x", 0}, {"y", 0}, {"width", 1}, {"height", 1}}}, {"pattern", params["pattern"]}}, screen)
                .error(),
            "capture_failed: Get RGBA data failed");
}

TEST(WaitForImage, TimeOutZeroStillMakesOneFullAttempt) {
  FakeScreen screen = desktop();
  FakeClock clock;
  // A flat pattern scores 0 everywhere, so it never matches.
  json flat = {{"data", base64_encode(std::string(4 * 4 * 3, '\x7f'))}, {"width", 4}, {"height", 4}};
  Result<json> result = wait_for_image({{"pattern", flat}, {"timeoutMs", 0}}, screen, clock);
  ASSERT_TRUE(result.ok()) << result.error();
  EXPECT_EQ(result->dump(),
            "{\"containsGreenPinkBoxes\":false,\"elapsedMs\":0,\"errorCode\":0,\"found\":false,\"regions\":[]}");
  EXPECT_EQ(screen.copies.size(), 1u);
  EXPECT_TRUE(clock.sleeps.empty());
}

TEST(WaitForImage, IntervalAndTimeOutDefaults) {
  json flat = {{"data", base64_encode(std::string(4 * 4 * 3, '\x7f'))}, {"width", 4}, {"height", 4}};
  for (const json& timeout : {json(-1), json("500"), json(500.0), json(nullptr)}) {
    FakeScreen screen = desktop();
    screen.monitors[1].mode = DisplayMode{1920, 0, 8, 8};
    FakeClock clock;
    json params = {{"pattern", flat}};
    if (!timeout.is_null()) params["timeoutMs"] = timeout;
    Result<json> result = wait_for_image(params, screen, clock);
    ASSERT_TRUE(result.ok()) << result.error();
    // 10000 ms in steps of 200 ms: attempts at 0, 200, ..., 10000.
    EXPECT_EQ(screen.copies.size(), 51u) << timeout.dump();
    EXPECT_EQ((*result)["elapsedMs"], 10000);
    EXPECT_EQ(clock.sleeps.front(), 200u);
  }

  FakeScreen screen = desktop();
  FakeClock clock;
  Result<json> result = wait_for_image({{"pattern", flat}, {"timeoutMs", 30}, {"intervalMs", 5}}, screen, clock);
  ASSERT_TRUE(result.ok());
  // Never below 20 ms, except for what is left of the time-out before the last attempt.
  EXPECT_EQ(clock.sleeps, (std::vector<std::uint64_t>{20, 10}));
  EXPECT_EQ((*result)["elapsedMs"], 30);
}

TEST(WaitForImage, PausesNeverRunPastTheTimeOut) {
  json flat = {{"data", base64_encode(std::string(4 * 4 * 3, '\x7f'))}, {"width", 4}, {"height", 4}};
  // Intervals at and beyond the signed 64-bit range of the clock types: one pause of what
  // is left, then the last attempt.
  for (const json& interval : {json(std::uint64_t{0x7FFFFFFFFFFFFFFF}), json(std::uint64_t{1} << 63),
                               json(std::numeric_limits<std::uint64_t>::max()), json(300)}) {
    FakeScreen screen = desktop();
    FakeClock clock;
    Result<json> result =
        wait_for_image({{"pattern", flat}, {"timeoutMs", 300}, {"intervalMs", interval}}, screen, clock);
    ASSERT_TRUE(result.ok()) << result.error();
    EXPECT_EQ(clock.sleeps, (std::vector<std::uint64_t>{300})) << interval.dump();
    EXPECT_EQ(screen.copies.size(), 2u);
    EXPECT_EQ((*result)["elapsedMs"], 300);
  }

  // The last pause is cut to fit; time spent capturing counts against it.
  FakeScreen screen = desktop();
  FakeClock clock;
  // The first capture takes 7 ms.
  screen.desktop = [&](std::int32_t x, std::int32_t y) {
    if (x == 1920 && y == 0 && screen.copies.size() == 1) clock.time += std::chrono::milliseconds(7);
    return noise(x, y);
  };
  Result<json> result = wait_for_image({{"pattern", flat}, {"timeoutMs", 120}, {"intervalMs", 50}}, screen, clock);
  ASSERT_TRUE(result.ok()) << result.error();
  EXPECT_EQ(clock.sleeps, (std::vector<std::uint64_t>{50, 50, 13}));
  EXPECT_EQ((*result)["elapsedMs"], 120);
}

TEST(WaitForImage, PauseIsTheIntervalCutToWhatIsLeft) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  EXPECT_EQ(wait_pause_ms(0, 0, 200), std::nullopt);
  EXPECT_EQ(wait_pause_ms(300, 300, 20), std::nullopt);
  EXPECT_EQ(wait_pause_ms(kMax, 300, 20), std::nullopt);
  EXPECT_EQ(wait_pause_ms(0, 300, 20), 20u);
  EXPECT_EQ(wait_pause_ms(299, 300, 20), 1u);
  EXPECT_EQ(wait_pause_ms(10, 300, kMax), 290u);
  EXPECT_EQ(wait_pause_ms(5, kMax, kMax), kMax - 5);
}

TEST(WaitForImage, ReturnsAsSoonAsThePatternAppears) {
  FakeScreen screen = desktop();
  FakeClock clock;
  const json pattern = desktop_cutout(2000, 50, 16, 16);
  // The pattern is covered by grey until the third capture.
  screen.desktop = [&](std::int32_t x, std::int32_t y) {
    if (screen.copies.size() < 3 && x >= 2000 && x < 2016 && y >= 50 && y < 66)
      return std::array<std::uint8_t, 4>{9, 9, 9, 0};
    return noise(x, y);
  };
  Result<json> result = wait_for_image({{"pattern", pattern}, {"intervalMs", 50}}, screen, clock);
  ASSERT_TRUE(result.ok()) << result.error();
  EXPECT_TRUE((*result)["found"].get<bool>());
  EXPECT_EQ((*result)["elapsedMs"], 100);
  EXPECT_EQ((*result)["regions"][0]["matchedRect"]["x"], 2000);
  EXPECT_EQ(screen.copies.size(), 3u);
}

TEST(SearchRelative, OffsetIsCheckedFirstInMemberOrder) {
  FakeScreen screen = desktop();
  EXPECT_EQ(search_relative(json::array(), screen).error(), "bad_params: missing 'offset'");
  EXPECT_EQ(search_relative({{"offset", {{"x", 1}}}}, screen).error(), "bad_params: missing numeric 'offset.y'");
  EXPECT_EQ(search_relative({{"offset", 7}}, screen).error(), "bad_params: missing numeric 'offset.x'");
  EXPECT_EQ(search_relative({{"offset", {{"x", 1}, {"y", 2}, {"width", "3"}, {"height", 4}}}}, screen).error(),
            "bad_params: missing numeric 'offset.width'");
  // Positive sizes are checked before the pattern is looked at.
  EXPECT_EQ(search_relative({{"offset", {{"x", 1}, {"y", 2}, {"width", 0}, {"height", 4}}}}, screen).error(),
            "bad_params: offset.width/height must be positive");
  EXPECT_EQ(search_relative({{"offset", {{"x", 1}, {"y", 2}, {"width", 3}, {"height", -0.5}}}}, screen).error(),
            "bad_params: offset.width/height must be positive");
  EXPECT_EQ(search_relative({{"offset", {{"x", 1}, {"y", 2}, {"width", 3}, {"height", 4}}}}, screen).error(),
            "bad_params: missing 'pattern'");
  // Then the options, the pattern and last the image, each fully decoded before the next.
  const json offset = {{"x", 1}, {"y", 2}, {"width", 3}, {"height", 4}};
  EXPECT_TRUE(
      search_relative({{"offset", offset}, {"options", {{"requireGreenPinkBoxes", true}}}, {"image", 5}}, screen)
          .error()
          .starts_with("green_pink_not_supported: "));
  EXPECT_EQ(search_relative({{"offset", offset}, {"image", {{"data", "%%%%"}}}}, screen).error(),
            "bad_params: missing 'pattern'");
  EXPECT_EQ(
      search_relative({{"offset", offset}, {"pattern", desktop_cutout(0, 0, 4, 4)}, {"image", {{"x", 1}}}}, screen)
          .error(),
      "bad_params: missing 'image.data'");
  EXPECT_TRUE(screen.copies.empty());
}

TEST(SearchRelative, TargetAreaFollowsTheAnchorAndItsScale) {
  FakeScreen screen = desktop();
  // Haystack: the desktop area at (2000, 0), sent as an image; the anchor sits at (100, 200) in it.
  const json image = desktop_cutout(2000, 0, 300, 260);
  const json pattern = desktop_cutout(2100, 200, 20, 20);
  json params = {
      {"offset", {{"x", 10}, {"y", 20}, {"width", 30}, {"height", 40}}}, {"pattern", pattern}, {"image", image}};
  Result<json> result = search_relative(params, screen);
  ASSERT_TRUE(result.ok()) << result.error();
  ASSERT_EQ((*result)["regions"].size(), 1u);
  const json& region = (*result)["regions"][0];
  EXPECT_EQ(region["anchorRect"].dump(), "{\"height\":20,\"width\":20,\"x\":100,\"y\":200}");
  EXPECT_EQ(region["matchedRect"].dump(), "{\"height\":40.0,\"width\":30.0,\"x\":110.0,\"y\":220.0}");
  EXPECT_EQ(region["order"], 0);
  EXPECT_FALSE(result->contains("found"));
  EXPECT_TRUE(screen.copies.empty());

  // Without an image the browser's monitor is searched and the anchor is on the desktop;
  // the search area stays in capture pixels.
  params.erase("image");
  params["options"] = {{"limitSearchArea", true},
                       {"searchArea", {{"x", 150}, {"y", 150}, {"width", 100}, {"height", 100}}}};
  result = search_relative(params, screen);
  ASSERT_TRUE(result.ok()) << result.error();
  ASSERT_EQ((*result)["regions"].size(), 1u);
  EXPECT_EQ((*result)["regions"][0]["anchorRect"]["x"], 2100);
  EXPECT_EQ((*result)["regions"][0]["matchedRect"].dump(), "{\"height\":40.0,\"width\":30.0,\"x\":2110.0,\"y\":220.0}");
}

TEST(SearchRelative, AnAnchorFoundAtScaleTwoScalesTheOffset) {
  FakeScreen screen = desktop();
  // The haystack shows the desktop noise at twice its size and twice the pattern's DPI,
  // so the pattern at (50, 100) of the noise is the anchor at (100, 200).
  const json image = raw_image(
      300, 260, [](std::int32_t x, std::int32_t y) { return noise(x / 2, y / 2); }, 192.0);
  const json pattern = raw_image(
      20, 20, [](std::int32_t x, std::int32_t y) { return noise(50 + x, 100 + y); }, 96.0);
  json params = {{"offset", {{"x", 10}, {"y", 20}, {"width", 30}, {"height", 40}}},
                 {"pattern", pattern},
                 {"image", image},
                 {"options", {{"enableHighDpi", true}}}};
  Result<json> result = search_relative(params, screen);
  ASSERT_TRUE(result.ok()) << result.error();
  ASSERT_GE((*result)["regions"].size(), 1u);
  const json& region = (*result)["regions"][0];
  EXPECT_EQ(region["anchorRect"].dump(), "{\"height\":40,\"width\":40,\"x\":100,\"y\":200}");
  EXPECT_EQ(region["matchedRect"].dump(), "{\"height\":80.0,\"width\":60.0,\"x\":120.0,\"y\":240.0}");
}

}  // namespace
}  // namespace quorvane::cv
