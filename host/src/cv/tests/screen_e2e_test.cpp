// The screen and browser-window methods end to end, with this program playing the browser:
// it is built as chrome.exe, owns a window of a browser class and starts the real host as
// its child, so the host's parent-process rule finds this window. The screen shows a
// picture this program generated (the wrapper script puts it on the X root window), so
// captures, searches and colour methods can be checked pixel for pixel.
//
//   chrome.exe --write-desktop FILE   writes the picture as a PNG and exits
//   chrome.exe [gtest options]        runs the tests; the screen-content tests run only
//                                     when QUORVANE_DESKTOP_PNG says the picture is shown
#include <dwmapi.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <thread>

#include "common/base64.h"
#include "common/utf.h"
#include "cv/png.h"
#include "cv/tests/windows_config_win32.h"
#include "host_process.h"
#include "stb_reference.h"

namespace quorvane {
namespace {

using json = nlohmann::json;

constexpr std::uint32_t kWidth = 1920;
constexpr std::uint32_t kHeight = 1080;

struct Box {
  std::int32_t x, y;
  std::uint32_t w, h;
};

// What the picture holds, besides grey: noise to search in, red and blue shapes. The noise
// keeps every channel within 40..215, so no noise pixel comes near a pure colour.
constexpr Box kNoise{100, 100, 800, 500};
constexpr Box kRedOutline{1000, 100, 200, 100};
constexpr Box kRedBlock{1300, 150, 50, 50};
constexpr Box kBlueBoxes[] = {
    {1000, 400, 10, 10}, {1100, 380, 20, 15}, {1200, 400, 2, 10}, {1300, 400, 6, 6}, {1306, 406, 6, 6}};
constexpr Box kCutout{523, 217, 48, 40};
// A pattern of 4x3 tiles as a page at 100 % would show it (16-pixel tiles), drawn on the
// screen 1.5 times as large, as a 150 % monitor shows that page. Its corner and size are
// multiples of 3, so the screen reduced by 1.5 holds it on whole pixels.
constexpr std::uint32_t kTile = 16;
constexpr Box kTilesAt150{1500, 600, 4 * kTile * 3 / 2, 3 * kTile * 3 / 2};

// Colours away from pure red, green and blue, which the colour tests look for.
std::array<std::uint8_t, 3> tile_colour(std::uint32_t tile) {
  return {static_cast<std::uint8_t>(50 + (tile * 67) % 160), static_cast<std::uint8_t>(60 + (tile * 101) % 150),
          static_cast<std::uint8_t>(45 + (tile * 29) % 165)};
}

struct Picture {
  std::vector<std::uint8_t> rgb;  // kWidth x kHeight
  const std::uint8_t* at(std::uint32_t x, std::uint32_t y) const { return rgb.data() + (y * kWidth + x) * 3; }
  std::uint8_t* at(std::uint32_t x, std::uint32_t y) { return rgb.data() + (y * kWidth + x) * 3; }
};

void fill(Picture& p, const Box& b, std::uint8_t r, std::uint8_t g, std::uint8_t bl, bool outline = false) {
  for (std::uint32_t y = 0; y < b.h; ++y)
    for (std::uint32_t x = 0; x < b.w; ++x) {
      if (outline && x != 0 && y != 0 && x != b.w - 1 && y != b.h - 1) continue;
      std::uint8_t* px = p.at(b.x + x, b.y + y);
      px[0] = r, px[1] = g, px[2] = bl;
    }
}

Picture desktop_picture() {
  Picture p;
  p.rgb.assign(std::size_t{kWidth} * kHeight * 3, 120);
  std::uint32_t state = 20240601;
  for (std::uint32_t y = 0; y < kNoise.h; ++y)
    for (std::uint32_t x = 0; x < kNoise.w; ++x)
      for (int c = 0; c < 3; ++c)
        p.at(kNoise.x + x, kNoise.y + y)[c] =
            static_cast<std::uint8_t>(40 + ((state = state * 1664525u + 1013904223u) >> 24) % 176);
  fill(p, kRedOutline, 255, 0, 0, true);
  fill(p, kRedBlock, 255, 0, 0);
  for (const Box& b : kBlueBoxes) fill(p, b, 0, 0, 255);
  const std::uint32_t big_tile = kTile * 3 / 2;
  for (std::uint32_t y = 0; y < kTilesAt150.h; ++y)
    for (std::uint32_t x = 0; x < kTilesAt150.w; ++x) {
      const std::array<std::uint8_t, 3> c = tile_colour(y / big_tile * 4 + x / big_tile);
      std::copy(c.begin(), c.end(), p.at(kTilesAt150.x + x, kTilesAt150.y + y));
    }
  return p;
}

// The tile pattern at its own size (16-pixel tiles), as a raw RGB image parameter.
json tiles_at_100(double dpi) {
  std::string rgb;
  for (std::uint32_t y = 0; y < 3 * kTile; ++y)
    for (std::uint32_t x = 0; x < 4 * kTile; ++x) {
      const std::array<std::uint8_t, 3> c = tile_colour(y / kTile * 4 + x / kTile);
      rgb.append(reinterpret_cast<const char*>(c.data()), 3);
    }
  return {{"data", base64_encode(rgb)}, {"width", 4 * kTile}, {"height", 3 * kTile}, {"dpiX", dpi}};
}

// A raw RGB image parameter holding `box` of the picture.
json cutout(const Picture& p, const Box& box) {
  std::string rgb;
  for (std::uint32_t y = 0; y < box.h; ++y)
    rgb.append(reinterpret_cast<const char*>(p.at(box.x, box.y + y)), box.w * 3);
  return {{"data", base64_encode(rgb)}, {"width", box.w}, {"height", box.h}};
}

std::vector<std::uint8_t> read_file(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The windows this "browser" owns, on a thread of their own that keeps pumping messages
// while the main thread waits for the host (which sends messages to them when it raises
// one).
class BrowserWindows {
 public:
  HWND browser = nullptr;         // visible, Chrome_WidgetWin_1
  HWND hidden_browser = nullptr;  // the same class, never shown, above the visible one
  HWND plain = nullptr;           // a window of no browser class

  BrowserWindows() {
    std::promise<void> ready;
    thread_ = std::thread([this, &ready] {
      thread_id_ = GetCurrentThreadId();
      register_class(L"Chrome_WidgetWin_1");
      register_class(L"QuorvanePlainWindow");
      browser = create(L"Chrome_WidgetWin_1", 200, 150, 800, 600);
      plain = create(L"QuorvanePlainWindow", 300, 300, 400, 300);
      hidden_browser = create(L"Chrome_WidgetWin_1", 250, 200, 300, 200);
      ShowWindow(plain, SW_SHOW);
      ShowWindow(browser, SW_SHOW);
      ready.set_value();
      MSG msg;
      while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == kRaise) {
          SetForegroundWindow(reinterpret_cast<HWND>(msg.lParam));
          continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      DestroyWindow(hidden_browser);
      DestroyWindow(plain);
      DestroyWindow(browser);
    });
    ready.get_future().wait();
  }
  ~BrowserWindows() {
    PostThreadMessageW(thread_id_, WM_QUIT, 0, 0);
    thread_.join();
  }

  // Makes `window` the foreground window from the thread that owns it, and waits until
  // the system agrees.
  bool raise(HWND window) {
    PostThreadMessageW(thread_id_, kRaise, 0, reinterpret_cast<LPARAM>(window));
    for (int i = 0; i < 100 && GetForegroundWindow() != window; ++i) Sleep(10);
    return GetForegroundWindow() == window;
  }

  void hide_all() {
    for (HWND w : {browser, hidden_browser, plain}) ShowWindow(w, SW_HIDE);
    // Let the X server unmap them before anything captures the screen.
    Sleep(500);
  }

 private:
  static constexpr UINT kRaise = WM_APP + 1;

  static void register_class(const wchar_t* name) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = name;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    RegisterClassW(&wc);
  }
  static HWND create(const wchar_t* cls, int x, int y, int w, int h) {
    return CreateWindowExW(0, cls, L"Quorvane test window", WS_OVERLAPPEDWINDOW, x, y, w, h, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
  }

  std::thread thread_;
  DWORD thread_id_ = 0;
};

json rect_json(const RECT& r) {
  return {{"height", r.bottom - r.top}, {"width", r.right - r.left}, {"x", r.left}, {"y", r.top}};
}

class ScreenE2E : public ::testing::Test {
 protected:
  static inline std::unique_ptr<BrowserWindows> windows;
  static inline std::unique_ptr<standin::HostProcess> host;
  static inline Picture picture;
  static inline std::wstring scratch;
  static inline testing::WindowsConfig config;

  static void SetUpTestSuite() {
    config = testing::current_windows_config();
    picture = desktop_picture();
    windows = std::make_unique<BrowserWindows>();
    host = std::make_unique<standin::HostProcess>();
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    scratch = std::wstring(temp) + L"quorvane_screen_e2e\\";
    CreateDirectoryW(scratch.c_str(), nullptr);
  }
  static void TearDownTestSuite() {
    host.reset();
    windows.reset();
    std::filesystem::remove_all(std::filesystem::path(scratch));
  }

  // The reply's result; fails the test on an error reply.
  static json result(std::string_view method, const json& params = json::object()) {
    json reply = host->call(method, params);
    EXPECT_TRUE(reply.contains("result")) << method << ": " << reply.dump();
    return reply.contains("result") ? reply["result"] : json();
  }
  static std::string error(std::string_view method, const json& params) {
    json reply = host->call(method, params);
    EXPECT_TRUE(reply.contains("error")) << method << ": " << reply.dump();
    return reply.contains("error") ? reply["error"]["message"].get<std::string>() : std::string();
  }

  // The screen-content tests need the picture on the screen, which only the wrapper
  // script can put there.
  static bool picture_shown() { return std::getenv("QUORVANE_DESKTOP_PNG") != nullptr; }

  // Checks a capture file against the picture, pixel for pixel.
  static void expect_picture_file(const std::wstring& path, std::uint8_t color_type) {
    std::vector<std::uint8_t> bytes = read_file(path);
    Result<cv::PngHeader> header = cv::probe_png(bytes);
    ASSERT_TRUE(header.ok()) << header.error();
    EXPECT_EQ(header->width, kWidth);
    EXPECT_EQ(header->height, kHeight);
    EXPECT_EQ(header->color_type, color_type);
    ASSERT_TRUE(header->physical.has_value());
    // The monitor's DPI: 3780 pixels per metre at 96 DPI, 5669 at 144.
    EXPECT_EQ(header->physical->x_pixels_per_unit, config.pixels_per_metre()) << config.dpi << " DPI";
    EXPECT_EQ(header->physical->y_pixels_per_unit, config.pixels_per_metre()) << config.dpi << " DPI";
    EXPECT_EQ(header->physical->unit, 1);
    std::optional<cv::testing::DecodedRgba> decoded = cv::testing::reference_decode_rgba(bytes);
    ASSERT_TRUE(decoded.has_value());
    // Builds before 9200 get opaque pixels (GDI leaves alpha 0, which the host turns into
    // 255); later builds keep the alpha GDI delivers. An RGB file decodes as opaque.
    std::vector<std::uint8_t> system_alpha;
    if (color_type == cv::kPngRgba && config.capture_keeps_alpha()) {
      std::uint32_t w = 0, h = 0;
      system_alpha = testing::gdi_copy_of_primary_monitor(w, h);
      ASSERT_EQ(system_alpha.size(), std::size_t{kWidth} * kHeight * 4);
    }
    std::size_t mismatches = 0;
    for (std::size_t i = 0; i < std::size_t{kWidth} * kHeight; ++i) {
      const std::uint8_t* got = decoded->rgba.data() + i * 4;
      const std::uint8_t* want = picture.rgb.data() + i * 3;
      const std::uint8_t alpha = system_alpha.empty() ? 255 : system_alpha[i * 4 + 3];
      if (got[0] != want[0] || got[1] != want[1] || got[2] != want[2] || got[3] != alpha) {
        if (mismatches++ < 5)
          ADD_FAILURE() << "pixel (" << i % kWidth << "," << i / kWidth << ") is " << int(got[0]) << "," << int(got[1])
                        << "," << int(got[2]) << "," << int(got[3]);
      }
    }
    EXPECT_EQ(mismatches, 0u);
  }
};

TEST_F(ScreenE2E, DisplayMethodsDescribeTheRealMonitor) {
  json list = result("get_display_list");
  ASSERT_TRUE(list.is_array());
  const std::vector<HMONITOR> monitors = quorvane::testing::user32_monitors();
  ASSERT_EQ(list.size(), monitors.size());

  for (std::size_t i = 0; i < monitors.size(); ++i) {
    const json& record = list[i];
    MONITORINFOEXW info{};
    info.cbSize = sizeof info;
    ASSERT_TRUE(GetMonitorInfoW(monitors[i], &info));
    EXPECT_EQ(record["id"].get<std::uint64_t>(),
              static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(monitors[i])));
    EXPECT_EQ(record["x"].get<std::int64_t>(), info.rcMonitor.left);
    EXPECT_EQ(record["y"].get<std::int64_t>(), info.rcMonitor.top);
    EXPECT_EQ(record["width"].get<std::int64_t>(), info.rcMonitor.right - info.rcMonitor.left);
    EXPECT_EQ(record["physicalWidth"], record["width"]);
    EXPECT_EQ(record["physicalHeight"], record["height"]);
    EXPECT_EQ(record["isPrimary"].get<bool>(), info.dwFlags == MONITORINFOF_PRIMARY);
    EXPECT_EQ(record["dpi"].get<double>(), record["scaleFactor"].get<double>() * 96.0);
    EXPECT_FALSE(record["name"].get<std::string>().empty());
  }
  // The one monitor Wine shows under the test display.
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]["width"], kWidth);
  EXPECT_EQ(list[0]["height"], kHeight);
  EXPECT_EQ(list[0]["scaleFactor"].get<double>(), config.scale()) << config.dpi << " DPI";
  EXPECT_EQ(list[0]["dpi"].get<double>(), static_cast<double>(config.dpi));

