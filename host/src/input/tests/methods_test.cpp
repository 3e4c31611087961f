#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "input/injection.h"
#include "input/permissions.h"
#include "recording_input_queue.h"

namespace quorvane::input {
namespace {

using namespace input_flags;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::RecordingInputQueue;

constexpr std::int64_t I64_MAX = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t I64_MIN = std::numeric_limits<std::int64_t>::min();

Result<std::int64_t> read(const json& value) { return read_integer_param({{"n", value}}, "n"); }

TEST(ReadIntegerParam, SaturatesAndTruncates) {
  EXPECT_EQ(*read(5), 5);
  EXPECT_EQ(*read(-7), -7);
  EXPECT_EQ(*read(std::numeric_limits<std::uint64_t>::max()), I64_MAX);
  EXPECT_EQ(*read(std::uint64_t{1} << 63), I64_MAX);
  EXPECT_EQ(*read(I64_MIN), I64_MIN);
  EXPECT_EQ(*read(1.9), 1);
  EXPECT_EQ(*read(-1.9), -1);
  EXPECT_EQ(*read(-0.5), 0);
  EXPECT_EQ(*read(1e300), I64_MAX);
  EXPECT_EQ(*read(-1e300), I64_MIN);
  EXPECT_EQ(*read(9.3e18), I64_MAX);
}

TEST(ReadIntegerParam, AnythingButANumberIsMissing) {
  const std::string missing = "bad_params: missing or non-numeric 'n'";
  for (const json& value : {json("3"), json(true), json(nullptr), json::array({1}), json::object({{"n", 1}})}) {
    EXPECT_EQ(read(value).error(), missing) << value.dump();
  }
  EXPECT_EQ(read_integer_param(json::object(), "n").error(), missing);
  EXPECT_EQ(read_integer_param(json::array({1}), "n").error(), missing);
  EXPECT_EQ(read_integer_param(json(nullptr), "n").error(), missing);
}

HandlerResult mouse_event(const json& params, RecordingInputQueue& queue) { return send_mouse_event(params, queue); }

std::string error_of(const HandlerResult& result) { return result.ok() ? "<ok>" : result.error(); }

TEST(SendMouseEvent, ParametersAreCheckedInOrder) {
  RecordingInputQueue queue;
  const json all{{"type", 3}, {"button", 0}, {"x", 1}, {"y", 2}};
  const auto without = [&](const char* name) {
    json p = all;
    p.erase(name);
    return p;
  };
  const auto with = [&](const char* name, json value) {
    json p = all;
    p[name] = std::move(value);
    return p;
  };
  EXPECT_EQ(error_of(mouse_event(json(nullptr), queue)), "bad_params: missing or non-numeric 'type'");
  EXPECT_EQ(error_of(mouse_event(without("type"), queue)), "bad_params: missing or non-numeric 'type'");
  EXPECT_EQ(error_of(mouse_event(with("type", -1), queue)), "bad_params: 'type' out of range");
  EXPECT_EQ(error_of(mouse_event(with("type", 9), queue)), "bad_params: unknown mouse event type 9");
  EXPECT_EQ(error_of(mouse_event(with("type", 8.5), queue)), "bad_params: unknown mouse event type 8");
  EXPECT_EQ(error_of(mouse_event(with("type", 1e30), queue)),
            "bad_params: unknown mouse event type 9223372036854775807");
  EXPECT_EQ(error_of(mouse_event(json{{"type", 9}}, queue)), "bad_params: unknown mouse event type 9");
  EXPECT_EQ(error_of(mouse_event(json{{"type", 0}, {"x", 1}, {"y", 2}}, queue)),
            "bad_params: missing or non-numeric 'button'");
  EXPECT_EQ(error_of(mouse_event(with("button", 3), queue)), "bad_params: unknown mouse button 3");
  EXPECT_EQ(error_of(mouse_event(with("button", -2), queue)), "bad_params: 'button' out of range");
  EXPECT_EQ(error_of(mouse_event(json{{"type", 1}, {"button", 7}}, queue)), "bad_params: unknown mouse button 7");
  EXPECT_EQ(error_of(mouse_event(with("x", "5"), queue)), "bad_params: missing or non-numeric 'x'");
  EXPECT_EQ(error_of(mouse_event(json{{"type", 1}, {"button", 1}}, queue)), "bad_params: missing or non-numeric 'x'");
  EXPECT_EQ(error_of(mouse_event(without("y"), queue)), "bad_params: missing or non-numeric 'y'");
  EXPECT_THAT(queue.log, IsEmpty());
}

// The platform events of a whole send_mouse_event, with the move left out.
std::vector<std::vector<InputEvent>> clicks_of(int type, int button) {
  RecordingInputQueue queue;
  const HandlerResult result =
      send_mouse_event(json{{"type", type}, {"button", button}, {"x", 500}, {"y", 300}}, queue);
  EXPECT_TRUE(result.ok() && result.value() == true) << error_of(result);
  EXPECT_FALSE(queue.calls.empty());
  EXPECT_EQ(queue.calls[0],
            std::vector{InputEvent::mouse(normalize_absolute(500, 1920), normalize_absolute(300, 1080), 0, 0x8001)});
  return {queue.calls.begin() + 1, queue.calls.end()};
}

TEST(SendMouseEvent, EveryTypeMovesFirst) {
  const auto m = [](std::uint32_t flags) { return std::vector{InputEvent::mouse(0, 0, 0, flags)}; };
  const auto key = [](std::uint16_t vk, bool up) {
    return std::vector{InputEvent::key(vk, RecordingInputQueue::scan_for(vk), up ? KEYEVENTF_KEYUP : 0)};
  };
  EXPECT_THAT(clicks_of(0, 2), IsEmpty());
  EXPECT_THAT(clicks_of(1, 1), ElementsAre(m(MOUSEEVENTF_RIGHTDOWN)));
  EXPECT_THAT(clicks_of(2, 2), ElementsAre(m(MOUSEEVENTF_MIDDLEUP)));
  EXPECT_THAT(clicks_of(3, 0), ElementsAre(m(MOUSEEVENTF_LEFTDOWN), m(MOUSEEVENTF_LEFTUP)));
  EXPECT_THAT(clicks_of(4, 0), ElementsAre(m(MOUSEEVENTF_LEFTDOWN), m(MOUSEEVENTF_LEFTUP), m(MOUSEEVENTF_LEFTDOWN),
                                           m(MOUSEEVENTF_LEFTUP)));
  EXPECT_THAT(clicks_of(5, 0),
              ElementsAre(key(0x11, false), m(MOUSEEVENTF_LEFTDOWN), m(MOUSEEVENTF_LEFTUP), key(0x11, true)));
  EXPECT_THAT(clicks_of(6, 1),
              ElementsAre(key(0x10, false), m(MOUSEEVENTF_RIGHTDOWN), m(MOUSEEVENTF_RIGHTUP), key(0x10, true)));
  EXPECT_THAT(clicks_of(7, 0), ElementsAre(m(MOUSEEVENTF_LEFTDOWN), m(MOUSEEVENTF_LEFTUP), m(MOUSEEVENTF_LEFTDOWN),
                                           m(MOUSEEVENTF_LEFTUP), m(MOUSEEVENTF_LEFTDOWN), m(MOUSEEVENTF_LEFTUP)));

  EXPECT_THAT(mouse_event_actions(4, MouseButton::Left, 1, 2),
              ElementsAre(InputAction{MouseMove{1, 2}}, InputAction{ButtonDown{MouseButton::Left}},
                          InputAction{ButtonUp{MouseButton::Left}}, InputAction{SleepMs{10}},
                          InputAction{ButtonDown{MouseButton::Left}}, InputAction{ButtonUp{MouseButton::Left}}));
}

TEST(SendMouseEvent, TypeIsTruncatedAndCoordinatesKeepLow32Bits) {
  RecordingInputQueue queue;
  queue.pointer_follows_moves = false;
  queue.inserted_on_call[0] = 0;  // fail the move so the error shows the coordinates used
  EXPECT_EQ(
      error_of(mouse_event(json{{"type", 1.9}, {"button", 0}, {"x", 4294967296LL + 5}, {"y", 2147483648LL}}, queue)),
      "input_failed: MouseMove(5, -2147483648): simulating input failed: (not all input events were sent. they "
      "may have been blocked by UIPI)");
  EXPECT_EQ(error_of(mouse_event(json{{"type", 0}, {"button", 0}, {"x", -1e300}, {"y", 1e300}}, queue)),
            "<ok>");  // saturated to the 64-bit limits, whose low 32 bits are 0 and -1
  EXPECT_EQ(queue.calls[1][0].dx, 0);
  EXPECT_EQ(queue.calls[1][0].dy, normalize_absolute(-1, 1080));
}

TEST(SendMouseEvent, CtrlIsReleasedWhenTheClickFails) {
  RecordingInputQueue queue;
  queue.inserted_on_call[3] = 0;  // move, Ctrl down, left down, left up <- rejected
  EXPECT_EQ(error_of(mouse_event(json{{"type", 5}, {"button", 0}, {"x", 1}, {"y", 1}}, queue)),
            "input_failed: ButtonUp(Left): simulating input failed: (not all input events were sent. they may have "
            "been blocked by UIPI)");
  ASSERT_EQ(queue.calls.size(), 5u);
  EXPECT_EQ(queue.calls[4], std::vector{InputEvent::key(0x11, RecordingInputQueue::scan_for(0x11), KEYEVENTF_KEYUP)});
}

TEST(SendMouseWheelEvent, DeltaXTurnsTheVerticalWheel) {
  const auto wheel = [](const json& params) {
    RecordingInputQueue queue;
    const HandlerResult result = send_mouse_wheel_event(params, queue);
    EXPECT_TRUE(result.ok()) << error_of(result);
    return queue.calls;
  };
  EXPECT_THAT(wheel(json{{"deltaX", 0}, {"deltaY", 0}}), IsEmpty());
  EXPECT_THAT(wheel(json{{"deltaX", 4294967296LL}, {"deltaY", 0.7}}), IsEmpty());
  EXPECT_THAT(wheel(json{{"deltaX", 2}, {"deltaY", 0}}),
              ElementsAre(ElementsAre(InputEvent::mouse(0, 0, static_cast<std::uint32_t>(-240), MOUSEEVENTF_WHEEL))));
  EXPECT_THAT(wheel(json{{"deltaX", 0}, {"deltaY", -1}}),
              ElementsAre(ElementsAre(InputEvent::mouse(0, 0, static_cast<std::uint32_t>(-120), MOUSEEVENTF_HWHEEL))));
  EXPECT_THAT(wheel(json{{"deltaX", -1}, {"deltaY", 1}}),
              ElementsAre(ElementsAre(InputEvent::mouse(0, 0, 120, MOUSEEVENTF_WHEEL)),
                          ElementsAre(InputEvent::mouse(0, 0, 120, MOUSEEVENTF_HWHEEL))));

  RecordingInputQueue queue;
  EXPECT_EQ(error_of(send_mouse_wheel_event(json{{"deltaY", 1}}, queue)),
            "bad_params: missing or non-numeric 'deltaX'");
  EXPECT_EQ(error_of(send_mouse_wheel_event(json{{"deltaX", 1}, {"deltaY", false}}, queue)),
            "bad_params: missing or non-numeric 'deltaY'");
  EXPECT_THAT(queue.log, IsEmpty());
}

TEST(SendText, ParsesThenPlays) {
  RecordingInputQueue queue;
  for (const json& params : {json(nullptr), json::array({"x"}), json{{"text", 5}}, json{{"Text", "x"}}}) {
    EXPECT_EQ(error_of(send_text(params, queue)), "bad_params: missing 'text'");
  }
  EXPECT_EQ(error_of(send_text(json{{"text", "abc${KEY_ENTER}${KEY_CTRL+KEY_CTRL}"}}, queue)),
            "bad_key: duplicate modifier in '${KEY_CTRL+KEY_CTRL}'");
  EXPECT_THAT(queue.log, IsEmpty());

  const HandlerResult empty = send_text(json{{"text", ""}}, queue);
  ASSERT_TRUE(empty.ok());
  EXPECT_EQ(empty.value(), true);
  EXPECT_THAT(queue.log, IsEmpty());

  const HandlerResult typed = send_text(json{{"text", "Hi${KEY_ENTER}"}}, queue);
  ASSERT_TRUE(typed.ok()) << typed.error();
  EXPECT_EQ(typed.value(), true);
  EXPECT_EQ(queue.calls.size(), 2u);
}

TEST(SendText, ThousandsOfCombosNeverLeaveAModifierDown) {
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "${KEY_CTRL+KEY_SHIFT+KEY_END}z";
  RecordingInputQueue queue;
  queue.inserted_on_call[6001] = 0;  // six calls per repetition: the Shift-down of the 1001st
  EXPECT_EQ(error_of(send_text(json{{"text", text}}, queue)),
            "input_failed: ModifierDown(Shift): simulating input failed: (not all input events were sent. they may "
            "have been blocked by UIPI)");
  int ctrl = 0, shift = 0;
  for (const auto& call : queue.calls) {
    for (const InputEvent& e : call) {
      const int step = (e.flags & KEYEVENTF_KEYUP) ? -1 : 1;
      if (e.vk == 0x11) ctrl += step;
      if (e.vk == 0x10) shift += step;
    }
  }
  EXPECT_EQ(ctrl, 0);
  EXPECT_EQ(shift, 0);
}

TEST(Permissions, FixedAnswers) {
  for (const json& params : {json(nullptr), json::object(), json::array(), json{{"kind", 1}}}) {
    const HandlerResult status = get_permission_status("get_permission_status", params);
    ASSERT_TRUE(status.ok());
    EXPECT_EQ(status.value().dump(), R"({"accessibility":true,"screenRecording":true})");
  }
  const HandlerResult camera = request_permission("request_permission", json{{"kind", "camera"}});
  ASSERT_TRUE(camera.ok());
  EXPECT_EQ(camera.value().dump(), R"({"granted":true,"kind":"camera"})");
  const HandlerResult empty = request_permission("request_permission", json{{"kind", ""}});
  ASSERT_TRUE(empty.ok());
  EXPECT_EQ(empty.value().dump(), R"({"granted":true,"kind":""})");
  const HandlerResult pane = open_permission_pane("open_permission_pane", json{{"kind", "accessibility"}});
  ASSERT_TRUE(pane.ok());
  EXPECT_EQ(pane.value(), false);

  const std::string missing = "bad_params: missing 'kind' (accessibility | screenRecording)";
  for (const json& params : {json(nullptr), json("kind"), json::object(), json{{"kind", 1}}, json{{"kind", nullptr}},
                             json{{"kind", false}}, json{{"kind", json::array()}}, json{{"kind", json::object()}}}) {
    EXPECT_EQ(error_of(request_permission("request_permission", params)), missing) << params.dump();
    EXPECT_EQ(error_of(open_permission_pane("open_permission_pane", params)), missing) << params.dump();
  }
}

}  // namespace
}  // namespace quorvane::input
