// The input methods end to end: the real host, driven over its pipes as a browser would,
// injects into the desktop; low-level hooks in this process record what arrived, and a
// real edit control in this process receives the typing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "common/utf.h"
#include "host_process.h"
#include "input_hooks_win32.h"

namespace quorvane::input {
namespace {

// Physical pixels, as the host sees them (it is per-monitor aware), so that pointer
// positions compare one to one on a scaled screen too.
[[maybe_unused]] const bool per_monitor_aware =
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2) != FALSE;

using standin::HostProcess;
using testing::EditWindow;
using testing::InputHooks;
using json = nlohmann::json;

std::string hex(unsigned long v) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%lx", v);
  return buffer;
}

// Both hooks' records as one readable sequence. Anything not stamped as our injected
// input is marked, so a stray event cannot pass unnoticed.
std::vector<std::string> trace(InputHooks& hooks) {
  std::vector<std::pair<std::size_t, std::string>> items;
  for (const auto& k : hooks.keys()) {
    std::string s = std::string(k.down() ? "down " : "up ") + hex(k.vk) + " " + hex(k.scan);
    if (k.flags & LLKHF_EXTENDED) s += " ext";
    if (k.extra != 100 || !(k.flags & LLKHF_INJECTED)) s += " FOREIGN";
    items.emplace_back(k.order, s);
  }
  for (const auto& m : hooks.mice()) {
    std::string s;
    switch (m.message) {
      case WM_MOUSEMOVE:
        s = "move";
        break;
      case WM_LBUTTONDOWN:
        s = "left down";
        break;
      case WM_LBUTTONUP:
        s = "left up";
        break;
      case WM_RBUTTONDOWN:
        s = "right down";
        break;
      case WM_RBUTTONUP:
        s = "right up";
        break;
      case WM_MBUTTONDOWN:
        s = "middle down";
        break;
      case WM_MBUTTONUP:
        s = "middle up";
        break;
      case WM_MOUSEWHEEL:
        s = "wheel " + std::to_string(static_cast<short>(HIWORD(m.data)));
        break;
      case WM_MOUSEHWHEEL:
        s = "hwheel " + std::to_string(static_cast<short>(HIWORD(m.data)));
        break;
      default:
        s = "mouse " + hex(static_cast<unsigned long>(m.message));
    }
    s += " @" + std::to_string(m.pt.x) + "," + std::to_string(m.pt.y);
    if (m.extra != 100 || !(m.flags & LLMHF_INJECTED)) s += " FOREIGN";
    items.emplace_back(m.order, s);
  }
  std::sort(items.begin(), items.end());
  std::vector<std::string> out;
  for (auto& [order, s] : items) out.push_back(std::move(s));
  return out;
}

