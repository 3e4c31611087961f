#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "input/key_sequence.h"

namespace quorvane::input {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// The parse result in the action text form, or the error message as a single element.
std::vector<std::string> parsed(std::string_view text) {
  KeySequence result = parse_key_sequence(text);
  if (!result.ok()) return {result.error()};
  std::vector<std::string> out;
  for (const InputAction& a : result.value()) out.push_back(action_text(a));
  return out;
}

std::string unknown(std::string_view name, std::string_view token) {
  return "bad_key: unknown key '" + std::string(name) + "' in '${" + std::string(token) + "}'";
}
std::string two_keys(std::string_view token) {
  return "bad_key: more than one non-modifier key in '${" + std::string(token) + "}'";
}
std::string duplicate(std::string_view token) {
  return "bad_key: duplicate modifier in '${" + std::string(token) + "}'";
}
const std::string unterminated = "bad_key: unterminated '${'";

TEST(KeySequence, LiteralTextAndTokens) {
  EXPECT_THAT(parsed(""), IsEmpty());
  EXPECT_THAT(parsed("abc"), ElementsAre("TypeText(\"abc\")"));
  EXPECT_THAT(parsed("a${KEY_ENTER}b"), ElementsAre("TypeText(\"a\")", "KeyTap(Enter)", "TypeText(\"b\")"));
  EXPECT_THAT(parsed("${KEY_A}}"), ElementsAre("KeyTap(Letter(97))", "TypeText(\"}\")"));
  EXPECT_THAT(parsed("$5 {x}"), ElementsAre("TypeText(\"$5 {x}\")"));
  EXPECT_THAT(parsed("$${KEY_TAB}$"), ElementsAre("TypeText(\"$\")", "KeyTap(Tab)", "TypeText(\"$\")"));
  EXPECT_THAT(parsed("${KEY_UP}${KEY_DOWN}"), ElementsAre("KeyTap(Up)", "KeyTap(Down)"));
  EXPECT_THAT(parsed("line\r\n\tx"), ElementsAre("TypeText(\"line\\r\\n\\tx\")"));
}

TEST(KeySequence, CombosPressInOrderAndReleaseFirstPressedFirst) {
  EXPECT_THAT(parsed("${key_ctrl + key_c}"),
              ElementsAre("ModifierDown(Ctrl)", "KeyTap(Letter(99))", "ModifierUp(Ctrl)"));
  EXPECT_THAT(parsed("${KEY_CTRL+KEY_SHIFT+KEY_T}"),
              ElementsAre("ModifierDown(Ctrl)", "ModifierDown(Shift)", "KeyTap(Letter(116))", "ModifierUp(Ctrl)",
                          "ModifierUp(Shift)"));
  EXPECT_EQ(parsed("${KEY_A+KEY_CTRL}"), parsed("${KEY_CTRL+KEY_A}"));
  EXPECT_THAT(parsed("${KEY_SHIFT}"), ElementsAre("ModifierDown(Shift)", "ModifierUp(Shift)"));
  EXPECT_THAT(
      parsed("${KEY_OPTION+KEY_CMD+KEY_DEL}"),
      ElementsAre("ModifierDown(Alt)", "ModifierDown(Meta)", "KeyTap(Delete)", "ModifierUp(Alt)", "ModifierUp(Meta)"));
}

TEST(KeySequence, KeyNames) {
  const std::pair<const char*, const char*> names[] = {
      {"KEY_UP", "Up"},
      {"KEY_DOWN", "Down"},
      {"KEY_LEFT", "Left"},
      {"KEY_RIGHT", "Right"},
      {"KEY_PAGE_UP", "PageUp"},
      {"KEY_PGUP", "PageUp"},
      {"KEY_PAGE_DOWN", "PageDown"},
      {"KEY_PGDN", "PageDown"},
      {"KEY_BACKSPACE", "Backspace"},
      {"KEY_BKSP", "Backspace"},
      {"KEY_DELETE", "Delete"},
      {"KEY_DEL", "Delete"},
      {"KEY_ENTER", "Enter"},
      {"KEY_TAB", "Tab"},
      {"KEY_ESCAPE", "Escape"},
      {"KEY_ESC", "Escape"},
      {"KEY_HOME", "Home"},
      {"KEY_END", "End"},
      {"KEY_SPACE", "Space"},
      {"KEY_COMMA", "Comma"},
      {"KEY_PERIOD", "Period"},
      {"KEY_SEMICOLON", "Semicolon"},
      {"KEY_MINUS", "Minus"},
      {"KEY_F15", "F(15)"},
      {"KEY_F01", "F(1)"},
      {"key_f005", "F(5)"},
      {"KEY_NUM7", "Digit(7)"},
      {"KEY_7", "Digit(7)"},
      {"KEY_0", "Digit(0)"},
      {"KEY_Z", "Letter(122)"},
      {"key_n", "Letter(110)"},
      {"KEY_F000000000000000000000000000012", "F(12)"},
  };
  for (const auto& [name, key] : names) {
    EXPECT_THAT(parsed("${" + std::string(name) + "}"), ElementsAre("KeyTap(" + std::string(key) + ")")) << name;
  }
}

TEST(KeySequence, UnknownNames) {
  for (const char* name : {"KEY_F", "KEY_F0", "KEY_F16", "KEY_F99999999999999999999999", "KEY_F1A", "KEY_NUM12",
                           "KEY_NUM", "KEY_NUMA", "KEY_", "KEY", "KEY_AA", "KEY_!", "KEY_CONTROL", "F5"}) {
    EXPECT_THAT(parsed("${" + std::string(name) + "}"), ElementsAre(unknown(name, name))) << name;
  }
  EXPECT_THAT(parsed("${}"), ElementsAre(unknown("", "")));
  EXPECT_THAT(parsed("${+KEY_A}"), ElementsAre(unknown("", "+KEY_A")));
  EXPECT_THAT(parsed("${ctrl+c}"), ElementsAre(unknown("CTRL", "ctrl+c")));
  // The name is quoted trimmed and upper-cased (ASCII only), the token as written.
  EXPECT_THAT(parsed("${ key_é }"), ElementsAre(unknown("KEY_é", " key_é ")));
  EXPECT_THAT(parsed("${a${b}"), ElementsAre(unknown("A${B", "a${b")));
  // A zero-width space is not white space, so it stays part of the name.
  EXPECT_THAT(parsed("${\u200BKEY_A}"), ElementsAre(unknown("\u200BKEY_A", "\u200BKEY_A")));
}

TEST(KeySequence, TokenErrors) {
  EXPECT_THAT(parsed("${KEY_A+}"), ElementsAre(two_keys("KEY_A+")));
  EXPECT_THAT(parsed("${KEY_A+KEY_B}"), ElementsAre(two_keys("KEY_A+KEY_B")));
  EXPECT_THAT(parsed("${KEY_A+FOO}"), ElementsAre(two_keys("KEY_A+FOO")));
  EXPECT_THAT(parsed("${KEY_A++KEY_CTRL}"), ElementsAre(two_keys("KEY_A++KEY_CTRL")));
  EXPECT_THAT(parsed("${KEY_WIN+KEY_CMD}"), ElementsAre(duplicate("KEY_WIN+KEY_CMD")));
  EXPECT_THAT(parsed("${KEY_ALT+KEY_OPTION}"), ElementsAre(duplicate("KEY_ALT+KEY_OPTION")));
  EXPECT_THAT(parsed("${KEY_META+KEY_A+key_win}"), ElementsAre(duplicate("KEY_META+KEY_A+key_win")));
  // The first error in the token wins.
  EXPECT_THAT(parsed("${FOO+KEY_CTRL+KEY_CTRL}"), ElementsAre(unknown("FOO", "FOO+KEY_CTRL+KEY_CTRL")));
  for (const char* text : {"${KEY_A", "abc${", "${", "${KEY_ENTER}${", "${KEY_A${KEY_B"}) {
    EXPECT_THAT(parsed(text), ElementsAre(unterminated)) << text;
  }
  EXPECT_THAT(parsed("x$"), ElementsAre("TypeText(\"x$\")"));
}

TEST(KeySequence, AnErrorAnywhereYieldsNoActions) {
  EXPECT_THAT(parsed("hello${KEY_ENTER}${KEY_FOO}"), ElementsAre(unknown("KEY_FOO", "KEY_FOO")));

  std::string many;
  for (int i = 0; i < 5000; ++i) many += "x${KEY_CTRL+KEY_V}";
  KeySequence ok = parse_key_sequence(many);
  ASSERT_TRUE(ok.ok());
  EXPECT_EQ(ok.value().size(), 5000u * 4);

  EXPECT_THAT(parsed(many + "${KEY_CTRL+KEY_CTRL}"), ElementsAre(duplicate("KEY_CTRL+KEY_CTRL")));
  EXPECT_THAT(parsed(many + "${"), ElementsAre(unterminated));
}

TEST(KeySequence, UnicodeWhiteSpaceAroundNamesIsTrimmed) {
  for (const char* space :
       {"\u00A0", "\u3000", "\u2003", "\u0085", "\u2028", "\u202F", "\u205F", "\u1680", "\v", "\f", "\r\n\t "}) {
    const std::string s = space;
    EXPECT_THAT(parsed("${" + s + "KEY_A" + s + "}"), ElementsAre("KeyTap(Letter(97))")) << s;
    EXPECT_THAT(parsed("${" + s + "key_ctrl" + s + "+" + s + "KEY_A" + s + "}"),
                ElementsAre("ModifierDown(Ctrl)", "KeyTap(Letter(97))", "ModifierUp(Ctrl)"));
  }
  // Only white space in a piece leaves an empty name.
  EXPECT_THAT(parsed("${\u00A0\u3000}"), ElementsAre(unknown("", "\u00A0\u3000")));
}

TEST(KeySequence, NonAsciiTextPassesThroughWhole) {
  const std::string text = "Grüße 😀 中文";
  EXPECT_THAT(parsed(text + "${KEY_ENTER}" + text),
              ElementsAre("TypeText(\"" + text + "\")", "KeyTap(Enter)", "TypeText(\"" + text + "\")"));
  // Malformed UTF-8 must not confuse token scanning or error quoting.
  EXPECT_THAT(parsed("\xFF${KEY_A}\xC3"),
              ElementsAre("TypeText(\"\uFFFD\")", "KeyTap(Letter(97))", "TypeText(\"\uFFFD\")"));
  EXPECT_THAT(parsed("${\xE2\x80}"), ElementsAre(unknown("\xE2\x80", "\xE2\x80")));
}

TEST(KeySequence, LongText) {
  const std::string big(1 << 20, 'q');
  KeySequence result = parse_key_sequence(big);
  ASSERT_TRUE(result.ok());
  ASSERT_EQ(result.value().size(), 1u);
  EXPECT_EQ(std::get<TypeText>(result.value()[0]).text, big);
}

TEST(ActionText, Forms) {
  EXPECT_EQ(action_text(MouseMove{100, -20}), "MouseMove(100, -20)");
  EXPECT_EQ(action_text(ButtonDown{MouseButton::Left}), "ButtonDown(Left)");
  EXPECT_EQ(action_text(ButtonUp{MouseButton::Middle}), "ButtonUp(Middle)");
  EXPECT_EQ(action_text(ModifierUp{Modifier::Ctrl}), "ModifierUp(Ctrl)");
  EXPECT_EQ(action_text(KeyTap{Key::of(Key::Kind::Enter)}), "KeyTap(Enter)");
  EXPECT_EQ(action_text(KeyTap{Key::function(5)}), "KeyTap(F(5))");
  EXPECT_EQ(action_text(KeyTap{Key::letter('a')}), "KeyTap(Letter(97))");
  EXPECT_EQ(action_text(WheelVertical{3}), "WheelVertical(3)");
  EXPECT_EQ(action_text(WheelHorizontal{-2147483647 - 1}), "WheelHorizontal(-2147483648)");
  EXPECT_EQ(action_text(SleepMs{10}), "SleepMs(10)");
  EXPECT_EQ(action_text(SleepMs{18446744073709551615u}), "SleepMs(18446744073709551615)");
}

TEST(ActionText, TypeTextEscapes) {
  EXPECT_EQ(action_text(TypeText{std::string("a\"b\\c\nd\te\rf\0g", 13)}), R"(TypeText("a\"b\\c\nd\te\rf\0g"))");
  EXPECT_EQ(action_text(TypeText{"\x1b\x01\x7f\u0080\u009f"}), R"(TypeText("\u{1b}\u{1}\u{7f}\u{80}\u{9f}"))");
  // Printable non-ASCII text, including characters beyond the BMP, is written as is.
  EXPECT_EQ(action_text(TypeText{"é\u00A0😀'"}), "TypeText(\"é\u00A0😀'\")");
  // Malformed UTF-8 becomes one U+FFFD per byte (a truncated sequence, an encoded
  // surrogate, an overlong form), whatever the decoder groups into one invalid subpart;
  // an encoded U+FFFD is copied.
  EXPECT_EQ(action_text(TypeText{"a\xE2\x82|\xED\xA0\x80|\xF0\x80\x80\x80|\xEF\xBF\xBD"}),
            "TypeText(\"a\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD\uFFFD|\uFFFD\")");
}

}  // namespace
}  // namespace quorvane::input