  const std::uint32_t dpi = GetDpiForSystem();
  EXPECT_EQ(result("get_desktop_dpi"), (json{{"dpiX", dpi}, {"dpiY", dpi}}));
  EXPECT_EQ(result("get_screen_backing_scale_factor").dump(), "1.0");
}

TEST_F(ScreenE2E, FocusBrowserRaisesTheParentsVisibleBrowserWindow) {
  ASSERT_TRUE(windows->raise(windows->plain));
  EXPECT_EQ(result("focus_browser").dump(), "{\"focused\":true}");
  EXPECT_EQ(GetForegroundWindow(), windows->browser);

  ShowWindow(windows->browser, SW_MINIMIZE);
  ASSERT_TRUE(IsIconic(windows->browser));
  EXPECT_EQ(result("focus_browser").dump(), "{\"focused\":true}");
  EXPECT_FALSE(IsIconic(windows->browser));
  EXPECT_EQ(GetForegroundWindow(), windows->browser);
}

TEST_F(ScreenE2E, RectanglesOfTheForegroundBrowserWindow) {
  ASSERT_EQ(result("focus_browser").dump(), "{\"focused\":true}");
  RECT rect;
  ASSERT_TRUE(GetWindowRect(windows->browser, &rect));
  EXPECT_EQ(result("get_active_browser_window_rect"), rect_json(rect));

  RECT frame;
  if (SUCCEEDED(DwmGetWindowAttribute(windows->browser, DWMWA_EXTENDED_FRAME_BOUNDS, &frame, sizeof frame)))
    EXPECT_EQ(result("get_active_browser_outer_rect"), rect_json(frame));
  else
    EXPECT_TRUE(result("get_active_browser_outer_rect").is_null());

  // A window of another class in front: there is no browser window to measure.
  ASSERT_TRUE(windows->raise(windows->plain));
  EXPECT_TRUE(result("get_active_browser_window_rect").is_null());
  EXPECT_TRUE(result("get_active_browser_outer_rect").is_null());
}

