// The window-manager primitives of the browser-window search over user32, kernel32 and dwmapi.
#include "window/browser_window.h"

#include <dwmapi.h>
#include <tlhelp32.h>
#include <windows.h>

#include "common/utf.h"
#include "common/win32_handle.h"

namespace quorvane::window {

namespace {

HWND to_hwnd(WindowHandle window) { return reinterpret_cast<HWND>(window); }

struct EnumState {
  const std::function<bool(WindowHandle)>* visit;
};

BOOL CALLBACK visit_window(HWND window, LPARAM state) {
  return (*reinterpret_cast<EnumState*>(state)->visit)(reinterpret_cast<WindowHandle>(window)) ? TRUE : FALSE;
}

WindowRect from_rect(const RECT& rect) {
  return WindowRect{static_cast<std::int32_t>(rect.left), static_cast<std::int32_t>(rect.top),
                    static_cast<std::int32_t>(rect.right), static_cast<std::int32_t>(rect.bottom)};
}

class Win32WindowPlatform final : public WindowPlatform {
 public:
  std::optional<WindowHandle> foreground_window() override {
    HWND window = GetForegroundWindow();
    if (!window) return std::nullopt;
    return reinterpret_cast<WindowHandle>(window);
  }

  std::optional<std::string> class_name(WindowHandle window) override {
    wchar_t name[256];
    int length = GetClassNameW(to_hwnd(window), name, 256);
    if (length <= 0) return std::nullopt;
    return from_wide(std::wstring_view(name, static_cast<std::size_t>(length)));
  }

  bool is_visible(WindowHandle window) override { return IsWindowVisible(to_hwnd(window)) != FALSE; }

  std::uint32_t window_process_id(WindowHandle window) override {
    DWORD process_id = 0;
    GetWindowThreadProcessId(to_hwnd(window), &process_id);
    return process_id;
  }

  std::optional<std::string> process_image_path(std::uint32_t process_id) override {
    unique_handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
    if (!process) return std::nullopt;
    wchar_t path[512];
    DWORD size = 512;
    if (!QueryFullProcessImageNameW(process.get(), 0, path, &size)) return std::nullopt;
    return from_wide(std::wstring_view(path, size));
  }

  std::optional<std::uint32_t> parent_process_id() override {
    unique_handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return std::nullopt;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    static_assert(sizeof(PROCESSENTRY32W) == 568);
    const DWORD self = GetCurrentProcessId();
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
      if (entry.th32ProcessID == self) return entry.th32ParentProcessID;
    return std::nullopt;
  }

  void enumerate_windows(const std::function<bool(WindowHandle)>& visit) override {
    EnumState state{&visit};
    // Stopping early makes EnumWindows report failure; that is not an error here.
    EnumWindows(visit_window, reinterpret_cast<LPARAM>(&state));
  }

  bool is_minimised(WindowHandle window) override { return IsIconic(to_hwnd(window)) != FALSE; }
  void restore(WindowHandle window) override { ShowWindow(to_hwnd(window), SW_RESTORE); }
  void set_foreground(WindowHandle window) override { SetForegroundWindow(to_hwnd(window)); }

  void send_alt_nudge() override {
    INPUT inputs[2] = {};
    inputs[0].type = INPUT_KEYBOARD;
    inputs[0].ki.wVk = VK_MENU;
    inputs[1].type = INPUT_KEYBOARD;
    inputs[1].ki.wVk = VK_MENU;
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, inputs, sizeof(INPUT));
  }

  void sleep_ms(std::uint32_t milliseconds) override { Sleep(milliseconds); }

  std::optional<WindowRect> window_rect(WindowHandle window) override {
    RECT rect;
    if (!GetWindowRect(to_hwnd(window), &rect)) return std::nullopt;
    return from_rect(rect);
  }

  std::optional<WindowRect> extended_frame_bounds(WindowHandle window) override {
    RECT rect;
    if (FAILED(DwmGetWindowAttribute(to_hwnd(window), DWMWA_EXTENDED_FRAME_BOUNDS, &rect, sizeof rect)))
      return std::nullopt;
    return from_rect(rect);
  }
};

}  // namespace

WindowPlatform& system_window_platform() {
  static Win32WindowPlatform instance;
  return instance;
}

}  // namespace quorvane::window
