// The key-sequence language of send_text and the action lists every input method plays.
//
// A sequence mixes literal text with ${...} tokens naming key combinations, for example
// Hello${KEY_ENTER} or ${KEY_CTRL+KEY_A}. Parsing is pure and complete before anything
// is played, so a sequence with an error anywhere in it injects nothing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/result.h"

namespace quorvane::input {

enum class Modifier : std::uint8_t { Ctrl, Alt, Shift, Meta };

enum class MouseButton : std::uint8_t { Left, Right, Middle };

// The non-modifier keys. `F`, `Digit` and `Letter` carry a value: the function key
// number (1-15), the digit (0-9) or the lower-case ASCII letter's code ('a'-'z').
struct Key {
  enum class Kind : std::uint8_t {
    Up,
    Right,
    Down,
    Left,
    PageUp,
    PageDown,
    Backspace,
    Delete,
    Enter,
    Tab,
    Escape,
    Home,
    Space,
    End,
    F,
    Digit,
    Letter,
    Comma,
    Period,
    Semicolon,
    Minus,
  };

  Kind kind;
  std::uint8_t value = 0;

  static constexpr Key of(Kind kind) { return Key{kind, 0}; }
  static constexpr Key function(std::uint8_t n) { return Key{Kind::F, n}; }
  static constexpr Key digit(std::uint8_t d) { return Key{Kind::Digit, d}; }
  static constexpr Key letter(char lower) { return Key{Kind::Letter, static_cast<std::uint8_t>(lower)}; }

  bool operator==(const Key&) const = default;
};

struct MouseMove {
  std::int32_t x;
  std::int32_t y;
  bool operator==(const MouseMove&) const = default;
};
struct ButtonDown {
  MouseButton button;
  bool operator==(const ButtonDown&) const = default;
};
struct ButtonUp {
  MouseButton button;
  bool operator==(const ButtonUp&) const = default;
};
struct ModifierDown {
  Modifier modifier;
  bool operator==(const ModifierDown&) const = default;
};
struct ModifierUp {
  Modifier modifier;
  bool operator==(const ModifierUp&) const = default;
};
struct KeyTap {
  Key key;
  bool operator==(const KeyTap&) const = default;
};
struct TypeText {
  std::string text;  // UTF-8
  bool operator==(const TypeText&) const = default;
};
struct WheelVertical {
  std::int32_t notches;
  bool operator==(const WheelVertical&) const = default;
};
struct WheelHorizontal {
  std::int32_t notches;
  bool operator==(const WheelHorizontal&) const = default;
};
struct SleepMs {
  std::uint64_t milliseconds;
  bool operator==(const SleepMs&) const = default;
};

using InputAction = std::variant<MouseMove, ButtonDown, ButtonUp, ModifierDown, ModifierUp, KeyTap, TypeText,
                                 WheelVertical, WheelHorizontal, SleepMs>;
using ActionList = std::vector<InputAction>;

// Either the compiled action list or one "bad_key: ..." message.
using KeySequence = Result<ActionList>;

KeySequence parse_key_sequence(std::string_view text);

// Variant names as written in action texts: "Ctrl", "Left", "PageUp", ...
std::string_view modifier_name(Modifier modifier);
std::string_view mouse_button_name(MouseButton button);
std::string key_text(const Key& key);  // "Enter", "F(5)", "Letter(97)"

// The text form of an action inside "input_failed: ..." messages, e.g. MouseMove(100, -20),
// KeyTap(F(5)) or TypeText("a\"b\n").
std::string action_text(const InputAction& action);

}  // namespace quorvane::input