TEST_F(ScreenE2E, CaptureDesktopWritesTheScreenExactly) {
  if (!picture_shown()) GTEST_SKIP() << "the test picture is not on the screen; run screen_e2e.sh";
  windows->hide_all();
  const std::wstring path = scratch + L"capture.png";
  EXPECT_EQ(result("capture_desktop", {{"path", from_wide(path)}}), json(from_wide(path)));
  expect_picture_file(path, cv::kPngRgba);

  wchar_t temp[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, temp);
  const std::wstring default_path = std::wstring(temp) + L"quorvane_desktop_capture.png";
  DeleteFileW(default_path.c_str());
  for (const json& params : {json::object(), json{{"path", 5}}, json::array()}) {
    EXPECT_EQ(result("capture_desktop", params), json(from_wide(default_path))) << params.dump();
    EXPECT_TRUE(cv::probe_png(read_file(default_path)).ok());
    DeleteFileW(default_path.c_str());
  }

  const std::string missing = from_wide(scratch) + "no such folder\\capture.png";
  std::string failure = error("capture_desktop", {{"path", missing}});
  EXPECT_TRUE(failure.starts_with("save_failed: ")) << failure;
  EXPECT_TRUE(failure.ends_with(" (os error 3) (" + missing + ")")) << failure;
}

