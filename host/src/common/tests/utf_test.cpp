#include <gtest/gtest.h>

#include <cstdint>

#include "common/utf.h"

namespace quorvane {
namespace {

TEST(Utf, RoundTripsEveryPlane) {
  std::string text = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";  // A é € 😀 z
  std::u16string wide = utf8_to_utf16(text);
  EXPECT_EQ(wide, u"A\u00E9\u20AC\U0001F600z");
  EXPECT_EQ(utf16_to_utf8(wide), text);
}

TEST(Utf, UnpairedSurrogatesBecomeReplacementCharacters) {
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(utf16_to_utf8(std::u16string{u'a', char16_t(0xD800), u'b'}), "a" + fffd + "b");
  EXPECT_EQ(utf16_to_utf8(std::u16string{char16_t(0xDC00)}), fffd);
  EXPECT_EQ(utf16_to_utf8(std::u16string{char16_t(0xD83D)}), fffd);  // high surrogate at the end
  // A low surrogate before a high one is two unpaired halves, not a pair.
  EXPECT_EQ(utf16_to_utf8(std::u16string{char16_t(0xDE00), char16_t(0xD83D)}), fffd + fffd);
}

TEST(Utf, MalformedUtf8IsReplacedNotDropped) {
  EXPECT_EQ(utf8_to_utf16("a\xFF"
                          "b"),
            u"a\uFFFDb");
  EXPECT_EQ(utf8_to_utf16("\xC0\xAF"), u"\uFFFD\uFFFD");                      // overlong
  EXPECT_EQ(utf8_to_utf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");            // encoded surrogate
  EXPECT_EQ(utf8_to_utf16("\xE2\x82"), u"\uFFFD");                            // truncated
  EXPECT_EQ(utf8_to_utf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // above U+10FFFF
  EXPECT_EQ(sanitize_utf8("ok\xE2\x82!"), "ok\xEF\xBF\xBD!");
}

TEST(Utf, Validation) {
  EXPECT_TRUE(is_valid_utf8(""));
  EXPECT_TRUE(is_valid_utf8("plain"));
  EXPECT_TRUE(is_valid_utf8("\xEF\xBF\xBD\xF0\x9F\x98\x80"));
  EXPECT_FALSE(is_valid_utf8("\xC0\x80"));
  EXPECT_FALSE(is_valid_utf8("\xED\xBF\xBF"));
  EXPECT_FALSE(is_valid_utf8("abc\xF0\x9F\x98"));
  EXPECT_FALSE(is_valid_utf8("\x80"));
}

}  // namespace
TEST(Utf, OneSequenceAtATime) {
  struct Case {
    std::string text;
    char32_t code_point;
    std::size_t length;
    bool valid;
  };
  const Case cases[] = {
      {"A", U'A', 1, true},
      {"\xC3\xA9x", 0xE9, 2, true},
      {"\xEF\xBF\xBD", 0xFFFD, 3, true},  // an encoded U+FFFD is a character like any other
      {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4, true},
      {"\xE2\x82", 0xFFFD, 2, false},          // truncated: the whole valid prefix is one unit
      {"\xE0\x80\x80", 0xFFFD, 1, false},      // overlong: the lead byte alone
      {"\xED\xA0\x80", 0xFFFD, 1, false},      // a surrogate
      {"\xF4\x90\x80\x80", 0xFFFD, 1, false},  // above U+10FFFF
      {"\x80", 0xFFFD, 1, false},
  };
  for (const Case& c : cases) {
    const Utf8Sequence got = utf8_sequence_at(c.text, 0);
    EXPECT_EQ(got.code_point, c.code_point) << c.text;
    EXPECT_EQ(got.length, c.length) << c.text;
    EXPECT_EQ(got.valid, c.valid) << c.text;
  }
}

TEST(Utf, EncodesAtEveryLengthBoundary) {
  for (char32_t cp : {0x0u, 0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xFFFFu, 0x10000u, 0x10FFFFu}) {
    std::string out = "x";
    append_utf8(cp, out);
    ASSERT_TRUE(is_valid_utf8(out)) << std::hex << static_cast<std::uint32_t>(cp);
    const Utf8Sequence back = utf8_sequence_at(out, 1);
    EXPECT_EQ(back.code_point, cp);
    EXPECT_EQ(back.length, out.size() - 1) << std::hex << static_cast<std::uint32_t>(cp);
  }
}

}  // namespace quorvane
