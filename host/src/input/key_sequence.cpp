#include "input/key_sequence.h"

#include <array>
#include <optional>
#include <utility>

#include "common/utf.h"
#include "input/errors.h"

namespace quorvane::input {

namespace {

// The Unicode White_Space property.
bool is_white_space(char32_t c) {
  switch (c) {
    case 0x0009:
    case 0x000A:
    case 0x000B:
    case 0x000C:
    case 0x000D:
    case 0x0020:
    case 0x0085:
    case 0x00A0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

std::string_view trim_white_space(std::string_view text) {
  std::size_t first = text.size();
  std::size_t end = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    // Text from requests is valid UTF-8, but a malformed sequence is simply not white space.
    const Utf8Sequence d = utf8_sequence_at(text, pos);
    if (!is_white_space(d.code_point)) {
      if (first == text.size()) first = pos;
      end = pos + d.length;
    }
    pos += d.length;
  }
  if (first == text.size()) return {};
  return text.substr(first, end - first);
}

std::string ascii_upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

std::optional<Modifier> modifier_named(std::string_view name) {
  static constexpr std::pair<std::string_view, Modifier> names[] = {
      {"KEY_CTRL", Modifier::Ctrl},   {"KEY_ALT", Modifier::Alt},   {"KEY_OPTION", Modifier::Alt},
      {"KEY_SHIFT", Modifier::Shift}, {"KEY_META", Modifier::Meta}, {"KEY_WIN", Modifier::Meta},
      {"KEY_CMD", Modifier::Meta},
  };
  for (const auto& [n, m] : names) {
    if (n == name) return m;
  }
  return std::nullopt;
}

std::optional<Key> key_named(std::string_view name) {
  using K = Key::Kind;
  static constexpr std::pair<std::string_view, K> fixed[] = {
      {"KEY_UP", K::Up},
      {"KEY_DOWN", K::Down},
      {"KEY_LEFT", K::Left},
      {"KEY_RIGHT", K::Right},
      {"KEY_PAGE_UP", K::PageUp},
      {"KEY_PGUP", K::PageUp},
      {"KEY_PAGE_DOWN", K::PageDown},
      {"KEY_PGDN", K::PageDown},
      {"KEY_BACKSPACE", K::Backspace},
      {"KEY_BKSP", K::Backspace},
      {"KEY_DELETE", K::Delete},
      {"KEY_DEL", K::Delete},
      {"KEY_ENTER", K::Enter},
      {"KEY_TAB", K::Tab},
      {"KEY_ESCAPE", K::Escape},
      {"KEY_ESC", K::Escape},
      {"KEY_HOME", K::Home},
      {"KEY_END", K::End},
      {"KEY_SPACE", K::Space},
      {"KEY_COMMA", K::Comma},
      {"KEY_PERIOD", K::Period},
      {"KEY_SEMICOLON", K::Semicolon},
      {"KEY_MINUS", K::Minus},
  };
  for (const auto& [n, k] : fixed) {
    if (n == name) return Key::of(k);
  }

  constexpr std::string_view prefix = "KEY_";
  if (name.size() <= prefix.size() || !name.starts_with(prefix)) return std::nullopt;
  const std::string_view rest = name.substr(prefix.size());

  // Every name starting with KEY_F is a function key or nothing, so KEY_F is not the letter.
  if (rest[0] == 'F') {
    const std::string_view number = rest.substr(1);
    if (number.empty()) return std::nullopt;
    unsigned value = 0;
    for (char c : number) {
      if (!is_ascii_digit(c)) return std::nullopt;
      // Stop counting once past the range so long runs of digits cannot overflow.
      if (value <= 15) value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value < 1 || value > 15) return std::nullopt;
    return Key::function(static_cast<std::uint8_t>(value));
  }

  constexpr std::string_view num = "NUM";
  if (rest.starts_with(num)) {
    const std::string_view digit = rest.substr(num.size());
    if (digit.size() == 1 && is_ascii_digit(digit[0])) return Key::digit(static_cast<std::uint8_t>(digit[0] - '0'));
    return std::nullopt;
  }

  // Counted in bytes: a name with one non-ASCII character after KEY_ is unknown either way.
  if (rest.size() == 1) {
    const char c = rest[0];
    if (is_ascii_digit(c)) return Key::digit(static_cast<std::uint8_t>(c - '0'));
    if (c >= 'A' && c <= 'Z') return Key::letter(static_cast<char>(c - 'A' + 'a'));
  }
  return std::nullopt;
}

// Compiles one token's inner text straight into actions.
Result<void> compile_token(std::string_view token, ActionList& out) {
  std::vector<Modifier> modifiers;
  std::optional<Key> key;

  std::size_t start = 0;
  while (true) {
    const std::size_t plus = token.find('+', start);
    const std::string_view piece = token.substr(start, plus == std::string_view::npos ? token.npos : plus - start);
    const std::string name = ascii_upper(trim_white_space(piece));

    if (const auto modifier = modifier_named(name)) {
      for (Modifier held : modifiers) {
        if (held == *modifier) return fail(errors::duplicate_modifier(token));
      }
      modifiers.push_back(*modifier);
    } else if (key) {
      return fail(errors::more_than_one_key(token));
    } else if (const auto named = key_named(name)) {
      key = named;
    } else {
      return fail(errors::unknown_key(name, token));
    }

    if (plus == std::string_view::npos) break;
    start = plus + 1;
  }

  for (Modifier m : modifiers) out.emplace_back(ModifierDown{m});
  if (key) out.emplace_back(KeyTap{*key});
  // First pressed, first released.
  for (Modifier m : modifiers) out.emplace_back(ModifierUp{m});
  return {};
}

void append_hex(std::string& out, std::uint32_t value) {
  static constexpr char digits[] = "0123456789abcdef";
  char buffer[8];
  int n = 0;
  do {
    buffer[n++] = digits[value & 0xF];
    value >>= 4;
  } while (value != 0);
  while (n > 0) out += buffer[--n];
}

void append_escaped(std::string& out, std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();) {
    const Utf8Sequence d = utf8_sequence_at(text, pos);
    switch (d.code_point) {
      case U'"':
        out += "\\\"";
        break;
      case U'\\':
        out += "\\\\";
        break;
      case U'\n':
        out += "\\n";
        break;
      case U'\t':
        out += "\\t";
        break;
      case U'\r':
        out += "\\r";
        break;
      case U'\0':
        out += "\\0";
        break;
      default:
        if (!d.valid) {
          // Keep the message valid UTF-8: one U+FFFD for every byte that is not.
          for (std::size_t i = 0; i < d.length; ++i) out += "\xEF\xBF\xBD";
        } else if (d.code_point < 0x20 || (d.code_point >= 0x7F && d.code_point <= 0x9F)) {
          out += "\\u{";
          append_hex(out, d.code_point);
          out += '}';
        } else {
          out.append(text.substr(pos, d.length));
        }
    }
    pos += d.length;
  }
}

}  // namespace

KeySequence parse_key_sequence(std::string_view text) {
  ActionList actions;
  std::size_t pending_start = 0;  // literal text runs from here to the current position

  const auto flush_pending = [&](std::size_t end) {
    if (end > pending_start)
      actions.emplace_back(TypeText{std::string(text.substr(pending_start, end - pending_start))});
  };

  std::size_t pos = 0;
  while (pos < text.size()) {
    if (text[pos] == '$' && pos + 1 < text.size() && text[pos + 1] == '{') {
      const std::size_t close = text.find('}', pos + 2);
      if (close == std::string_view::npos) return fail(errors::kUnterminatedToken);
      flush_pending(pos);
      if (Result<void> compiled = compile_token(text.substr(pos + 2, close - pos - 2), actions); !compiled.ok()) {
        return std::move(compiled).failure();
      }
      pos = close + 1;
      pending_start = pos;
    } else {
      ++pos;
    }
  }
  flush_pending(text.size());
  return KeySequence(std::move(actions));
}

std::string_view modifier_name(Modifier modifier) {
  switch (modifier) {
    case Modifier::Ctrl:
      return "Ctrl";
    case Modifier::Alt:
      return "Alt";
    case Modifier::Shift:
      return "Shift";
    case Modifier::Meta:
      return "Meta";
  }
  return "?";
}

std::string_view mouse_button_name(MouseButton button) {
  switch (button) {
    case MouseButton::Left:
      return "Left";
    case MouseButton::Right:
      return "Right";
    case MouseButton::Middle:
      return "Middle";
  }
  return "?";
}

std::string key_text(const Key& key) {
  using K = Key::Kind;
  switch (key.kind) {
    case K::Up:
      return "Up";
    case K::Right:
      return "Right";
    case K::Down:
      return "Down";
    case K::Left:
      return "Left";
    case K::PageUp:
      return "PageUp";
    case K::PageDown:
      return "PageDown";
    case K::Backspace:
      return "Backspace";
    case K::Delete:
      return "Delete";
    case K::Enter:
      return "Enter";
    case K::Tab:
      return "Tab";
    case K::Escape:
      return "Escape";
    case K::Home:
      return "Home";
    case K::Space:
      return "Space";
    case K::End:
      return "End";
    case K::F:
      return "F(" + std::to_string(key.value) + ")";
    case K::Digit:
      return "Digit(" + std::to_string(key.value) + ")";
    case K::Letter:
      return "Letter(" + std::to_string(key.value) + ")";
    case K::Comma:
      return "Comma";
    case K::Period:
      return "Period";
    case K::Semicolon:
      return "Semicolon";
    case K::Minus:
      return "Minus";
  }
  return "?";
}

std::string action_text(const InputAction& action) {
  struct Writer {
    std::string operator()(const MouseMove& a) const {
      return "MouseMove(" + std::to_string(a.x) + ", " + std::to_string(a.y) + ")";
    }
    std::string operator()(const ButtonDown& a) const {
      return "ButtonDown(" + std::string(mouse_button_name(a.button)) + ")";
    }
    std::string operator()(const ButtonUp& a) const {
      return "ButtonUp(" + std::string(mouse_button_name(a.button)) + ")";
    }
    std::string operator()(const ModifierDown& a) const {
      return "ModifierDown(" + std::string(modifier_name(a.modifier)) + ")";
    }
    std::string operator()(const ModifierUp& a) const {
      return "ModifierUp(" + std::string(modifier_name(a.modifier)) + ")";
    }
    std::string operator()(const KeyTap& a) const { return "KeyTap(" + key_text(a.key) + ")"; }
    std::string operator()(const TypeText& a) const {
      std::string out = "TypeText(\"";
      out.reserve(a.text.size() + 12);
      append_escaped(out, a.text);
      out += "\")";
      return out;
    }
    std::string operator()(const WheelVertical& a) const { return "WheelVertical(" + std::to_string(a.notches) + ")"; }
    std::string operator()(const WheelHorizontal& a) const {
      return "WheelHorizontal(" + std::to_string(a.notches) + ")";
    }
    std::string operator()(const SleepMs& a) const { return "SleepMs(" + std::to_string(a.milliseconds) + ")"; }
  };
  return std::visit(Writer{}, action);
}

}  // namespace quorvane::input