TEST_F(ScreenE2E, SearchDesktopFindsACutOutWhereItIs) {
  if (!picture_shown()) GTEST_SKIP() << "the test picture is not on the screen; run screen_e2e.sh";
  windows->hide_all();
  json found = result("search_desktop", {{"pattern", cutout(picture, kCutout)}});
  ASSERT_EQ(found["regions"].size(), 1u) << found.dump();
  EXPECT_EQ(found["regions"][0]["matchedRect"],
            (json{{"height", kCutout.h}, {"width", kCutout.w}, {"x", kCutout.x}, {"y", kCutout.y}}));
  EXPECT_GT(found["regions"][0]["score"].get<double>(), 0.999);
  EXPECT_FALSE(found.contains("capturePath"));

  auto in_area = [&](int x, int y) {
    json options = {{"limitSearchArea", true}, {"searchArea", {{"x", x}, {"y", y}, {"width", 100}, {"height", 100}}}};
    return result("search_desktop", {{"pattern", cutout(picture, kCutout)}, {"options", options}})["regions"].size();
  };
  EXPECT_EQ(in_area(500, 200), 1u);
  EXPECT_EQ(in_area(1000, 200), 0u);

  const std::wstring path = scratch + L"search.png";
  json saved = result("search_desktop", {{"pattern", cutout(picture, kCutout)},
                                         {"options", {{"saveCaptureOnDisk", true}, {"capturePath", from_wide(path)}}}});
  EXPECT_EQ(saved["capturePath"], from_wide(path));
  expect_picture_file(path, cv::kPngRgb);
}

