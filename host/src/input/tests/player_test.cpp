#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>

#include "input/player.h"
#include "recording_input_queue.h"

namespace quorvane::input {

void PrintTo(const InputEvent& e, std::ostream* os) {
  if (e.type == InputEvent::Type::Mouse) {
    *os << "mouse{dx=" << e.dx << " dy=" << e.dy << " data=" << e.mouse_data << " flags=0x" << std::hex << e.flags
        << std::dec << "}";
  } else {
    *os << "key{vk=0x" << std::hex << e.vk << " scan=0x" << e.scan << " flags=0x" << e.flags << std::dec << "}";
  }
}

namespace {

using namespace input_flags;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::RecordingInputQueue;

constexpr std::uint16_t VK_RETURN = 0x0D, VK_TAB = 0x09, VK_CONTROL = 0x11, VK_SHIFT = 0x10, VK_MENU = 0x12,
                        VK_LWIN = 0x5B;

InputEvent vk_down(std::uint16_t vk, std::uint32_t extra = 0) {
  return InputEvent::key(vk, RecordingInputQueue::scan_for(vk), extra);
}
InputEvent vk_up(std::uint16_t vk, std::uint32_t extra = 0) {
  return InputEvent::key(vk, RecordingInputQueue::scan_for(vk), extra | KEYEVENTF_KEYUP);
}
InputEvent unicode_down(char16_t unit) { return InputEvent::key(0, unit, KEYEVENTF_UNICODE); }
InputEvent unicode_up(char16_t unit) { return InputEvent::key(0, unit, KEYEVENTF_UNICODE | KEYEVENTF_KEYUP); }
InputEvent layout_down(std::uint16_t value) {
  return InputEvent::key(value, RecordingInputQueue::scan_for(value), KEYEVENTF_SCANCODE);
}
InputEvent layout_up(std::uint16_t value) {
  return InputEvent::key(value, RecordingInputQueue::scan_for(value), KEYEVENTF_SCANCODE | KEYEVENTF_KEYUP);
}
InputEvent mouse(std::uint32_t flags, std::uint32_t data = 0) { return InputEvent::mouse(0, 0, data, flags); }

// nullopt when the list played, otherwise the failure text.
std::optional<std::string> play(const ActionList& actions, RecordingInputQueue& queue) {
  Result<void> played = play_actions(actions, queue);
  if (played.ok()) return std::nullopt;
  return std::move(played).error();
}

const std::string NOT_ALL_SENT =
    "simulating input failed: (not all input events were sent. they may have been blocked by UIPI)";

TEST(Player, EmptyListTouchesNothing) {
  RecordingInputQueue queue;
  EXPECT_EQ(play({}, queue), std::nullopt);
  EXPECT_THAT(queue.log, IsEmpty());
  EXPECT_EQ(queue.layout_queries, 0);
}

TEST(Player, TextIsOneUnicodeBatchAndKeysAreOneCallEach) {
  RecordingInputQueue queue;
  EXPECT_EQ(play({TypeText{"Hello"}, KeyTap{Key::of(Key::Kind::Enter)}}, queue), std::nullopt);
  ASSERT_EQ(queue.calls.size(), 2u);
  std::vector<InputEvent> hello;
  for (char16_t c : u"Hello") {
    if (c == 0) break;
    hello.push_back(unicode_down(c));
    hello.push_back(unicode_up(c));
  }
  EXPECT_EQ(queue.calls[0], hello);
  EXPECT_THAT(queue.calls[1], ElementsAre(vk_down(VK_RETURN), vk_up(VK_RETURN)));
}

TEST(Player, LineFeedAndTabAlsoPressTheirKeys) {
  RecordingInputQueue queue;
  EXPECT_EQ(play({TypeText{"a\nb\tc\r"}}, queue), std::nullopt);
  ASSERT_EQ(queue.calls.size(), 1u);
  EXPECT_THAT(queue.calls[0],
              ElementsAre(unicode_down(u'a'), unicode_up(u'a'), vk_down(VK_RETURN), vk_up(VK_RETURN),
                          unicode_down(u'\n'), unicode_up(u'\n'), unicode_down(u'b'), unicode_up(u'b'), vk_down(VK_TAB),
                          vk_up(VK_TAB), unicode_down(u'\t'), unicode_up(u'\t'), unicode_down(u'c'), unicode_up(u'c'),
                          unicode_down(u'\r'), unicode_up(u'\r')));
}

TEST(Player, CharactersBeyondTheBmpAreSurrogatePairs) {
  RecordingInputQueue queue;
  EXPECT_EQ(play({TypeText{"é😀"}}, queue), std::nullopt);
  ASSERT_EQ(queue.calls.size(), 1u);
  EXPECT_THAT(queue.calls[0], ElementsAre(unicode_down(0xE9), unicode_up(0xE9), unicode_down(0xD83D),
                                          unicode_up(0xD83D), unicode_down(0xDE00), unicode_up(0xDE00)));
}

TEST(Player, NullInTextFailsBeforeAnyEvent) {
  RecordingInputQueue queue;
  const auto error = play({TypeText{"ok"}, TypeText{std::string("a\0\"b", 4)}, TypeText{"never"}}, queue);
  EXPECT_EQ(error,
            "input_failed: TypeText(\"a\\0\\\"b\"): you tried to simulate invalid input: (the text contained a "
            "null byte)");
  EXPECT_EQ(queue.calls.size(), 1u);
}

TEST(Player, FixedKeysUseTheirVirtualKeysAndExtendedFlag) {
  using K = Key::Kind;
  const std::pair<Key, std::uint16_t> extended[] = {
      {Key::of(K::Up), 0x26},   {Key::of(K::Right), 0x27},  {Key::of(K::Down), 0x28},
      {Key::of(K::Left), 0x25}, {Key::of(K::PageUp), 0x21}, {Key::of(K::PageDown), 0x22},
      {Key::of(K::Home), 0x24}, {Key::of(K::End), 0x23},    {Key::of(K::Delete), 0x2E},
  };
  const std::pair<Key, std::uint16_t> plain[] = {
      {Key::of(K::Backspace), 0x08}, {Key::of(K::Enter), 0x0D}, {Key::of(K::Tab), 0x09},   {Key::of(K::Escape), 0x1B},
      {Key::of(K::Space), 0x20},     {Key::function(1), 0x70},  {Key::function(15), 0x7E},
  };
  for (const auto& [key, vk] : extended) {
    RecordingInputQueue queue;
    EXPECT_EQ(play({KeyTap{key}}, queue), std::nullopt);
    EXPECT_THAT(queue.calls,
                ElementsAre(ElementsAre(vk_down(vk, KEYEVENTF_EXTENDEDKEY), vk_up(vk, KEYEVENTF_EXTENDEDKEY))))
        << key_text(key);
  }
  for (const auto& [key, vk] : plain) {
    RecordingInputQueue queue;
    EXPECT_EQ(play({KeyTap{key}}, queue), std::nullopt);
    EXPECT_THAT(queue.calls, ElementsAre(ElementsAre(vk_down(vk), vk_up(vk)))) << key_text(key);
  }
}

TEST(Player, LayoutKeysGoThroughTheForegroundLayout) {
  RecordingInputQueue queue;
  queue.key_scan_overrides[u';'] = -1;      // no key for it: typed as Unicode
  queue.key_scan_overrides[u'7'] = 0x0137;  // needs Shift: value kept whole, Shift not pressed
  queue.key_scan_overrides[u'.'] = 0x2E;    // lands on an extended key
  using K = Key::Kind;
  EXPECT_EQ(play({KeyTap{Key::letter('v')}, KeyTap{Key::of(K::Semicolon)}, KeyTap{Key::digit(7)},
                  KeyTap{Key::of(K::Period)}, KeyTap{Key::of(K::Comma)}, KeyTap{Key::of(K::Minus)}},
                 queue),
            std::nullopt);
  EXPECT_THAT(
      queue.calls,
      ElementsAre(ElementsAre(layout_down(0x56), layout_up(0x56)), ElementsAre(unicode_down(u';'), unicode_up(u';')),
                  ElementsAre(layout_down(0x0137), layout_up(0x0137)),
                  ElementsAre(InputEvent::key(0x2E, RecordingInputQueue::scan_for(0x2E),
                                              KEYEVENTF_SCANCODE | KEYEVENTF_EXTENDEDKEY),
                              InputEvent::key(0x2E, RecordingInputQueue::scan_for(0x2E),
                                              KEYEVENTF_SCANCODE | KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP)),
                  ElementsAre(layout_down(0xBC), layout_up(0xBC)), ElementsAre(layout_down(0xBD), layout_up(0xBD))));
  EXPECT_EQ(queue.layout_queries, 6);  // afresh for every key action
  EXPECT_EQ(queue.count("wrong layout"), 0);
}

TEST(Player, ModifiersAreOneCallEach) {
  RecordingInputQueue queue;
  EXPECT_EQ(play({ModifierDown{Modifier::Ctrl}, KeyTap{Key::letter('v')}, ModifierUp{Modifier::Ctrl},
                  ModifierDown{Modifier::Alt}, ModifierDown{Modifier::Meta}, ModifierUp{Modifier::Alt},
                  ModifierUp{Modifier::Meta}},
                 queue),
            std::nullopt);
  EXPECT_THAT(queue.calls,
              ElementsAre(ElementsAre(vk_down(VK_CONTROL)), ElementsAre(layout_down(0x56), layout_up(0x56)),
                          ElementsAre(vk_up(VK_CONTROL)), ElementsAre(vk_down(VK_MENU)), ElementsAre(vk_down(VK_LWIN)),
                          ElementsAre(vk_up(VK_MENU)), ElementsAre(vk_up(VK_LWIN))));
}

TEST(Player, HeldModifiersAreReleasedInPressOrderAfterAFailure) {
  RecordingInputQueue queue;
  queue.inserted_on_call[3] = 0;  // the click
  const auto error = play({ModifierDown{Modifier::Shift}, ModifierDown{Modifier::Ctrl}, ModifierDown{Modifier::Alt},
                           ButtonDown{MouseButton::Left}, ButtonUp{MouseButton::Left}, ModifierUp{Modifier::Shift}},
                          queue);
  EXPECT_EQ(error, "input_failed: ButtonDown(Left): " + NOT_ALL_SENT);
  EXPECT_THAT(queue.calls,
              ElementsAre(ElementsAre(vk_down(VK_SHIFT)), ElementsAre(vk_down(VK_CONTROL)),
                          ElementsAre(vk_down(VK_MENU)), ElementsAre(mouse(MOUSEEVENTF_LEFTDOWN)),
                          ElementsAre(vk_up(VK_SHIFT)), ElementsAre(vk_up(VK_CONTROL)), ElementsAre(vk_up(VK_MENU))));
}

TEST(Player, ModifiersLeftDownBySuccessfulListAreReleased) {
  RecordingInputQueue queue;
  EXPECT_EQ(play({ModifierDown{Modifier::Meta}, ModifierDown{Modifier::Ctrl}, ModifierDown{Modifier::Meta},
                  ModifierUp{Modifier::Ctrl}},
                 queue),
            std::nullopt);
  EXPECT_THAT(queue.calls,
              ElementsAre(ElementsAre(vk_down(VK_LWIN)), ElementsAre(vk_down(VK_CONTROL)),
                          ElementsAre(vk_down(VK_LWIN)), ElementsAre(vk_up(VK_CONTROL)), ElementsAre(vk_up(VK_LWIN))));
}

TEST(Player, ARejectedReleaseIsTriedAgainAtTheEnd) {
  RecordingInputQueue queue;
  queue.inserted_on_call[1] = 0;
  EXPECT_EQ(play({ModifierDown{Modifier::Ctrl}, ModifierUp{Modifier::Ctrl}, TypeText{"x"}}, queue),
            "input_failed: ModifierUp(Ctrl): " + NOT_ALL_SENT);
  EXPECT_THAT(queue.calls, ElementsAre(ElementsAre(vk_down(VK_CONTROL)), ElementsAre(vk_up(VK_CONTROL)),
                                       ElementsAre(vk_up(VK_CONTROL))));
}

TEST(Player, PartlyInsertedBatchFails) {
  RecordingInputQueue queue;
  queue.inserted_on_call[0] = 5;
  EXPECT_EQ(play({TypeText{"Hello"}, KeyTap{Key::of(Key::Kind::Enter)}}, queue),
            "input_failed: TypeText(\"Hello\"): " + NOT_ALL_SENT);
  EXPECT_EQ(queue.calls.size(), 1u);
}

TEST(Player, ButtonsAndWheels) {
  RecordingInputQueue queue;
  EXPECT_EQ(play({ButtonDown{MouseButton::Left}, ButtonUp{MouseButton::Left}, ButtonDown{MouseButton::Right},
                  ButtonUp{MouseButton::Right}, ButtonDown{MouseButton::Middle}, ButtonUp{MouseButton::Middle},
                  WheelVertical{2}, WheelVertical{-1}, WheelHorizontal{-1}, WheelHorizontal{3},
                  WheelVertical{-2147483647 - 1}, WheelHorizontal{2147483647}},
                 queue),
            std::nullopt);
  EXPECT_THAT(
      queue.calls,
      ElementsAre(ElementsAre(mouse(0x0002)), ElementsAre(mouse(0x0004)), ElementsAre(mouse(0x0008)),
                  ElementsAre(mouse(0x0010)), ElementsAre(mouse(0x0020)), ElementsAre(mouse(0x0040)),
                  ElementsAre(mouse(MOUSEEVENTF_WHEEL, static_cast<std::uint32_t>(-240))),
                  ElementsAre(mouse(MOUSEEVENTF_WHEEL, 120)),
                  ElementsAre(mouse(MOUSEEVENTF_HWHEEL, static_cast<std::uint32_t>(-120))),
                  ElementsAre(mouse(MOUSEEVENTF_HWHEEL, 360)),
                  // 32-bit products wrap: -2^31 * -120 and (2^31 - 1) * 120.
                  ElementsAre(mouse(MOUSEEVENTF_WHEEL, 0)), ElementsAre(mouse(MOUSEEVENTF_HWHEEL, 0xFFFFFF88u))));
}

TEST(Player, SleepMakesNoCall) {
  RecordingInputQueue queue;
  EXPECT_EQ(play({SleepMs{10}, SleepMs{0}}, queue), std::nullopt);
  EXPECT_THAT(queue.log, ElementsAre("sleep 10", "sleep 0"));
}

TEST(Normalize, RoundsHalfAwayFromZero) {
  EXPECT_EQ(normalize_absolute(1919, 1920), 65535);
  EXPECT_EQ(normalize_absolute(0, 1920), 0);
  EXPECT_EQ(normalize_absolute(960, 1920), 32785);
  EXPECT_EQ(normalize_absolute(-10, 1920), -342);
  EXPECT_EQ(normalize_absolute(1079, 1080), 65535);
  EXPECT_EQ(normalize_absolute(1, 2), 65535);
  EXPECT_EQ(normalize_absolute(-1, 2), -65535);
  // 1 * 65535 / 2 = 32767.5 rounds away from zero either side.
  EXPECT_EQ(normalize_absolute(1, 3), 32768);
  EXPECT_EQ(normalize_absolute(-1, 3), -32768);
  // Far off-screen points keep only the low 32 bits of the result.
  EXPECT_EQ(normalize_absolute(2147483647, 2), static_cast<std::int32_t>(0x7FFF0001u));
  EXPECT_EQ(normalize_absolute(2147483647, 1920), 323409437);
}

TEST(Player, MoveSendsAbsoluteEventAndWaitsForThePointer) {
  RecordingInputQueue queue;
  EXPECT_EQ(play({MouseMove{960, 540}, ButtonDown{MouseButton::Left}}, queue), std::nullopt);
  EXPECT_THAT(queue.calls, ElementsAre(ElementsAre(InputEvent::mouse(32785, normalize_absolute(540, 1080), 0, 0x8001)),
                                       ElementsAre(mouse(MOUSEEVENTF_LEFTDOWN))));
  EXPECT_THAT(queue.log, ElementsAre("width", "height", "send 1", "cursor", "send 1"));
}

TEST(Player, PointerArrivalIsWaitedForAtMostOneHundredChecks) {
  RecordingInputQueue late;
  late.pointer_follows_moves = false;
  late.pointer_script = {std::nullopt, ScreenPoint{0, 0}, ScreenPoint{497, 300}, ScreenPoint{502, 298}};
  EXPECT_EQ(play({MouseMove{500, 300}}, late), std::nullopt);
  EXPECT_EQ(late.count("cursor"), 4);
  EXPECT_EQ(late.count("sleep 1"), 3);

  RecordingInputQueue never;
  never.pointer_follows_moves = false;
  never.pointer = ScreenPoint{-2147483647 - 1, 2147483647};  // distances must not overflow
  EXPECT_EQ(play({MouseMove{2147483647, -2147483647 - 1}, ButtonUp{MouseButton::Right}}, never), std::nullopt);
  EXPECT_EQ(never.count("cursor"), 100);
  EXPECT_EQ(never.count("sleep 1"), 99);
  EXPECT_EQ(never.calls.size(), 2u);  // not arriving is not an error
}

TEST(Player, MoveWithoutScreenSizeFails) {
  for (auto [w, h] : {std::pair{0, 1080}, std::pair{1920, 0}, std::pair{1, 1080}, std::pair{1920, 1}}) {
    RecordingInputQueue queue;
    queue.width = w;
    queue.height = h;
    EXPECT_EQ(play({ModifierDown{Modifier::Ctrl}, MouseMove{10, 20}, ButtonDown{MouseButton::Left}}, queue),
              "input_failed: MouseMove(10, 20): simulating input failed: (could not get the dimensions of the screen)");
    EXPECT_THAT(queue.calls, ElementsAre(ElementsAre(vk_down(VK_CONTROL)), ElementsAre(vk_up(VK_CONTROL))));
  }
}

TEST(Player, RejectedMoveDoesNotWait) {
  RecordingInputQueue queue;
  queue.inserted_on_call[0] = 0;
  EXPECT_EQ(play({MouseMove{1, 2}}, queue), "input_failed: MouseMove(1, 2): " + NOT_ALL_SENT);
  EXPECT_EQ(queue.count("cursor"), 0);
}

TEST(Player, MegabyteOfTextIsOneCall) {
  RecordingInputQueue queue;
  std::string text;
  for (int i = 0; i < (1 << 20) / 8; ++i) text += "abc\ndef😀";  // 11 bytes; close enough to 1 MB
  EXPECT_EQ(play({TypeText{text}}, queue), std::nullopt);
  ASSERT_EQ(queue.calls.size(), 1u);
  // Per repetition: 6 ASCII letters x2, line feed x4 (Enter + itself), emoji x4.
  EXPECT_EQ(queue.calls[0].size(), static_cast<std::size_t>((1 << 20) / 8) * 20);
}

}  // namespace
}  // namespace quorvane::input
