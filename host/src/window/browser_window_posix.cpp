// Builds other than Windows have no window manager the host can drive: no window is ever
// in front, none is found, and nothing can be raised.
#include "window/browser_window.h"

namespace quorvane::window {

namespace {

class NoWindowPlatform final : public WindowPlatform {
 public:
  std::optional<WindowHandle> foreground_window() override { return std::nullopt; }
  std::optional<std::string> class_name(WindowHandle) override { return std::nullopt; }
  bool is_visible(WindowHandle) override { return false; }
  std::uint32_t window_process_id(WindowHandle) override { return 0; }
  std::optional<std::string> process_image_path(std::uint32_t) override { return std::nullopt; }
  std::optional<std::uint32_t> parent_process_id() override { return std::nullopt; }
  void enumerate_windows(const std::function<bool(WindowHandle)>&) override {}
  bool is_minimised(WindowHandle) override { return false; }
  void restore(WindowHandle) override {}
  void set_foreground(WindowHandle) override {}
  void send_alt_nudge() override {}
  void sleep_ms(std::uint32_t) override {}
  std::optional<WindowRect> window_rect(WindowHandle) override { return std::nullopt; }
  std::optional<WindowRect> extended_frame_bounds(WindowHandle) override { return std::nullopt; }
};

}  // namespace

WindowPlatform& system_window_platform() {
  static NoWindowPlatform instance;
  return instance;
}

}  // namespace quorvane::window
