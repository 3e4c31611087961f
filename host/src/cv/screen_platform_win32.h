// The Win32 screen services and the owners of the handles they acquire. Included only by
// the *_win32.cpp files of this folder.
#pragma once

#include "cv/capture.h"

#include <windows.h>

#include <memory>
#include <type_traits>

namespace quorvane::cv::win32 {

// Owners for the handle kinds a display query or a capture acquires, so that every path
// out of a function, the error paths included, releases them.
struct DcDeleter {
  void operator()(HDC dc) const { DeleteDC(dc); }
};
using unique_hdc = std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter>;

struct GdiObjectDeleter {
  void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
using unique_hbitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, GdiObjectDeleter>;

struct LibraryDeleter {
  void operator()(HMODULE module) const { FreeLibrary(module); }
};
using unique_hmodule = std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryDeleter>;

// A window's device context, which goes back with ReleaseDC rather than DeleteDC.
class WindowDc {
public:
  explicit WindowDc(HWND window) : window_(window), dc_(GetWindowDC(window)) {}
  ~WindowDc() {
    if (dc_) ReleaseDC(window_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC get() const { return dc_; }

private:
  HWND window_;
  HDC dc_;
};

// Puts back the object a SelectObject call displaced. A bitmap still selected into a
// context cannot be deleted, so this must run before the bitmap's owner lets go.
class SelectionGuard {
public:
  SelectionGuard(HDC dc, HGDIOBJ object) : dc_(dc), previous_(dc && object ? SelectObject(dc, object) : nullptr) {}
  ~SelectionGuard() { restore(); }
  SelectionGuard(const SelectionGuard&) = delete;
  SelectionGuard& operator=(const SelectionGuard&) = delete;
  bool selected() const { return previous_ && previous_ != HGDI_ERROR; }
  void restore() {
    if (previous_ && previous_ != HGDI_ERROR) SelectObject(dc_, previous_);
    previous_ = nullptr;
  }

private:
  HDC dc_;
  HGDIOBJ previous_;
};

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
