// The Win32 screen services against the system itself: what they report must agree with
// user32's own view, and no capture, failing or not, may leave a handle or GDI object
// behind.
#include "cv/capture.h"
#include "cv/tests/process_counters_win32.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shellscalingapi.h>

namespace quorvane::cv {
namespace {

std::vector<HMONITOR> user32_monitors() {
  std::vector<HMONITOR> monitors;
  EnumDisplayMonitors(
      nullptr, nullptr,
      [](HMONITOR m, HDC, LPRECT, LPARAM out) {
        reinterpret_cast<std::vector<HMONITOR>*>(out)->push_back(m);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&monitors));
  return monitors;
}

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
    EXPECT_EQ(screen.copy_screen_pixels(DisplayMode{0, 0, 0, 0}, none), "Get RGBA data failed");
  }
  const testing::ProcessCounters after = testing::read_counters(GetCurrentProcess());
  EXPECT_EQ(after.gdi, before.gdi);
  EXPECT_EQ(after.handles, before.handles);
}

}  // namespace
}  // namespace quorvane::cv
