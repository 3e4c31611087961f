#include "common/utf.h"

#include <gtest/gtest.h>

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
  EXPECT_EQ(utf8_to_utf16("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(utf8_to_utf16("\xC0\xAF"), u"\uFFFD\uFFFD");           // overlong
  EXPECT_EQ(utf8_to_utf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
  EXPECT_EQ(utf8_to_utf16("\xE2\x82"), u"\uFFFD");                  // truncated
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
}  // namespace quorvane
