#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "cv/capture.h"
#include "cv/png.h"
#include "screen_fake.h"
#include "stb_reference.h"

namespace quorvane::cv {
namespace {

using testing::FakeScreen;
using testing::monitor;

// Two side-by-side monitors, the secondary enumerated first and left of the primary.
FakeScreen two_monitors() {
  FakeScreen screen;
  screen.monitors = {monitor(1, -1920, 0, 1920, 1080, false, 1.5f), monitor(2, 0, 0, 1920, 1080, true)};
  return screen;
}

std::optional<MonitorHandle> select(FakeScreen& screen) {
  Result<std::vector<MonitorHandle>> monitors = screen.enumerate_monitors();
  return select_capture_monitor(screen, *monitors);
}

TEST(SelectCaptureMonitor, TheMonitorHoldingMoreOfTheBrowserWins) {
  FakeScreen screen = two_monitors();
  screen.browser_frame = FrameBounds{-300, 100, 200, 600};  // 300 px on the left one, 200 on the right
  EXPECT_EQ(select(screen), 1u);
  screen.browser_frame = FrameBounds{-200, 100, 300, 600};
  EXPECT_EQ(select(screen), 2u);
}

TEST(SelectCaptureMonitor, EqualPartsGoToTheLaterMonitor) {
  FakeScreen screen = two_monitors();
  screen.browser_frame = FrameBounds{-250, 0, 250, 400};
  EXPECT_EQ(select(screen), 2u);
  std::swap(screen.monitors[0], screen.monitors[1]);
  EXPECT_EQ(select(screen), 1u);
}

TEST(SelectCaptureMonitor, PrimaryWhenTheBrowserIsNotInFrontOrOffEveryMonitor) {
  FakeScreen screen = two_monitors();
  EXPECT_EQ(select(screen), 2u);
  screen.browser_frame = FrameBounds{5000, 5000, 5800, 5600};
  EXPECT_EQ(select(screen), 2u);
  // Touching an edge is no overlap.
  screen.browser_frame = FrameBounds{1920, 0, 2400, 500};
  EXPECT_EQ(select(screen), 2u);
}

TEST(SelectCaptureMonitor, PrimaryFallbackSkipsUnreadableMonitorsThenTakesTheFirst) {
  FakeScreen screen;
  screen.monitors = {monitor(1, 0, 0, 100, 100), monitor(2, 100, 0, 100, 100, true),
                     monitor(3, 200, 0, 100, 100, true)};
  screen.monitors[1].info = fail("unreadable");
  EXPECT_EQ(select(screen), 3u);

  screen.monitors[2].info->flags = 0;
  EXPECT_EQ(select(screen), 1u);

  FakeScreen empty;
  EXPECT_EQ(select(empty), std::nullopt);
}

TEST(SelectCaptureMonitor, FailedGeometryCountsAsAnEmptyMonitorAtTheOrigin) {
  FakeScreen screen = two_monitors();
  screen.monitors[0].mode = fail("no mode");  // geometry 0x0: never overlaps
  screen.browser_frame = FrameBounds{-1000, 0, -10, 500};
  EXPECT_EQ(select(screen), 2u);
}

TEST(OverlapArea, NegativeOriginsAndNoOverlap) {
  MonitorGeometry left{-1920, -1080, 1920, 1080, 1.0};
  EXPECT_EQ(overlap_area(left, FrameBounds{-100, -50, 100, 50}), 100 * 50);
  EXPECT_EQ(overlap_area(left, FrameBounds{0, 0, 100, 100}), 0);
  EXPECT_EQ(overlap_area(left, FrameBounds{100, 100, -100, -100}), 0);  // inverted window
}

TEST(ParseBuildNumber, AcceptsDigitsWithAnOptionalPlus) {
  EXPECT_EQ(parse_build_number("7601"), 7601u);
  EXPECT_EQ(parse_build_number("+22631"), 22631u);
  EXPECT_EQ(parse_build_number("4294967295"), 4294967295u);
  for (std::string_view bad : {"", "+", "-1", " 7601", "7601 ", "76a1", "4294967296", "++1", "0x10"})
    EXPECT_EQ(parse_build_number(bad), std::nullopt) << bad;
}

TEST(BgraToRgba, SwapsRedAndBlueAndFillsZeroAlphaOnOldBuilds) {
  const std::vector<std::uint8_t> bgra = {1, 2, 3, 0, 4, 5, 6, 128, 7, 8, 9, 255};
  for (std::optional<std::uint32_t> old_build :
       {std::optional<std::uint32_t>(7601), std::optional<std::uint32_t>(9199), std::optional<std::uint32_t>()}) {
    std::vector<std::uint8_t> pixels = bgra;
    bgra_to_rgba_in_place(pixels, old_build);
    EXPECT_EQ(pixels, (std::vector<std::uint8_t>{3, 2, 1, 255, 6, 5, 4, 128, 9, 8, 7, 255}));
  }
  std::vector<std::uint8_t> pixels = bgra;
  bgra_to_rgba_in_place(pixels, 9200);
  EXPECT_EQ(pixels, (std::vector<std::uint8_t>{3, 2, 1, 0, 6, 5, 4, 128, 9, 8, 7, 255}));
}

TEST(CaptureTargetMonitor, CapturesTheChosenMonitorWithItsScaleAndOrigin) {
  FakeScreen screen = two_monitors();
  screen.monitors[0].mode = DisplayMode{-1920, 0, 4, 3};
  screen.browser_frame = FrameBounds{-1919, 0, -1917, 2};

  Result<MonitorCapture> capture = capture_target_monitor(screen);
  ASSERT_TRUE(capture.ok()) << capture.error();
  EXPECT_EQ(capture->width, 4u);
  EXPECT_EQ(capture->height, 3u);
  EXPECT_EQ(capture->scale, 1.5);
  EXPECT_EQ(capture->origin_x, -1920);
  ASSERT_EQ(screen.copies.size(), 1u);
  EXPECT_EQ(screen.copies[0], (DisplayMode{-1920, 0, 4, 3}));
  ASSERT_EQ(capture->pixels.size(), 4u * 3 * 4);
  // Desktop pixel (-1918, 1) is capture pixel (2, 1); build 7601 fills the alpha.
  auto expected = testing::coordinate_colour(-1918, 1);
  const std::uint8_t* px = capture->pixels.data() + (1 * 4 + 2) * 4;
  EXPECT_EQ(px[0], expected[2]);
  EXPECT_EQ(px[1], expected[1]);
  EXPECT_EQ(px[2], expected[0]);
  EXPECT_EQ(px[3], 255);
}

TEST(CaptureTargetMonitor, ErrorStrings) {
  FakeScreen screen = two_monitors();
  screen.enumerate_error = "Invalid monitor handle. (0x80070596)";
  EXPECT_EQ(capture_target_monitor(screen).error(), "capture_failed: Invalid monitor handle. (0x80070596)");

  FakeScreen empty;
  EXPECT_EQ(capture_target_monitor(empty).error(), "capture_failed: no monitors");

  screen = two_monitors();
  screen.monitors[1].mode = fail("The parameter is incorrect. (0x80070057)");
  EXPECT_EQ(capture_target_monitor(screen).error(), "capture_failed: The parameter is incorrect. (0x80070057)");
  EXPECT_TRUE(screen.copies.empty());

  screen = two_monitors();
  screen.copy_error = "Get RGBA data failed";
  EXPECT_EQ(capture_target_monitor(screen).error(), "capture_failed: Get RGBA data failed");
}

TEST(CaptureScreenRgb, DropsAlphaAndPlacesTheImageOnTheDesktop) {
  FakeScreen screen = two_monitors();
  screen.monitors[0].mode = DisplayMode{-1920, 0, 5, 2};
  screen.browser_frame = FrameBounds{-1920, 0, -1900, 20};

  Result<ScreenImage> shot = capture_screen_rgb(screen);
  ASSERT_TRUE(shot.ok()) << shot.error();
  EXPECT_EQ(shot->origin_x, -1920.0);
  EXPECT_EQ(shot->origin_y, 0.0);
  EXPECT_EQ(shot->dpi, 144.0);
  ASSERT_TRUE(shot->image.well_formed());
  for (std::uint32_t y = 0; y < 2; ++y)
    for (std::uint32_t x = 0; x < 5; ++x) {
      auto bgra = testing::coordinate_colour(-1920 + static_cast<std::int32_t>(x), static_cast<std::int32_t>(y));
      const std::uint8_t* px = shot->image.at(x, y);
      EXPECT_EQ(px[0], bgra[2]);
      EXPECT_EQ(px[1], bgra[1]);
      EXPECT_EQ(px[2], bgra[0]);
    }

  screen.copy_error = "The handle is invalid. (0x80070006)";
  EXPECT_EQ(capture_screen_rgb(screen).error(), "capture_failed: The handle is invalid. (0x80070006)");
}

std::vector<std::uint8_t> read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

class CaptureFiles : public ::testing::Test {
 protected:
  std::filesystem::path folder;
  void SetUp() override {
    folder = std::filesystem::temp_directory_path() /
             ("capture_test_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
  }
  void TearDown() override { std::filesystem::remove_all(folder); }
};

TEST_F(CaptureFiles, RgbaAndRgbPngsCarryTheirPixelsAndDpi) {
  const std::vector<std::uint8_t> rgba = {255, 0,  0,  255, 0, 255, 0, 128, 0, 0, 255, 0,
                                          10,  20, 30, 40,  1, 2,   3, 4,   5, 6, 7,   8};
  const std::filesystem::path path = folder / "rgba.png";
  ASSERT_TRUE(save_capture_png(path, rgba, 3, 2, CaptureColour::Rgba, 144.0).ok());
  std::vector<std::uint8_t> bytes = read_file(path);
  Result<PngHeader> header = probe_png(bytes);
  ASSERT_TRUE(header.ok()) << header.error();
  EXPECT_EQ(header->color_type, kPngRgba);
  ASSERT_TRUE(header->physical.has_value());
  EXPECT_EQ(header->physical->x_pixels_per_unit, 5669u);
  EXPECT_EQ(header->physical->y_pixels_per_unit, 5669u);
  EXPECT_EQ(header->physical->unit, 1);
  std::optional<testing::DecodedRgba> decoded = testing::reference_decode_rgba(bytes);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->rgba, rgba);

