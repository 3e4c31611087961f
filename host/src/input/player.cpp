#include "input/player.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "common/utf.h"
#include "input/errors.h"

namespace quorvane::input {

namespace {

using namespace input_flags;

constexpr std::int64_t ABSOLUTE_RANGE = 65535;
constexpr std::uint32_t WHEEL_STEP = 120;
constexpr std::int64_t ARRIVAL_TOLERANCE = 2;
constexpr int ARRIVAL_CHECKS = 100;

constexpr std::uint16_t VK_BACK = 0x08;
constexpr std::uint16_t VK_TAB = 0x09;
constexpr std::uint16_t VK_RETURN = 0x0D;
constexpr std::uint16_t VK_SHIFT = 0x10;
constexpr std::uint16_t VK_CONTROL = 0x11;
constexpr std::uint16_t VK_MENU = 0x12;
constexpr std::uint16_t VK_ESCAPE = 0x1B;
constexpr std::uint16_t VK_SPACE = 0x20;
constexpr std::uint16_t VK_PRIOR = 0x21;
constexpr std::uint16_t VK_NEXT = 0x22;
constexpr std::uint16_t VK_END = 0x23;
constexpr std::uint16_t VK_HOME = 0x24;
constexpr std::uint16_t VK_LEFT = 0x25;
constexpr std::uint16_t VK_UP = 0x26;
constexpr std::uint16_t VK_RIGHT = 0x27;
constexpr std::uint16_t VK_DOWN = 0x28;
constexpr std::uint16_t VK_DELETE = 0x2E;
constexpr std::uint16_t VK_LWIN = 0x5B;
constexpr std::uint16_t VK_F1 = 0x70;

bool is_extended(std::uint32_t vk) {
  switch (vk) {
    case VK_UP:
    case VK_RIGHT:
    case VK_DOWN:
    case VK_LEFT:
    case VK_PRIOR:
    case VK_NEXT:
    case VK_HOME:
    case VK_END:
    case VK_DELETE:
      return true;
    default:
      return false;
  }
}

std::uint16_t modifier_vk(Modifier modifier) {
  switch (modifier) {
    case Modifier::Ctrl:
      return VK_CONTROL;
    case Modifier::Alt:
      return VK_MENU;
    case Modifier::Shift:
      return VK_SHIFT;
    case Modifier::Meta:
      return VK_LWIN;
  }
  return 0;
}

// The fixed virtual key of `key`, or 0 for the keys typed through the layout.
std::uint16_t fixed_vk(const Key& key) {
  using K = Key::Kind;
  switch (key.kind) {
    case K::Up:
      return VK_UP;
    case K::Right:
      return VK_RIGHT;
    case K::Down:
      return VK_DOWN;
    case K::Left:
      return VK_LEFT;
    case K::PageUp:
      return VK_PRIOR;
    case K::PageDown:
      return VK_NEXT;
    case K::Home:
      return VK_HOME;
    case K::End:
      return VK_END;
    case K::Delete:
      return VK_DELETE;
    case K::Backspace:
      return VK_BACK;
    case K::Enter:
      return VK_RETURN;
    case K::Tab:
      return VK_TAB;
    case K::Escape:
      return VK_ESCAPE;
    case K::Space:
      return VK_SPACE;
    case K::F:
      return static_cast<std::uint16_t>(VK_F1 + key.value - 1);
    default:
      return 0;
  }
}

char16_t layout_character(const Key& key) {
  using K = Key::Kind;
  switch (key.kind) {
    case K::Digit:
      return static_cast<char16_t>(u'0' + key.value);
    case K::Letter:
      return static_cast<char16_t>(key.value);
    case K::Comma:
      return u',';
    case K::Period:
      return u'.';
    case K::Semicolon:
      return u';';
    default:
      return u'-';
  }
}

InputEvent vk_event(std::uint16_t vk, KeyboardLayout layout, bool up, InputQueue& queue) {
  std::uint32_t flags = is_extended(vk) ? KEYEVENTF_EXTENDEDKEY : 0;
  if (up) flags |= KEYEVENTF_KEYUP;
  return InputEvent::key(vk, static_cast<std::uint16_t>(queue.scan_code_of(vk, layout)), flags);
}

// One Unicode character (one UTF-16 unit or a surrogate pair) as key-down/key-up pairs.
// Each unit's key-up names the same unit as its key-down, so no half of a pair is left
// looking pressed to anything that tracks key state.
void append_unicode(std::vector<InputEvent>& events, std::u16string_view character) {
  for (char16_t unit : character) {
    events.push_back(InputEvent::key(0, unit, KEYEVENTF_UNICODE));
    events.push_back(InputEvent::key(0, unit, KEYEVENTF_UNICODE | KEYEVENTF_KEYUP));
  }
}

bool is_high_surrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

class Player {
 public:
  explicit Player(InputQueue& queue) : queue_(queue) {}