std::vector<std::string> typed(std::u16string_view text) {
  std::vector<std::string> out;
  for (char16_t unit : text) {
    out.push_back("down e7 " + hex(unit));
    out.push_back("up e7 " + hex(unit));
  }
  return out;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The reply's error message, or "" for a success.
std::string error_of(const json& reply) {
  return reply.contains("error") ? reply["error"]["message"].get<std::string>() : std::string();
}

class InputE2E : public ::testing::Test {
 protected:
  // Waits until the hooks have seen `count` events, then a little longer, so that an extra
  // event would show.
  std::vector<std::string> trace_of(InputHooks& hooks, std::size_t count) {
    testing::pump_until([&] { return hooks.keys().size() + hooks.mice().size() >= count; });
    testing::pump_until([] { return false; }, 200);
    return trace(hooks);
  }

  HostProcess host;
};

TEST_F(InputE2E, TypesIntoAnEditControl) {
  EditWindow window;
  ASSERT_TRUE(window.valid());
  InputHooks hooks(false);
  ASSERT_TRUE(hooks.installed());

  const json reply = host.call("send_text", {{"text", "Hello${KEY_ENTER}"}});
  ASSERT_EQ(reply, (json{{"id", 1}, {"result", true}})) << reply.dump();
  EXPECT_TRUE(window.wait_for_text(L"Hello\r\n")) << from_wide(window.text());
  EXPECT_EQ(trace_of(hooks, 12), (typed(u"Hello") + std::vector<std::string>{"down d 1c", "up d 1c"}));

  // Layout keys, extended keys and a modifier held around one of them.
  window.clear();
  hooks.clear();
  ASSERT_EQ(host.call("send_text", {{"text", "ab${KEY_LEFT}${KEY_SHIFT+KEY_HOME}${KEY_DEL}${KEY_END}-${ key_x }"}}),
            (json{{"id", 1}, {"result", true}}));
  EXPECT_TRUE(window.wait_for_text(L"b-x")) << from_wide(window.text());
  const std::vector<std::string> keys = {
      "down 25 4b ext", "up 25 4b ext",                                // Left
      "down 10 2a",     "down 24 47 ext", "up 24 47 ext", "up 10 2a",  // Shift+Home
      "down 2e 53 ext", "up 2e 53 ext",                                // Delete
      "down 23 4f ext", "up 23 4f ext",                                // End
  };
  EXPECT_EQ(trace_of(hooks, 18),
            (typed(u"ab") + keys + typed(u"-") + std::vector<std::string>{"down 58 2d", "up 58 2d"}));
}

TEST_F(InputE2E, UnusualTextPlays) {
  EditWindow window;
  ASSERT_TRUE(window.valid());
  InputHooks hooks(false);
  // The browser hands a lone surrogate over as U+FFFD; control characters and characters
  // beyond the BMP are typed as they are.
  ASSERT_TRUE(host.send_frame(R"({"id":2,"method":"send_text","params":{"text":"x\ufffd\u0001\ud83d\ude00"}})"));
  EXPECT_EQ(host.read_frame(), R"({"id":2,"result":true})");
  EXPECT_EQ(trace_of(hooks, 10), typed(u"x\uFFFD\u0001\xD83D\xDE00"));
  EXPECT_FALSE(GetAsyncKeyState(VK_CONTROL) & 0x8000);
}

TEST_F(InputE2E, RejectedSequencesInjectNothing) {
  InputHooks hooks(true);
  ASSERT_TRUE(hooks.installed());

  std::string tokens;
  for (int i = 0; i < 3000; ++i) tokens += "a${KEY_CTRL+KEY_B}";
  EXPECT_EQ(error_of(host.call("send_text", {{"text", tokens + "${KEY_CTRL+KEY_F16}"}})),
            "bad_key: unknown key 'KEY_F16' in '${KEY_CTRL+KEY_F16}'");
  EXPECT_EQ(error_of(host.call("send_text", {{"text", "Hello${KEY_ENTER"}})), "bad_key: unterminated '${'");
  EXPECT_EQ(
      error_of(host.call("send_text", {{"text", std::string("a\0b\n", 4)}})),
      "input_failed: TypeText(\"a\\0b\\n\"): you tried to simulate invalid input: (the text contained a null byte)");
  EXPECT_EQ(error_of(host.call("send_text", {{"text", 5}})), "bad_params: missing 'text'");

  // A megabyte of text with a null at its end fails whole, before anything is typed.
  std::string big(1 << 20, 'm');
  big.back() = '\0';
  const std::string message = error_of(host.call("send_text", {{"text", big}}));
  EXPECT_EQ(message, "input_failed: TypeText(\"" + std::string((1 << 20) - 1, 'm') +
                         "\\0\"): you tried to simulate invalid input: (the text contained a null byte)");

  EXPECT_EQ(error_of(host.call("send_mouse_event", {{"type", 0}, {"x", 1}, {"y", 1}})),
            "bad_params: missing or non-numeric 'button'");
  EXPECT_EQ(error_of(host.call("send_mouse_event", {{"type", 9}, {"button", 0}, {"x", 1}, {"y", 1}})),
            "bad_params: unknown mouse event type 9");
  EXPECT_EQ(error_of(host.call("send_mouse_event", {{"type", 1}, {"button", -2}, {"x", 1}, {"y", 1}})),
            "bad_params: 'button' out of range");
  EXPECT_EQ(error_of(host.call("send_mouse_event", {{"type", 1}, {"button", 0}, {"x", "1"}, {"y", 1}})),
            "bad_params: missing or non-numeric 'x'");
  EXPECT_EQ(error_of(host.call("send_mouse_wheel_event", {{"deltaX", 1}})),
            "bad_params: missing or non-numeric 'deltaY'");
  EXPECT_EQ(host.call("send_mouse_wheel_event", {{"deltaX", 0}, {"deltaY", 0}}), (json{{"id", 1}, {"result", true}}));
  EXPECT_EQ(host.call("send_text", {{"text", ""}}), (json{{"id", 1}, {"result", true}}));

  EXPECT_EQ(trace_of(hooks, 0), std::vector<std::string>{});
}

TEST_F(InputE2E, ClicksAndWheels) {
  InputHooks hooks(true);
  ASSERT_TRUE(hooks.installed());
  // Away from any window of ours: the desktop takes the clicks without side effects.
  ASSERT_EQ(host.call("send_mouse_event", {{"type", 4}, {"button", 1}, {"x", 1500}, {"y", 900}}),
            (json{{"id", 1}, {"result", true}}));
  ASSERT_EQ(host.call("send_mouse_event", {{"type", 5}, {"button", 2}, {"x", 1501.7}, {"y", 901}}),
            (json{{"id", 1}, {"result", true}}));
  ASSERT_EQ(host.call("send_mouse_wheel_event", {{"deltaX", 2}, {"deltaY", -1}}), (json{{"id", 1}, {"result", true}}));
  EXPECT_EQ(trace_of(hooks, 16), (std::vector<std::string>{
                                     "move @1500,900",
                                     "right down @1500,900",
                                     "right up @1500,900",
                                     "right down @1500,900",
                                     "right up @1500,900",
                                     "move @1501,901",
                                     "down 11 1d",
                                     "middle down @1501,901",
                                     "middle up @1501,901",
                                     "up 11 1d",
                                     "wheel -240 @1501,901",
                                     "hwheel -120 @1501,901",
                                 }));
}

TEST_F(InputE2E, PermissionAnswers) {
  ASSERT_TRUE(host.send_frame(R"({"id":3,"method":"get_permission_status"})"));
  EXPECT_EQ(host.read_frame(), R"({"id":3,"result":{"accessibility":true,"screenRecording":true}})");
  ASSERT_TRUE(host.send_frame(R"({"id":4,"method":"request_permission","params":{"kind":"camera"}})"));
  EXPECT_EQ(host.read_frame(), R"({"id":4,"result":{"granted":true,"kind":"camera"}})");
  ASSERT_TRUE(host.send_frame(R"({"id":5,"method":"open_permission_pane","params":{"kind":"accessibility"}})"));
  EXPECT_EQ(host.read_frame(), R"({"id":5,"result":false})");
  ASSERT_TRUE(host.send_frame(R"({"id":6,"method":"open_permission_pane","params":{"kind":1}})"));
  EXPECT_EQ(host.read_frame(),
            R"x({"error":{"message":"bad_params: missing 'kind' (accessibility | screenRecording)"},"id":6})x");
}

// Run without any mouse hook: while one is installed the pointer is not really moved. The
// pointer is left at (777, 555) for the X-side check that runs after this program.
TEST(HostMovesPointer, PointerLandsOnTarget) {
  HostProcess host;
  for (const auto& [x, y] : {std::pair{10, 1070}, std::pair{1919, 0}, std::pair{777, 555}}) {
    ASSERT_EQ(host.call("send_mouse_event", {{"type", 0}, {"button", 0}, {"x", x}, {"y", y}}),
              (json{{"id", 1}, {"result", true}}));
    POINT at{};
    ASSERT_TRUE(GetCursorPos(&at));
    EXPECT_EQ(at.x, x);
    EXPECT_EQ(at.y, y);
  }
}

}  // namespace
}  // namespace quorvane::input
