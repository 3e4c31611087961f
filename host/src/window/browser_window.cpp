#include "window/browser_window.h"

#include <algorithm>

namespace quorvane::window {

bool is_browser_window_class(std::string_view class_name) {
  return class_name.starts_with("Chrome_WidgetWin_") || class_name == "MozillaWindowClass";
}

bool is_browser_executable_path(std::string_view image_path) {
  std::size_t slash = image_path.find_last_of("\\/");
  std::string_view file = slash == std::string_view::npos ? image_path : image_path.substr(slash + 1);
  // ASCII folding is enough: the only non-ASCII characters that lower-case to ASCII
  // letters are the Kelvin sign (to "k", which no browser name contains) and the dotted
  // capital I (to "i" plus a combining dot, which cannot equal a plain name).
  std::string lower(file);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return std::find(BROWSER_EXECUTABLES.begin(), BROWSER_EXECUTABLES.end(), lower) != BROWSER_EXECUTABLES.end();
}

bool is_browser_process(WindowPlatform& platform, WindowHandle window) {
  std::uint32_t process_id = platform.window_process_id(window);
  if (process_id == 0) return false;
  std::optional<std::string> path = platform.process_image_path(process_id);
  return path && is_browser_executable_path(*path);
}

std::optional<WindowHandle> foreground_browser_window(WindowPlatform& platform) {
  std::optional<WindowHandle> window = platform.foreground_window();
  if (!window) return std::nullopt;
  std::optional<std::string> class_name = platform.class_name(*window);
  if (!class_name || !is_browser_window_class(*class_name)) return std::nullopt;
  if (!is_browser_process(platform, *window)) return std::nullopt;
  return window;
}

std::optional<WindowHandle> find_browser_window(WindowPlatform& platform) {
  const std::optional<std::uint32_t> parent = platform.parent_process_id();
  std::optional<WindowHandle> parent_match;
  std::optional<WindowHandle> fallback;
  platform.enumerate_windows([&](WindowHandle window) {
    if (!platform.is_visible(window)) return true;
    std::optional<std::string> class_name = platform.class_name(window);
    if (!class_name || !is_browser_window_class(*class_name)) return true;
    if (parent && platform.window_process_id(window) == *parent) {
      parent_match = window;
      return false;
    }
    // Looking up a process image is the expensive step, so only until a fallback is known.
    if (!fallback && is_browser_process(platform, window)) fallback = window;
    return true;
  });
  return parent_match ? parent_match : fallback;
}

bool wait_for_foreground(WindowPlatform& platform, WindowHandle window) {
  for (std::uint32_t attempt = 0; attempt < kForegroundAttempts; ++attempt) {
    if (platform.foreground_window() == window) return true;
    platform.sleep_ms(kForegroundPollMs);
  }
  return false;
}

json focus_browser(WindowPlatform& platform) {
  json result = json::object();
  std::optional<WindowHandle> window = find_browser_window(platform);
  if (!window) {
    result["focused"] = false;
    return result;
  }
  if (platform.is_minimised(*window)) platform.restore(*window);
  platform.set_foreground(*window);
  bool focused = wait_for_foreground(platform, *window);
  if (!focused) {
    // The system refuses the foreground to a process that has not had the last input
    // event; an Alt tap makes this process the last one to have sent input.
    platform.send_alt_nudge();
    platform.set_foreground(*window);
    focused = wait_for_foreground(platform, *window);
  }
  result["focused"] = focused;
  return result;
}

json rectangle_json(const WindowRect& rect) {
  // Differences wrap like the 32-bit arithmetic of the platform's own RECT users.
  auto diff = [](std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
  };
  json result = json::object();
  result["height"] = diff(rect.bottom, rect.top);
  result["width"] = diff(rect.right, rect.left);
  result["x"] = rect.left;
  result["y"] = rect.top;
  return result;
}

json get_active_browser_window_rect(WindowPlatform& platform) {
  std::optional<WindowHandle> window = foreground_browser_window(platform);
  if (!window) return nullptr;
  std::optional<WindowRect> rect = platform.window_rect(*window);
  return rect ? rectangle_json(*rect) : json(nullptr);
}

json get_active_browser_outer_rect(WindowPlatform& platform) {
  std::optional<WindowHandle> window = foreground_browser_window(platform);
  if (!window) return nullptr;
  std::optional<WindowRect> rect = platform.extended_frame_bounds(*window);
  return rect ? rectangle_json(*rect) : json(nullptr);
}

HandlerResult focus_browser(std::string_view, const json&) { return json(focus_browser(system_window_platform())); }

HandlerResult get_active_browser_window_rect(std::string_view, const json&) {
  return json(get_active_browser_window_rect(system_window_platform()));
}

HandlerResult get_active_browser_outer_rect(std::string_view, const json&) {
  return json(get_active_browser_outer_rect(system_window_platform()));
}

}  // namespace quorvane::window
