#include "input/injection.h"

#include "common/params.h"
#include "input/errors.h"

#ifdef _WIN32
#include "input/system_input_queue.h"
#endif

#include <limits>

namespace quorvane::input {

namespace {

std::int32_t low_32_bits(std::int64_t value) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(value)));
}

HandlerResult play(const ActionList& actions, InputQueue& queue) {
  if (Result<void> played = play_actions(actions, queue); !played.ok()) return std::move(played).failure();
  return json(true);
}

}  // namespace

Result<std::int64_t> read_integer_param(const json& params, std::string_view name) {
  const json* value = find_param(params, name);
  if (value != nullptr) {
    if (value->is_number_unsigned()) {
      const std::uint64_t u = value->get<std::uint64_t>();
      constexpr auto max = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
      return static_cast<std::int64_t>(u > max ? max : u);
    }
    if (value->is_number_integer()) return value->get<std::int64_t>();
    if (value->is_number_float()) return truncate_to_i64(value->get<double>());
  }
  return fail(errors::missing_numeric_param(name));
}

ActionList mouse_event_actions(int type, MouseButton button, std::int32_t x, std::int32_t y) {
  ActionList actions{MouseMove{x, y}};
  const auto click = [&] {
    actions.emplace_back(ButtonDown{button});
    actions.emplace_back(ButtonUp{button});
  };
  const auto click_with = [&](Modifier modifier) {
    actions.emplace_back(ModifierDown{modifier});
    click();
    actions.emplace_back(ModifierUp{modifier});
  };
  switch (type) {
    case 1:
      actions.emplace_back(ButtonDown{button});
      break;
    case 2:
      actions.emplace_back(ButtonUp{button});
      break;
    case 3:
      click();
      break;
    case 4:
      click();
      actions.emplace_back(SleepMs{10});
      click();
      break;
    case 5:
      click_with(Modifier::Ctrl);
      break;
    case 6:
      click_with(Modifier::Shift);
      break;
    case 7:
      click(), click(), click();
      break;
    default:
      break;
  }
  return actions;
}

HandlerResult send_text(const json& params, InputQueue& queue) {
  const auto text = string_param(params, "text");
  if (!text) return fail(errors::kMissingText);
  KeySequence sequence = parse_key_sequence(*text);
  if (!sequence.ok()) return fail(sequence.error());
  return play(sequence.value(), queue);
}

HandlerResult send_mouse_event(const json& params, InputQueue& queue) {
  const Result<std::int64_t> type = read_integer_param(params, "type");
  if (!type.ok()) return type.failure();
  const std::int64_t t = *type;
  if (t < 0) return fail(errors::out_of_range("type"));
  if (t >= 8) return fail(errors::unknown_mouse_event_type(t));

  const Result<std::int64_t> button = read_integer_param(params, "button");
  if (!button.ok()) return button.failure();
  const std::int64_t b = *button;
  if (b < 0) return fail(errors::out_of_range("button"));
  if (b >= 3) return fail(errors::unknown_mouse_button(b));

  const Result<std::int64_t> x = read_integer_param(params, "x");
  if (!x.ok()) return x.failure();
  const Result<std::int64_t> y = read_integer_param(params, "y");
  if (!y.ok()) return y.failure();

  return play(mouse_event_actions(static_cast<int>(t), static_cast<MouseButton>(b), low_32_bits(*x), low_32_bits(*y)),
              queue);
}

HandlerResult send_mouse_wheel_event(const json& params, InputQueue& queue) {
  const Result<std::int64_t> dx = read_integer_param(params, "deltaX");
  if (!dx.ok()) return dx.failure();
  const Result<std::int64_t> dy = read_integer_param(params, "deltaY");
  if (!dy.ok()) return dy.failure();

  // deltaX turns the vertical wheel and deltaY the horizontal one: that is the protocol.
  ActionList actions;
  if (const std::int32_t notches = low_32_bits(*dx); notches != 0) {
    actions.emplace_back(WheelVertical{notches});
  }
  if (const std::int32_t notches = low_32_bits(*dy); notches != 0) {
    actions.emplace_back(WheelHorizontal{notches});
  }
  return play(actions, queue);
}

#ifdef _WIN32
HandlerResult send_text(std::string_view, const json& params) {
  SystemInputQueue queue;
  return send_text(params, queue);
}

HandlerResult send_mouse_event(std::string_view, const json& params) {
  SystemInputQueue queue;
  return send_mouse_event(params, queue);
}

HandlerResult send_mouse_wheel_event(std::string_view, const json& params) {
  SystemInputQueue queue;
  return send_mouse_wheel_event(params, queue);
}
#endif

}  // namespace quorvane::input