  Result<void> play(std::span<const InputAction> actions) {
    Result<void> outcome;
    for (const InputAction& action : actions) {
      if (Outcome ran = std::visit([this](const auto& a) { return run(a); }, action); !ran.ok()) {
        outcome = fail(errors::input_failed(action_text(action), ran.error()));
        break;
      }
    }
    release_held_modifiers();
    return outcome;
  }

 private:
  using Outcome = Result<void, std::string_view>;

  Outcome send(std::span<const InputEvent> events) {
    if (queue_.send(events) < events.size()) return fail(errors::kNotAllSent);
    return {};
  }
  Outcome send(const InputEvent& event) { return send(std::span<const InputEvent>(&event, 1)); }

  Outcome run(const MouseMove& a) {
    const std::int32_t width = queue_.primary_screen_width();
    const std::int32_t height = queue_.primary_screen_height();
    // A 1-pixel monitor would divide by zero below; it is as unusable as an unknown size.
    if (width < 2 || height < 2) return fail(errors::kScreenSizeFailed);
    const InputEvent move = InputEvent::mouse(normalize_absolute(a.x, width), normalize_absolute(a.y, height), 0,
                                              MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE);
    if (Outcome sent = send(move); !sent.ok()) return sent;
    // Later clicks must land where the pointer was sent, and the move is processed
    // asynchronously, so give it a moment to arrive. Not arriving is not an error.
    for (int check = 0; check < ARRIVAL_CHECKS; ++check) {
      if (const auto at = queue_.cursor_position()) {
        if (std::llabs(std::int64_t{at->x} - a.x) <= ARRIVAL_TOLERANCE &&
            std::llabs(std::int64_t{at->y} - a.y) <= ARRIVAL_TOLERANCE) {
          break;
        }
      }
      if (check + 1 < ARRIVAL_CHECKS) queue_.sleep_ms(1);
    }
    return {};
  }

  Outcome run(const ButtonDown& a) { return send(InputEvent::mouse(0, 0, 0, button_flags(a.button, true))); }
  Outcome run(const ButtonUp& a) { return send(InputEvent::mouse(0, 0, 0, button_flags(a.button, false))); }

  Outcome run(const ModifierDown& a) {
    // Counted as held before sending: if the key-down partly took effect, the release at
    // the end of the list must still happen.
    if (std::find(held_.begin(), held_.end(), a.modifier) == held_.end()) held_.push_back(a.modifier);
    const KeyboardLayout layout = queue_.foreground_keyboard_layout();
    return send(vk_event(modifier_vk(a.modifier), layout, false, queue_));
  }

  Outcome run(const ModifierUp& a) {
    const KeyboardLayout layout = queue_.foreground_keyboard_layout();
    if (Outcome sent = send(vk_event(modifier_vk(a.modifier), layout, true, queue_)); !sent.ok()) return sent;
    std::erase(held_, a.modifier);
    return {};
  }