// A pattern taken from a page at 100 % is found on the screen at the screen's scale when
// the search may use the DPI values: here the pattern's DPI is the screen's over 1.5, so
// on any configuration the screen shows it 1.5 times as large, and only a host that
// reads the screen's real DPI finds it there.
TEST_F(ScreenE2E, HighDpiSearchScalesThePatternByTheScreensDpi) {
  if (!picture_shown()) GTEST_SKIP() << "the test picture is not on the screen; run screen_e2e.sh";
  windows->hide_all();
  const json at_150 = {{"height", kTilesAt150.h}, {"width", kTilesAt150.w}, {"x", kTilesAt150.x}, {"y", kTilesAt150.y}};
  json found =
      result("search_desktop", {{"pattern", tiles_at_100(config.dpi / 1.5)}, {"options", {{"enableHighDpi", true}}}});
  ASSERT_EQ(found["regions"].size(), 1u) << config.dpi << " DPI: " << found.dump();
  EXPECT_EQ(found["regions"][0]["matchedRect"], at_150);
  EXPECT_GT(found["regions"][0]["score"].get<double>(), 0.95);

  // Without the DPI values the pattern is searched at its own size, and is not there.
  json plain =
      result("search_desktop", {{"pattern", tiles_at_100(config.dpi / 1.5)}, {"options", {{"minSimilarity", 0.95}}}});
  EXPECT_EQ(plain["regions"], json::array()) << plain.dump();

  // A pattern at the screen's own DPI is searched at its own size.
  json own = cutout(picture, kCutout);
  own["dpiX"] = config.dpi;
  json same = result("search_desktop", {{"pattern", own}, {"options", {{"enableHighDpi", true}}}});
  ASSERT_EQ(same["regions"].size(), 1u) << same.dump();
  EXPECT_EQ(same["regions"][0]["matchedRect"],
            (json{{"height", kCutout.h}, {"width", kCutout.w}, {"x", kCutout.x}, {"y", kCutout.y}}));
}

TEST_F(ScreenE2E, WaitForImageAndSearchRelative) {
  if (!picture_shown()) GTEST_SKIP() << "the test picture is not on the screen; run screen_e2e.sh";
  windows->hide_all();
  json absent = cutout(picture, kCutout);
  // The same size of noise, flipped upside down: not on the screen.
  {
    std::string rgb;
    for (std::uint32_t y = kCutout.h; y-- > 0;)
      rgb.append(reinterpret_cast<const char*>(picture.at(kCutout.x, kCutout.y + y)), kCutout.w * 3);
    absent["data"] = base64_encode(rgb);
  }
  json none = result("wait_for_image", {{"pattern", absent}, {"timeoutMs", 0}});
  EXPECT_FALSE(none["found"].get<bool>());
  EXPECT_EQ(none["regions"], json::array());
  json waited = result("wait_for_image", {{"pattern", absent}, {"timeoutMs", 150}, {"intervalMs", 5}});
  EXPECT_FALSE(waited["found"].get<bool>());
  EXPECT_GE(waited["elapsedMs"].get<std::uint64_t>(), 150u);

  json found = result("wait_for_image", {{"pattern", cutout(picture, kCutout)}, {"timeoutMs", 5000}});
  EXPECT_TRUE(found["found"].get<bool>());
  ASSERT_EQ(found["regions"].size(), 1u);
  EXPECT_EQ(found["regions"][0]["matchedRect"]["x"], kCutout.x);

  json relative = result("search_relative", {{"pattern", cutout(picture, kCutout)},
                                             {"offset", {{"x", 10}, {"y", 20}, {"width", 30}, {"height", 40}}}});
  ASSERT_EQ(relative["regions"].size(), 1u);
  EXPECT_EQ(relative["regions"][0]["anchorRect"]["x"], kCutout.x);
  EXPECT_EQ(relative["regions"][0]["matchedRect"].dump(), "{\"height\":40.0,\"width\":30.0,\"x\":533.0,\"y\":237.0}");
}

