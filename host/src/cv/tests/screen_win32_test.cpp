// The Win32 screen services against the system itself: what they report must agree with
// user32's own view, and no capture, failing or not, may leave a handle or GDI object
// behind.
#include <gtest/gtest.h>
#include <shellscalingapi.h>
#include <windows.h>

#include "cv/capture.h"
#include "cv/tests/process_counters_win32.h"
#include "cv/tests/windows_config_win32.h"

namespace quorvane::cv {
namespace {

using quorvane::testing::user32_monitors;

TEST(Win32Screen, MonitorQueriesAgreeWithUser32) {
  ScreenPlatform& screen = system_screen_platform();
  Result<std::vector<MonitorHandle>> monitors = screen.enumerate_monitors();
  ASSERT_TRUE(monitors.ok()) << monitors.error();
  const std::vector<HMONITOR> expected = user32_monitors();
  ASSERT_EQ(monitors->size(), expected.size());
  ASSERT_FALSE(expected.empty());

  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ((*monitors)[i], reinterpret_cast<MonitorHandle>(expected[i]));
    MONITORINFOEXW info{};
    info.cbSize = sizeof info;
    ASSERT_TRUE(GetMonitorInfoW(expected[i], &info));
    Result<DisplayMode> mode = screen.monitor_display_mode((*monitors)[i]);
    ASSERT_TRUE(mode.ok()) << mode.error();
    EXPECT_EQ(*mode, (DisplayMode{info.rcMonitor.left, info.rcMonitor.top,
                                  static_cast<std::uint32_t>(info.rcMonitor.right - info.rcMonitor.left),
                                  static_cast<std::uint32_t>(info.rcMonitor.bottom - info.rcMonitor.top)}));
    Result<DisplayPlatform::MonitorInfo> read = screen.monitor_info((*monitors)[i]);
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(read->flags, info.dwFlags);
    EXPECT_EQ(std::u16string_view(read->device_name.data()), reinterpret_cast<const char16_t*>(info.szDevice));
    std::optional<std::string> name = monitor_friendly_name(screen, (*monitors)[i]);
    ASSERT_TRUE(name.has_value());
    EXPECT_FALSE(name->empty());
  }
  EXPECT_EQ(screen.system_dpi(), GetDpiForSystem());
}

TEST(Win32Screen, ScaleFactorIsTheEffectiveDpiOver96) {
  ScreenPlatform& screen = system_screen_platform();
  for (HMONITOR monitor : user32_monitors()) {
    UINT dpi_x = 0, dpi_y = 0;
    ASSERT_EQ(GetDpiForMonitor(monitor, MDT_EFFECTIVE_DPI, &dpi_x, &dpi_y), S_OK);
    Result<float> scale = screen.monitor_scale_factor(reinterpret_cast<MonitorHandle>(monitor));
    ASSERT_TRUE(scale.ok()) << scale.error();
    EXPECT_EQ(*scale, static_cast<float>(dpi_x) / 96.0f);
  }
}

TEST(Win32Screen, BuildNumberAndDefaultCapturePath) {
  std::optional<std::string> build = system_screen_platform().build_number_text();
  ASSERT_TRUE(build.has_value());
  EXPECT_TRUE(parse_build_number(*build).has_value()) << *build;

  wchar_t temp[MAX_PATH + 1];
  DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(default_capture_path().native(), std::wstring(temp, length) + L"quorvane_desktop_capture.png");
}

TEST(Win32Screen, CapturesLeaveNoHandleOrGdiObjectBehind) {
  ScreenPlatform& screen = system_screen_platform();
  ASSERT_TRUE(capture_target_monitor(screen).ok());  // first use sets things up for good
  std::vector<std::uint8_t> none;
  const testing::ProcessCounters before = testing::read_counters(GetCurrentProcess());
  ASSERT_GT(before.gdi, 0u) << "the GDI count is not readable here";
  for (int i = 0; i < 20; ++i) {
    Result<MonitorCapture> capture = capture_target_monitor(screen);
    ASSERT_TRUE(capture.ok()) << capture.error();
    // A zero-sized area fails at GetDIBits, after every object was made: the error path.
    EXPECT_EQ(screen.copy_screen_pixels(DisplayMode{0, 0, 0, 0}, none).error(), "Get RGBA data failed");
  }
  const testing::ProcessCounters after = testing::read_counters(GetCurrentProcess());
  EXPECT_EQ(after.gdi, before.gdi);
  EXPECT_EQ(after.handles, before.handles);
}

// Under Wine the configuration comes from the prefix's profile: a second configuration that
// silently fell back to Wine's defaults would test nothing new.
TEST(Win32Screen, TheWineProfileIsInForce) {
  if (!testing::running_under_wine()) GTEST_SKIP() << "not under Wine";
  std::optional<testing::ProfilePromise> promise = testing::wine_profile_promise();
  ASSERT_TRUE(promise.has_value()) << "unknown QUORVANE_WINE_PROFILE";
  const testing::WindowsConfig config = testing::current_windows_config();
  EXPECT_EQ(config.dpi, promise->dpi) << promise->name;
  EXPECT_GE(config.build, promise->min_build) << promise->name;
  EXPECT_LE(config.build, promise->max_build) << promise->name;
  std::optional<std::string> build = system_screen_platform().build_number_text();
  ASSERT_TRUE(build.has_value());
  EXPECT_EQ(parse_build_number(*build), config.build);
}

// Last in this file: it makes the whole process per-monitor aware, as the host makes
// itself at start-up, and from then on the effective DPI is the path taken.
TEST(Win32Screen, PerMonitorAwareScaleFactorIsTheConfiguredDpi) {
  ASSERT_TRUE(SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2) ||
              GetAwarenessFromDpiAwarenessContext(GetThreadDpiAwarenessContext()) == DPI_AWARENESS_PER_MONITOR_AWARE);
  const testing::WindowsConfig config = testing::current_windows_config();
  ScreenPlatform& screen = system_screen_platform();
  Result<float> scale = screen.monitor_scale_factor(reinterpret_cast<MonitorHandle>(testing::primary_monitor()));
  ASSERT_TRUE(scale.ok()) << scale.error();
  EXPECT_EQ(*scale, static_cast<float>(config.dpi) / 96.0f);
  EXPECT_EQ(screen.system_dpi(), config.dpi);

  Result<MonitorCapture> capture = capture_target_monitor(screen);
  ASSERT_TRUE(capture.ok()) << capture.error();
  EXPECT_EQ(capture->scale, config.scale());
  Result<ScreenImage> image = capture_screen_rgb(screen);
  ASSERT_TRUE(image.ok()) << image.error();
  EXPECT_EQ(image->dpi, static_cast<double>(config.dpi));

  // The alpha rule follows the system's build number: opaque before build 9200, the
  // system's own alpha from then on.
  std::uint32_t width = 0, height = 0;
  const std::vector<std::uint8_t> gdi = testing::gdi_copy_of_primary_monitor(width, height);
  ASSERT_EQ(width, capture->width);
  ASSERT_EQ(height, capture->height);
  ASSERT_EQ(gdi.size(), capture->pixels.size());
  std::size_t wrong = 0;
  for (std::size_t i = 3; i < gdi.size(); i += 4) {
    const std::uint8_t want = config.capture_keeps_alpha() || gdi[i] != 0 ? gdi[i] : 255;
    if (capture->pixels[i] != want) ++wrong;
  }
  EXPECT_EQ(wrong, 0u) << "build " << config.build;
}

}  // namespace
}  // namespace quorvane::cv