  // Overwrites: a smaller RGB image at 96 DPI replaces the file.
  const std::vector<std::uint8_t> rgb = {9, 8, 7, 6, 5, 4};
  ASSERT_TRUE(save_capture_png(path, rgb, 2, 1, CaptureColour::Rgb, 96.0).ok());
  bytes = read_file(path);
  header = probe_png(bytes);
  ASSERT_TRUE(header.ok());
  EXPECT_EQ(header->color_type, kPngRgb);
  EXPECT_EQ(header->physical->x_pixels_per_unit, 3780u);
  decoded = testing::reference_decode_rgba(bytes);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->rgba, (std::vector<std::uint8_t>{9, 8, 7, 255, 6, 5, 4, 255}));
}

TEST_F(CaptureFiles, LargeImagesSurviveTheWriteBuffer) {
  // Noise does not compress, so the encoder hands over pieces larger than the buffer.
  std::vector<std::uint8_t> rgb(300 * 200 * 3);
  std::uint32_t state = 12345;
  for (std::uint8_t& b : rgb) b = static_cast<std::uint8_t>((state = state * 1103515245u + 12345u) >> 24);
  const std::filesystem::path path = folder / "noise.png";
  ASSERT_TRUE(save_capture_png(path, rgb, 300, 200, CaptureColour::Rgb, 96.0).ok());
  std::optional<testing::DecodedRgba> decoded = testing::reference_decode_rgba(read_file(path));
  ASSERT_TRUE(decoded.has_value());
  ASSERT_EQ(decoded->rgba.size(), 300u * 200 * 4);
  for (std::size_t i = 0; i < 300u * 200; ++i) {
    ASSERT_EQ(decoded->rgba[i * 4 + 0], rgb[i * 3 + 0]) << i;
    ASSERT_EQ(decoded->rgba[i * 4 + 2], rgb[i * 3 + 2]) << i;
  }
}

TEST_F(CaptureFiles, ErrorsNameTheFileOrTheEncoder) {
  const std::filesystem::path missing = folder / "no such folder" / "x.png";
  // The error text of a save, or nothing when it succeeded.
  auto save = [](const std::filesystem::path& path, std::vector<std::uint8_t> pixels, std::uint32_t w, std::uint32_t h,
                 CaptureColour colour) -> std::optional<std::string> {
    Result<void> saved = save_capture_png(path, pixels, w, h, colour, 96.0);
    if (saved) return std::nullopt;
    return saved.error();
  };
  std::optional<std::string> failure = save(missing, std::vector<std::uint8_t>(3), 1, 1, CaptureColour::Rgb);
  ASSERT_TRUE(failure.has_value());
  EXPECT_TRUE(failure->starts_with("save_failed: ")) << *failure;
#ifdef _WIN32
  EXPECT_NE(failure->find("(os error 3) ("), std::string::npos) << *failure;
#else
  EXPECT_NE(failure->find("(os error 2) ("), std::string::npos) << *failure;
#endif
  EXPECT_TRUE(failure->ends_with(" (" + path_text(missing) + ")")) << *failure;

  failure = save(folder / "empty.png", {}, 0, 0, CaptureColour::Rgba);
  ASSERT_TRUE(failure.has_value());
  EXPECT_TRUE(failure->starts_with("save_failed: ")) << *failure;
  EXPECT_GT(failure->size(), std::string("save_failed: ").size());

  // A buffer that does not hold the stated size is refused before anything is read.
  failure = save(folder / "short.png", std::vector<std::uint8_t>(5), 2, 1, CaptureColour::Rgb);
  ASSERT_TRUE(failure.has_value());
  EXPECT_TRUE(failure->starts_with("save_failed: ")) << *failure;
}

std::vector<std::string> names_in(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(path_text(entry.path().filename()));
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(CaptureFiles, AFailedSaveKeepsTheEarlierFileAndLeavesNothingBeside) {
  const std::filesystem::path path = folder / "shot.png";
  { std::ofstream(path, std::ios::binary) << "an earlier capture"; }
  // The encoder refuses an empty image only after the file would have been opened.
  Result<void> failure = save_capture_png(path, {}, 0, 0, CaptureColour::Rgba, 96.0);
  ASSERT_FALSE(failure.ok());
  EXPECT_TRUE(failure.error().starts_with("save_failed: ")) << failure.error();
  std::vector<std::uint8_t> kept = read_file(path);
  EXPECT_EQ(std::string(kept.begin(), kept.end()), "an earlier capture");
  EXPECT_EQ(names_in(folder), std::vector<std::string>{"shot.png"});

  // A folder where the file should go is refused with the path, and stays a folder.
  std::filesystem::create_directory(folder / "taken.png");
  failure = save_capture_png(folder / "taken.png", std::vector<std::uint8_t>(3), 1, 1, CaptureColour::Rgb, 96.0);
  ASSERT_FALSE(failure.ok());
  EXPECT_TRUE(failure.error().starts_with("save_failed: ")) << failure.error();
  EXPECT_TRUE(failure.error().ends_with(" (" + path_text(folder / "taken.png") + ")")) << failure.error();
  EXPECT_TRUE(std::filesystem::is_directory(folder / "taken.png"));
  EXPECT_EQ(names_in(folder), (std::vector<std::string>{"shot.png", "taken.png"}));
}

TEST_F(CaptureFiles, PathsWithANulAreRefusedNotCut) {
  FakeScreen screen;
  screen.monitors = {monitor(1, 0, 0, 6, 4, true)};
  const std::string text = path_text(folder / "shot") + std::string(1, '\0') + ".png";
  const std::string expected = "save_failed: strings passed to WinAPI cannot contain NULs (" + text + ")";
  EXPECT_EQ(capture_desktop(screen, json{{"path", text}}).error(), expected);
  EXPECT_EQ(
      save_capture_png(path_from_text(text), std::vector<std::uint8_t>(3), 1, 1, CaptureColour::Rgb, 96.0).error(),
      expected);
  // Nothing was written under the name before the NUL.
  EXPECT_TRUE(names_in(folder).empty());
}

TEST_F(CaptureFiles, CaptureDesktopWritesTheGivenPathOrTheDefault) {
  FakeScreen screen;
  screen.monitors = {monitor(1, 0, 0, 6, 4, true, 1.25f)};
  const std::filesystem::path path = folder / "shot.png";
  Result<json> written = capture_desktop(screen, json{{"path", path_text(path)}});
  ASSERT_TRUE(written.ok()) << written.error();
  EXPECT_EQ(*written, json(path_text(path)));
  std::vector<std::uint8_t> bytes = read_file(path);
  Result<PngHeader> header = probe_png(bytes);
  ASSERT_TRUE(header.ok());
  EXPECT_EQ(header->width, 6u);
  EXPECT_EQ(header->physical->x_pixels_per_unit, 4724u);  // 120 DPI
  std::optional<testing::DecodedRgba> decoded = testing::reference_decode_rgba(bytes);
  ASSERT_TRUE(decoded.has_value());
  auto bgra = testing::coordinate_colour(5, 3);
  const std::uint8_t* px = decoded->rgba.data() + (3 * 6 + 5) * 4;
  EXPECT_EQ(px[0], bgra[2]);
  EXPECT_EQ(px[2], bgra[0]);
  EXPECT_EQ(px[3], 255);

  for (const json& params : {json(nullptr), json::array(), json{{"path", 5}}}) {
    Result<json> fallback = capture_desktop(screen, params);
    ASSERT_TRUE(fallback.ok()) << fallback.error();
    EXPECT_EQ(*fallback, json(path_text(default_capture_path())));
    EXPECT_TRUE(fallback->get<std::string>().ends_with("quorvane_desktop_capture.png"));
  }
  std::filesystem::remove(default_capture_path());

  screen.copy_error = "Get RGBA data failed";
  EXPECT_EQ(capture_desktop(screen, json::object()).error(), "capture_failed: Get RGBA data failed");
}

}  // namespace
}  // namespace quorvane::cv
