// window/: finding, raising and measuring the browser window, for the window methods and
// for the capture of the browser's own window. Uses common/ and nothing else of the host.
//
// The host is started by the browser, so the window to raise is preferably one of its
// parent process; any window of a known browser program is the fallback. The decisions
// are portable and run against WindowPlatform, a handful of window-manager primitives
// with a Win32 implementation and fakes in the native tests.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/handler.h"

namespace quorvane::window {

// A top-level window (HWND), carried as an integer so portable code needs no <windows.h>.
using WindowHandle = std::uintptr_t;

// Left, top, right and bottom edges in physical desktop pixels.
struct WindowRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
  bool operator==(const WindowRect&) const = default;
};

inline constexpr std::array<std::string_view, 10> BROWSER_EXECUTABLES = {
    "chrome.exe",  "msedge.exe",   "brave.exe",   "opera.exe",    "opera_gx.exe",
    "vivaldi.exe", "chromium.exe", "firefox.exe", "waterfox.exe", "librewolf.exe"};

// Classes starting with "Chrome_WidgetWin_", or exactly "MozillaWindowClass".
bool is_browser_window_class(std::string_view class_name);

// Whether the image path (UTF-8, either separator) names a browser program, compared in
// lower case by file name.
bool is_browser_executable_path(std::string_view image_path);

class WindowPlatform {
 public:
  virtual ~WindowPlatform() = default;

  virtual std::optional<WindowHandle> foreground_window() = 0;
  // The class name (UTF-8), or nullopt when GetClassNameW returns 0.
  virtual std::optional<std::string> class_name(WindowHandle window) = 0;
  virtual bool is_visible(WindowHandle window) = 0;
  // The owning process id, 0 when unknown.
  virtual std::uint32_t window_process_id(WindowHandle window) = 0;
  // The full image path (UTF-8) of a process, or nullopt when it cannot be opened or read.
  virtual std::optional<std::string> process_image_path(std::uint32_t process_id) = 0;
  // The id of the process that started this one, or nullopt when it cannot be found.
  virtual std::optional<std::uint32_t> parent_process_id() = 0;
  // Calls `visit` for each top-level window in z-order until it returns false. A failure
  // of the enumeration itself is not reported: whatever was visited counts.
  virtual void enumerate_windows(const std::function<bool(WindowHandle)>& visit) = 0;

  virtual bool is_minimised(WindowHandle window) = 0;
  virtual void restore(WindowHandle window) = 0;
  virtual void set_foreground(WindowHandle window) = 0;
  // One injection of an Alt key press and release: the system lets a process take the
  // foreground after it has sent input.
  virtual void send_alt_nudge() = 0;
  virtual void sleep_ms(std::uint32_t milliseconds) = 0;

  virtual std::optional<WindowRect> window_rect(WindowHandle window) = 0;
  // The DWM extended frame bounds (the visible frame, without the invisible resize border).
  virtual std::optional<WindowRect> extended_frame_bounds(WindowHandle window) = 0;
};

// The window manager of the machine the host runs on.
WindowPlatform& system_window_platform();

bool is_browser_process(WindowPlatform& platform, WindowHandle window);
// The foreground window if it is a browser window (visibility is not tested).
std::optional<WindowHandle> foreground_browser_window(WindowPlatform& platform);
// A visible browser-class window of the parent process, else the first visible
// browser-class window of a known browser program.
std::optional<WindowHandle> find_browser_window(WindowPlatform& platform);

inline constexpr std::uint32_t kForegroundAttempts = 25;
inline constexpr std::uint32_t kForegroundPollMs = 10;
bool wait_for_foreground(WindowPlatform& platform, WindowHandle window);

// {"focused": bool}
json focus_browser(WindowPlatform& platform);
// The Rectangle {height, width, x, y} of the foreground browser window, or null.
json get_active_browser_window_rect(WindowPlatform& platform);
json get_active_browser_outer_rect(WindowPlatform& platform);

// The shared Rectangle object of a window rectangle (32-bit signed differences).
json rectangle_json(const WindowRect& rect);

HandlerResult focus_browser(std::string_view method, const json& params);
HandlerResult get_active_browser_window_rect(std::string_view method, const json& params);
HandlerResult get_active_browser_outer_rect(std::string_view method, const json& params);

}  // namespace quorvane::window
