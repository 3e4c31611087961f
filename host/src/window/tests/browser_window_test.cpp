#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "window/browser_window.h"

namespace quorvane::window {
namespace {

struct FakeWindow {
  WindowHandle handle = 0;
  std::string class_name;
  std::uint32_t pid = 0;
  bool visible = true;
  bool minimised = false;
  std::optional<WindowRect> rect;
  std::optional<WindowRect> frame;
};

class FakeWindows final : public WindowPlatform {
 public:
  std::vector<FakeWindow> windows;  // z-order
  std::map<std::uint32_t, std::string> images;
  std::optional<std::uint32_t> parent;
  std::optional<WindowHandle> foreground;
  // The foreground changes only after this many set_foreground calls (0: never).
  int foreground_after_calls = 1;

  std::vector<std::string> log;
  int visited = 0;
  int image_lookups = 0;
  int set_foreground_calls = 0;
  std::uint32_t slept_ms = 0;

  FakeWindow* find(WindowHandle handle) {
    for (FakeWindow& w : windows)
      if (w.handle == handle) return &w;
    return nullptr;
  }

  std::optional<WindowHandle> foreground_window() override { return foreground; }
  std::optional<std::string> class_name(WindowHandle window) override {
    FakeWindow* w = find(window);
    if (!w || w->class_name.empty()) return std::nullopt;
    return w->class_name;
  }
  bool is_visible(WindowHandle window) override { return find(window)->visible; }
  std::uint32_t window_process_id(WindowHandle window) override {
    FakeWindow* w = find(window);
    return w ? w->pid : 0;
  }
  std::optional<std::string> process_image_path(std::uint32_t pid) override {
    ++image_lookups;
    auto it = images.find(pid);
    if (it == images.end()) return std::nullopt;
    return it->second;
  }
  std::optional<std::uint32_t> parent_process_id() override { return parent; }
  void enumerate_windows(const std::function<bool(WindowHandle)>& visit) override {
    for (const FakeWindow& w : windows) {
      ++visited;
      if (!visit(w.handle)) return;
    }
  }
  bool is_minimised(WindowHandle window) override { return find(window)->minimised; }
  void restore(WindowHandle window) override {
    log.push_back("restore " + std::to_string(window));
    find(window)->minimised = false;
  }
  void set_foreground(WindowHandle window) override {
    log.push_back("foreground " + std::to_string(window));
    if (foreground_after_calls > 0 && ++set_foreground_calls >= foreground_after_calls) foreground = window;
  }
  void send_alt_nudge() override { log.push_back("alt"); }
  void sleep_ms(std::uint32_t ms) override { slept_ms += ms; }
  std::optional<WindowRect> window_rect(WindowHandle window) override { return find(window)->rect; }
  std::optional<WindowRect> extended_frame_bounds(WindowHandle window) override { return find(window)->frame; }
};

TEST(BrowserWindowRules, ClassNames) {
  EXPECT_TRUE(is_browser_window_class("Chrome_WidgetWin_1"));
  EXPECT_TRUE(is_browser_window_class("Chrome_WidgetWin_"));
  EXPECT_TRUE(is_browser_window_class("MozillaWindowClass"));
  EXPECT_FALSE(is_browser_window_class("chrome_widgetwin_1"));
  EXPECT_FALSE(is_browser_window_class("Chrome_WidgetWin"));
  EXPECT_FALSE(is_browser_window_class("MozillaWindowClass2"));
  EXPECT_FALSE(is_browser_window_class("Chrome_RenderWidgetHostHWND"));
}

TEST(BrowserWindowRules, ExecutablesByLowerCaseFileName) {
  EXPECT_TRUE(is_browser_executable_path("C:\\Program Files\\Google\\Chrome\\Application\\CHROME.EXE"));
  EXPECT_TRUE(is_browser_executable_path("C:\\Apps\\LibreWolf.exe"));
  EXPECT_TRUE(is_browser_executable_path("/opt/Opera_GX.exe"));
  EXPECT_TRUE(is_browser_executable_path("msedge.exe"));
  EXPECT_FALSE(is_browser_executable_path("C:\\chrome.exe\\notepad.exe"));
  EXPECT_FALSE(is_browser_executable_path("C:\\x\\chrome.exe.bak"));
  EXPECT_FALSE(is_browser_executable_path("C:\\x\\googlechrome.exe"));
  EXPECT_FALSE(is_browser_executable_path("C:\\x\\chrome.exe "));
  EXPECT_FALSE(is_browser_executable_path(""));
}

FakeWindow window(WindowHandle handle, std::string class_name, std::uint32_t pid, bool visible = true) {
  FakeWindow w;
  w.handle = handle;
  w.class_name = std::move(class_name);
  w.pid = pid;
  w.visible = visible;
  return w;
}

// Window 10: a browser of another process; 20: invisible browser of the parent; 30: a
// non-browser window of the parent; 40: the parent's browser window.
FakeWindows desktop() {
  FakeWindows fake;
  fake.windows = {window(10, "Chrome_WidgetWin_1", 500), window(20, "Chrome_WidgetWin_1", 700, false),
                  window(30, "Notepad", 700), window(40, "Chrome_WidgetWin_0", 700),
                  window(50, "MozillaWindowClass", 600)};
  fake.images = {{500, "C:\\B\\brave.exe"}, {600, "C:\\F\\firefox.exe"}, {700, "C:\\C\\chrome.exe"}};
  fake.parent = 700;
  return fake;
}

TEST(FindBrowserWindow, ParentProcessWindowWinsAndStopsTheEnumeration) {
  FakeWindows fake = desktop();
  EXPECT_EQ(find_browser_window(fake), 40u);
  EXPECT_EQ(fake.visited, 4);
}

TEST(FindBrowserWindow, FallbackIsTheFirstVisibleBrowserWindowOfABrowserProgram) {
  FakeWindows fake = desktop();
  fake.parent = std::nullopt;
  EXPECT_EQ(find_browser_window(fake), 10u);
  // Once a fallback is known no further process image is looked up.
  EXPECT_EQ(fake.image_lookups, 1);
  EXPECT_EQ(fake.visited, 5);

  fake = desktop();
  fake.parent = 999;  // a parent that owns no window: the host was started by something else
  fake.images.erase(500);
  EXPECT_EQ(find_browser_window(fake), 40u);

  fake = desktop();
  fake.parent = std::nullopt;
  fake.images.clear();
  EXPECT_EQ(find_browser_window(fake), std::nullopt);
}

TEST(ForegroundBrowserWindow, NeedsABrowserClassAndABrowserProgram) {
  FakeWindows fake = desktop();
  fake.foreground = 50;
  EXPECT_EQ(foreground_browser_window(fake), 50u);
  fake.foreground = 20;  // invisible windows count here
  EXPECT_EQ(foreground_browser_window(fake), 20u);
  fake.foreground = 30;
  EXPECT_EQ(foreground_browser_window(fake), std::nullopt);
  fake.images[600] = "C:\\F\\notabrowser.exe";
  fake.foreground = 50;
  EXPECT_EQ(foreground_browser_window(fake), std::nullopt);
  fake.foreground = std::nullopt;
  EXPECT_EQ(foreground_browser_window(fake), std::nullopt);
}

TEST(FocusBrowser, RestoresAMinimisedWindowAndRaisesIt) {
  FakeWindows fake = desktop();
  fake.find(40)->minimised = true;
  EXPECT_EQ(focus_browser(fake).dump(), "{\"focused\":true}");
  EXPECT_EQ(fake.log, (std::vector<std::string>{"restore 40", "foreground 40"}));
  EXPECT_EQ(fake.slept_ms, 0u);
}

TEST(FocusBrowser, NudgesWithAltWhenTheFirstAttemptTimesOut) {
  FakeWindows fake = desktop();
  fake.foreground_after_calls = 2;
  EXPECT_EQ(focus_browser(fake).dump(), "{\"focused\":true}");
  EXPECT_EQ(fake.log, (std::vector<std::string>{"foreground 40", "alt", "foreground 40"}));
  EXPECT_EQ(fake.slept_ms, kForegroundAttempts * kForegroundPollMs);

  fake = desktop();
  fake.foreground_after_calls = 0;
  EXPECT_EQ(focus_browser(fake).dump(), "{\"focused\":false}");
  EXPECT_EQ(fake.slept_ms, 2 * kForegroundAttempts * kForegroundPollMs);

  fake = desktop();
  fake.windows.clear();
  EXPECT_EQ(focus_browser(fake).dump(), "{\"focused\":false}");
  EXPECT_TRUE(fake.log.empty());
}

TEST(BrowserRects, WindowRectAndFrameBoundsOfTheForegroundBrowser) {
  FakeWindows fake = desktop();
  fake.find(10)->rect = WindowRect{-1928, -8, -1, 1040};
  fake.find(10)->frame = WindowRect{-1920, 0, -9, 1032};
  fake.foreground = 10;
  EXPECT_EQ(get_active_browser_window_rect(fake).dump(), "{\"height\":1048,\"width\":1927,\"x\":-1928,\"y\":-8}");
  EXPECT_EQ(get_active_browser_outer_rect(fake).dump(), "{\"height\":1032,\"width\":1911,\"x\":-1920,\"y\":0}");

  fake.find(10)->rect = std::nullopt;
  fake.find(10)->frame = std::nullopt;  // DWM unavailable
  EXPECT_TRUE(get_active_browser_window_rect(fake).is_null());
  EXPECT_TRUE(get_active_browser_outer_rect(fake).is_null());

  fake.find(30)->rect = WindowRect{0, 0, 10, 10};
  fake.foreground = 30;
  EXPECT_TRUE(get_active_browser_window_rect(fake).is_null());
}

}  // namespace
}  // namespace quorvane::window
