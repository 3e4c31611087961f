// The system input queue for real: what the player injects, as low-level hooks see it
// under the Windows build's test platform, and what a real edit control makes of it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "common/utf.h"
#include "input/key_sequence.h"
#include "input/player.h"
#include "input/system_input_queue.h"
#include "input_hooks_win32.h"

namespace quorvane::input {
namespace {

using testing::EditWindow;
using testing::HookedKey;
using testing::HookedMouse;
using testing::InputHooks;

// "ok", or the failure text, so that a failed assertion says why.
std::string outcome(const Result<void>& played) { return played.ok() ? "ok" : played.error(); }

struct Key {
  WPARAM message;
  DWORD vk;
  DWORD scan;
  bool extended;
  bool operator==(const Key&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Key& k) {
  return os << "{msg=0x" << std::hex << k.message << " vk=0x" << k.vk << " scan=0x" << k.scan << std::dec
            << (k.extended ? " ext" : "") << "}";
}

ActionList parse(std::string_view text) {
  KeySequence s = parse_key_sequence(text);
  EXPECT_TRUE(s.ok()) << s.error();
  return s.ok() ? s.value() : ActionList{};
}

// Every recorded key must be ours; the rest of the record is compared as a sequence.
std::vector<Key> injected_keys(const std::vector<HookedKey>& keys) {
  std::vector<Key> out;
  for (const HookedKey& k : keys) {
    EXPECT_EQ(k.extra, INPUT_EXTRA_INFO);
    EXPECT_TRUE(k.flags & LLKHF_INJECTED);
    out.push_back({k.message, k.vk, k.scan, (k.flags & LLKHF_EXTENDED) != 0});
  }
  return out;
}

constexpr DWORD VK_PACKET_ = 0xE7;
Key down(DWORD vk, DWORD scan, bool extended = false) { return {WM_KEYDOWN, vk, scan, extended}; }
Key up(DWORD vk, DWORD scan, bool extended = false) { return {WM_KEYUP, vk, scan, extended}; }

class SystemInputQueueTest : public ::testing::Test {
 protected:
  SystemInputQueue queue;
};

TEST_F(SystemInputQueueTest, KeyboardEventsArriveAsBuilt) {
  InputHooks hooks(false);
  ASSERT_TRUE(hooks.installed());
  ASSERT_EQ(outcome(play_actions(parse("a\n😀${KEY_CTRL+KEY_V}${KEY_UP}${KEY_F5}${KEY_7}${KEY_BKSP}"), queue)), "ok");
  ASSERT_TRUE(hooks.wait_for(22, 0));
  // US layout scan codes; a Unicode event carries its UTF-16 unit as the scan code.
  const std::vector<Key> expected = {
      down(VK_PACKET_, 'a'),
      up(VK_PACKET_, 'a'),
      down(VK_RETURN, 0x1C),
      up(VK_RETURN, 0x1C),
      down(VK_PACKET_, '\n'),
      up(VK_PACKET_, '\n'),
      down(VK_PACKET_, 0xD83D),
      up(VK_PACKET_, 0xD83D),
      down(VK_PACKET_, 0xDE00),
      up(VK_PACKET_, 0xDE00),
      down(VK_CONTROL, 0x1D),
      down('V', 0x2F),
      up('V', 0x2F),
      up(VK_CONTROL, 0x1D),
      down(VK_UP, 0x48, true),
      up(VK_UP, 0x48, true),
      down(VK_F5, 0x3F),
      up(VK_F5, 0x3F),
      down('7', 0x08),
      up('7', 0x08),
      down(VK_BACK, 0x0E),
      up(VK_BACK, 0x0E),
  };
  EXPECT_EQ(injected_keys(hooks.keys()), expected);
  EXPECT_FALSE(GetAsyncKeyState(VK_CONTROL) & 0x8000);
}

TEST_F(SystemInputQueueTest, MouseEventsArriveAsBuilt) {
  InputHooks hooks(true);
  ASSERT_TRUE(hooks.installed());
  ASSERT_EQ(
      outcome(play_actions(ActionList{MouseMove{500, 300}, ButtonDown{MouseButton::Left}, ButtonUp{MouseButton::Left},
                                      ButtonDown{MouseButton::Middle}, ButtonUp{MouseButton::Middle}, WheelVertical{2},
                                      WheelHorizontal{-1}, WheelHorizontal{3}},
                           queue)),
      "ok");
  ASSERT_TRUE(hooks.wait_for(0, 8));
  const std::vector<HookedMouse> mice = hooks.mice();
  const std::pair<WPARAM, DWORD> expected[] = {
      {WM_MOUSEMOVE, 0},
      {WM_LBUTTONDOWN, 0},
      {WM_LBUTTONUP, 0},
      {WM_MBUTTONDOWN, 0},
      {WM_MBUTTONUP, 0},
      {WM_MOUSEWHEEL, static_cast<DWORD>(-240) << 16},
      {WM_MOUSEHWHEEL, static_cast<DWORD>(-120) << 16},
      {WM_MOUSEHWHEEL, DWORD{360} << 16},
  };
  ASSERT_EQ(mice.size(), std::size(expected));
  for (std::size_t i = 0; i < mice.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(mice[i].message, expected[i].first);
    EXPECT_EQ(mice[i].data, expected[i].second);
    EXPECT_EQ(mice[i].extra, INPUT_EXTRA_INFO);
    EXPECT_TRUE(mice[i].flags & LLMHF_INJECTED);
    EXPECT_EQ(mice[i].pt.x, 500);
    EXPECT_EQ(mice[i].pt.y, 300);
  }
}

TEST_F(SystemInputQueueTest, MovesThePointer) {
  // No mouse hook here: while one is installed the pointer is not really moved.
  for (const auto& [x, y] : {std::pair{640, 480}, std::pair{0, 0}, std::pair{1919, 1079}}) {
    ASSERT_EQ(outcome(play_actions(ActionList{MouseMove{x, y}}, queue)), "ok");
    POINT at{};
    ASSERT_TRUE(GetCursorPos(&at));
    EXPECT_EQ(at.x, x);
    EXPECT_EQ(at.y, y);
  }
  // The platform maps absolute coordinates back by truncating, so some pixels come out one
  // short; that is what the arrival tolerance absorbs.
  ASSERT_EQ(outcome(play_actions(ActionList{MouseMove{961, 3}}, queue)), "ok");
  POINT at{};
  ASSERT_TRUE(GetCursorPos(&at));
  EXPECT_LE(std::abs(at.x - 961), 1);
  EXPECT_LE(std::abs(at.y - 3), 1);
}

TEST_F(SystemInputQueueTest, TypesIntoAnEditControl) {
  EditWindow window;
  ASSERT_TRUE(window.valid());
  ASSERT_EQ(outcome(play_actions(parse("Hello${KEY_ENTER}Grüße${KEY_LEFT}${KEY_BKSP}${KEY_END} 😀"), queue)), "ok");
  EXPECT_TRUE(window.wait_for_text(L"Hello\r\nGrüe 😀")) << from_wide(window.text());
}

}  // namespace
}  // namespace quorvane::input
