// The Win32 screen services. Included only by the *_win32.cpp files of this folder.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

#include "common/win32_handle.h"
#include "cv/capture.h"

namespace quorvane::cv::win32 {

inline HMONITOR to_hmonitor(MonitorHandle handle) { return reinterpret_cast<HMONITOR>(handle); }

// Reads MONITORINFOEXW (size 104, so the device name is filled in).
bool read_monitor_info(HMONITOR monitor, MONITORINFOEXW& info);

class Win32ScreenPlatform final : public ScreenPlatform {
 public:
  Result<std::vector<MonitorHandle>> enumerate_monitors() override;
  Result<DisplayMode> monitor_display_mode(MonitorHandle monitor) override;
  Result<float> monitor_scale_factor(MonitorHandle monitor) override;
  Result<MonitorInfo> monitor_info(MonitorHandle monitor) override;
  std::optional<std::vector<DisplayConfigPath>> active_display_paths() override;
  std::optional<std::array<char16_t, 32>> source_gdi_name(const DisplayConfigPath& path) override;
  std::optional<std::array<char16_t, 64>> target_friendly_name(const DisplayConfigPath& path) override;
  std::uint32_t system_dpi() override;

  std::optional<FrameBounds> foreground_browser_frame() override;
  Result<void> copy_screen_pixels(const DisplayMode& mode, std::span<std::uint8_t> bgra) override;
  std::optional<std::string> build_number_text() override;
};

Win32ScreenPlatform& platform();

}  // namespace quorvane::cv::win32