  Outcome run(const KeyTap& a) {
    const KeyboardLayout layout = queue_.foreground_keyboard_layout();
    std::vector<InputEvent> events;
    if (const std::uint16_t vk = fixed_vk(a.key)) {
      events = {vk_event(vk, layout, false, queue_), vk_event(vk, layout, true, queue_)};
    } else {
      const char16_t character = layout_character(a.key);
      const std::int16_t found = queue_.vk_key_scan(character, layout);
      if (found == -1) {
        append_unicode(events, std::u16string_view(&character, 1));
      } else {
        // The whole value, shift state included, is what the layout reported; the shift
        // state itself is not pressed.
        const auto value = static_cast<std::uint16_t>(found);
        const auto scan = static_cast<std::uint16_t>(queue_.scan_code_of(value, layout));
        const std::uint32_t flags = KEYEVENTF_SCANCODE | (is_extended(value) ? KEYEVENTF_EXTENDEDKEY : 0);
        events = {InputEvent::key(value, scan, flags), InputEvent::key(value, scan, flags | KEYEVENTF_KEYUP)};
      }
    }
    return send(events);
  }

  Outcome run(const TypeText& a) {
    const std::u16string text = utf8_to_utf16(a.text);
    if (text.find(u'\0') != std::u16string::npos) return fail(errors::kNullInText);

    std::optional<KeyboardLayout> layout;
    std::vector<InputEvent> events;
    events.reserve(text.size() * 2);
    for (std::size_t i = 0; i < text.size();) {
      const std::size_t units =
          is_high_surrogate(text[i]) && i + 1 < text.size() && is_low_surrogate(text[i + 1]) ? 2 : 1;
      const char16_t first = text[i];
      if (first == u'\n' || first == u'\t') {
        if (!layout) layout = queue_.foreground_keyboard_layout();
        const std::uint16_t vk = first == u'\n' ? VK_RETURN : VK_TAB;
        events.push_back(vk_event(vk, *layout, false, queue_));
        events.push_back(vk_event(vk, *layout, true, queue_));
      }
      append_unicode(events, std::u16string_view(text).substr(i, units));
      i += units;
    }
    return send(events);
  }

  Outcome run(const WheelVertical& a) {
    // A positive notch count turns the wheel toward the user: a negative delta.
    const std::uint32_t data = static_cast<std::uint32_t>(a.notches) * (0u - WHEEL_STEP);
    return send(InputEvent::mouse(0, 0, data, MOUSEEVENTF_WHEEL));
  }

  Outcome run(const WheelHorizontal& a) {
    const std::uint32_t data = static_cast<std::uint32_t>(a.notches) * WHEEL_STEP;
    return send(InputEvent::mouse(0, 0, data, MOUSEEVENTF_HWHEEL));
  }

  Outcome run(const SleepMs& a) {
    queue_.sleep_ms(a.milliseconds);
    return {};
  }

  static std::uint32_t button_flags(MouseButton button, bool down) {
    switch (button) {
      case MouseButton::Left:
        return down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
      case MouseButton::Right:
        return down ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_RIGHTUP;
      case MouseButton::Middle:
        return down ? MOUSEEVENTF_MIDDLEDOWN : MOUSEEVENTF_MIDDLEUP;
    }
    return 0;
  }

  void release_held_modifiers() {
    // Best effort: a release that cannot be sent has nothing better to fall back on, and
    // the list's own outcome is what the caller needs to hear.
    for (Modifier m : held_) {
      const KeyboardLayout layout = queue_.foreground_keyboard_layout();
      (void)send(vk_event(modifier_vk(m), layout, true, queue_));
    }
    held_.clear();
  }

  InputQueue& queue_;
  std::vector<Modifier> held_;  // in the order they were pressed
};

}  // namespace

std::int32_t normalize_absolute(std::int32_t v, std::int32_t extent) {
  const std::int64_t span = std::int64_t{extent} - 1;
  const std::int64_t sign = (v > 0) - (v < 0);
  const std::int64_t n = (std::int64_t{v} * ABSOLUTE_RANGE + sign * (span / 2)) / span;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(n)));
}

Result<void> play_actions(std::span<const InputAction> actions, InputQueue& queue) {
  if (actions.empty()) return {};
  return Player(queue).play(actions);
}

}  // namespace quorvane::input
