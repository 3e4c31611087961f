// A scriptable ScreenPlatform: monitors with modes, scales, flags and names, a foreground
// browser frame, and a desktop whose pixel colours are a function of desktop coordinates,
// so a capture of any monitor can be checked against where its pixels lie.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "cv/capture.h"

namespace quorvane::cv::testing {

struct FakeMonitor {
  MonitorHandle handle = 0;
  Result<DisplayMode> mode = DisplayMode{};
  Result<float> scale = 1.0f;
  Result<DisplayPlatform::MonitorInfo> info = DisplayPlatform::MonitorInfo{};
};

inline std::array<char16_t, 32> device_name(std::u16string_view name) {
  std::array<char16_t, 32> units{};
  for (std::size_t i = 0; i < name.size() && i < units.size(); ++i) units[i] = name[i];
  return units;
}

inline std::array<char16_t, 64> friendly_units(std::u16string_view name) {
  std::array<char16_t, 64> units{};
  for (std::size_t i = 0; i < name.size() && i < units.size(); ++i) units[i] = name[i];
  return units;
}

// A plain monitor at (x, y) of w x h whose device is `device`.
inline FakeMonitor monitor(MonitorHandle handle, std::int32_t x, std::int32_t y, std::uint32_t w, std::uint32_t h,
                           bool primary = false, float scale = 1.0f, std::u16string_view device = u"\\\\.\\DISPLAY1") {
  FakeMonitor m;
  m.handle = handle;
  m.mode = DisplayMode{x, y, w, h};
  m.scale = scale;
  DisplayPlatform::MonitorInfo info;
  info.device_name = device_name(device);
  info.flags = primary ? MONITORINFOF_PRIMARY_FLAG : 0;
  m.info = info;
  return m;
}

struct FakePath {
  DisplayConfigPath ids;
  std::optional<std::array<char16_t, 32>> source;
  std::optional<std::array<char16_t, 64>> target;
};

// The default desktop: every pixel's B, G, R, A bytes encode its desktop coordinates.
inline std::array<std::uint8_t, 4> coordinate_colour(std::int32_t x, std::int32_t y) {
  return {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), static_cast<std::uint8_t>(x + y), 0};
}

class FakeScreen final : public ScreenPlatform {
 public:
  std::vector<FakeMonitor> monitors;
  std::string enumerate_error;  // empty: the enumeration succeeds
  std::optional<std::vector<FakePath>> paths = std::vector<FakePath>{};
  std::uint32_t dpi = 96;
  std::optional<FrameBounds> browser_frame;
  std::optional<std::string> copy_error;
  std::optional<std::string> build_number = std::string("7601");
  // B, G, R, A of the desktop pixel at (x, y).
  std::function<std::array<std::uint8_t, 4>(std::int32_t, std::int32_t)> desktop = coordinate_colour;

  std::vector<DisplayMode> copies;  // every area copy_screen_pixels was asked for

  const FakeMonitor* find(MonitorHandle handle) const {
    for (const FakeMonitor& m : monitors)
      if (m.handle == handle) return &m;
    return nullptr;
  }

  Result<std::vector<MonitorHandle>> enumerate_monitors() override {
    if (!enumerate_error.empty()) return fail(enumerate_error);
    std::vector<MonitorHandle> handles;
    for (const FakeMonitor& m : monitors) handles.push_back(m.handle);
    return handles;
  }
  Result<DisplayMode> monitor_display_mode(MonitorHandle handle) override { return find(handle)->mode; }
  Result<float> monitor_scale_factor(MonitorHandle handle) override { return find(handle)->scale; }
  Result<MonitorInfo> monitor_info(MonitorHandle handle) override { return find(handle)->info; }
  std::optional<std::vector<DisplayConfigPath>> active_display_paths() override {
    if (!paths) return std::nullopt;
    std::vector<DisplayConfigPath> ids;
    for (const FakePath& p : *paths) ids.push_back(p.ids);
    return ids;
  }
  std::optional<std::array<char16_t, 32>> source_gdi_name(const DisplayConfigPath& path) override {
    for (const FakePath& p : *paths)
      if (p.ids.source_id == path.source_id && p.ids.target_id == path.target_id) return p.source;
    return std::nullopt;
  }
  std::optional<std::array<char16_t, 64>> target_friendly_name(const DisplayConfigPath& path) override {
    for (const FakePath& p : *paths)
      if (p.ids.source_id == path.source_id && p.ids.target_id == path.target_id) return p.target;
    return std::nullopt;
  }
  std::uint32_t system_dpi() override { return dpi; }

  std::optional<FrameBounds> foreground_browser_frame() override { return browser_frame; }

  Result<void> copy_screen_pixels(const DisplayMode& mode, std::span<std::uint8_t> bgra) override {
    copies.push_back(mode);
    if (copy_error) return fail(*copy_error);
    if (bgra.size() != static_cast<std::size_t>(mode.width) * mode.height * 4) return fail("bad buffer size");
    std::size_t i = 0;
    for (std::uint32_t row = 0; row < mode.height; ++row)
      for (std::uint32_t col = 0; col < mode.width; ++col, i += 4) {
        auto px = desktop(mode.x + static_cast<std::int32_t>(col), mode.y + static_cast<std::int32_t>(row));
        std::copy(px.begin(), px.end(), bgra.begin() + static_cast<std::ptrdiff_t>(i));
      }
    return {};
  }

  std::optional<std::string> build_number_text() override { return build_number; }
};

}  // namespace quorvane::cv::testing