TEST_F(ScreenE2E, WaitForImageWithAHugeIntervalEndsAtItsTimeOut) {
  // A flat pattern scores 0 everywhere, so it never matches whatever the screen shows.
  const json flat = {{"data", base64_encode(std::string(4 * 4 * 3, '\x7f'))}, {"width", 4}, {"height", 4}};
  for (const json& interval : {json(std::uint64_t{0x7FFFFFFFFFFFFFFF}), json(std::uint64_t{1} << 63),
                               json(std::uint64_t{0xFFFFFFFFFFFFFFFF})}) {
    const auto start = std::chrono::steady_clock::now();
    json waited = result("wait_for_image", {{"pattern", flat}, {"timeoutMs", 200}, {"intervalMs", interval}});
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_FALSE(waited["found"].get<bool>()) << interval.dump();
    EXPECT_GE(waited["elapsedMs"].get<std::uint64_t>(), 200u);
    // The time-out plus one capture and search, with room for a slow machine.
    EXPECT_LT(took.count(), 200 + 5000) << interval.dump();
  }
}

TEST_F(ScreenE2E, ColourMethodsFindTheDrawnShapes) {
  if (!picture_shown()) GTEST_SKIP() << "the test picture is not on the screen; run screen_e2e.sh";
  windows->hide_all();
  json blue = result("find_color_regions", {{"color", "#0000FF"}});
  json expected = json::array();
  for (int i : {1, 0, 3, 4})  // by y, then x; the 2-pixel line is below the minimum width
    expected.push_back(
        {{"height", kBlueBoxes[i].h}, {"width", kBlueBoxes[i].w}, {"x", kBlueBoxes[i].x}, {"y", kBlueBoxes[i].y}});
  EXPECT_EQ(blue["regions"], expected);

  json line = result("find_color_regions", {{"color", "0000ff"},
                                            {"minWidth", 2},
                                            {"searchArea", {{"x", 1150}, {"y", 390}, {"width", 100}, {"height", 50}}}});
  EXPECT_EQ(line["regions"].dump(), "[{\"height\":10,\"width\":2,\"x\":1200,\"y\":400}]");

  EXPECT_EQ(result("find_rectangle", {{"color", "ff0000"}}),
            (json{{"height", kRedOutline.h}, {"width", kRedOutline.w}, {"x", kRedOutline.x}, {"y", kRedOutline.y}}));
  EXPECT_EQ(result("find_rectangle", {{"color", "00ff00"}}).dump(), "{\"height\":0,\"width\":0,\"x\":0,\"y\":0}");
  EXPECT_EQ(error("find_rectangle", {{"color", "red"}}), "bad_params: color 'red' is not rrggbb");
}

int write_desktop_picture(const char* path) {
  Picture p = desktop_picture();
  Result<std::vector<std::uint8_t>> png = cv::encode_png(p.rgb.data(), kWidth, kHeight, 3, 96.0);
  if (!png) {
    std::fprintf(stderr, "cannot encode the picture: %s\n", png.error().c_str());
    return 1;
  }
  std::ofstream out(std::filesystem::path(to_wide(path)), std::ios::binary);
  out.write(reinterpret_cast<const char*>(png->data()), static_cast<std::streamsize>(png->size()));
  return out ? 0 : 1;
}

}  // namespace
}  // namespace quorvane

int main(int argc, char** argv) {
  // Physical pixels everywhere, as the host sees them.
  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  if (argc == 3 && std::string_view(argv[1]) == "--write-desktop") return quorvane::write_desktop_picture(argv[2]);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
