#include <gtest/gtest.h>

#include "files/unicode_lower.h"

namespace quorvane::files {
namespace {

TEST(UnicodeLower, SimpleMappingsAcrossScripts) {
  EXPECT_EQ(to_lower_full("ABC xyz 123.TXT"), "abc xyz 123.txt");
  EXPECT_EQ(to_lower_full("ÀÉÎÕÜ"), "àéîõü");
  EXPECT_EQ(to_lower_full("ΑΒΓ"), "αβγ");
  EXPECT_EQ(to_lower_full("ЖУРНАЛ"), "журнал");
  EXPECT_EQ(to_lower_full("ԱԲԳ"), "աբգ");                    // Armenian
  EXPECT_EQ(to_lower_full("Ა"), "ა");                      // Georgian Mtavruli, added in Unicode 11
  EXPECT_EQ(to_lower_full("\u212A"), "k");                   // Kelvin sign
  EXPECT_EQ(to_lower_full("\u2160\u2161"), "\u2170\u2171");  // Roman numerals
  EXPECT_EQ(to_lower_full("𐐀𐐁"), "𐐨𐐩");                      // Deseret, outside the BMP
  EXPECT_EQ(to_lower_full("ĀāĂă"), "āāăă");                  // alternating pairs
  EXPECT_EQ(to_lower_full("日本語ß"), "日本語ß");            // no case, and ß has no lower form to change
}

TEST(UnicodeLower, FullMappingsBeyondOneToOne) {
  // Capital I with dot above lower-cases to two code points under the full mapping.
  EXPECT_EQ(to_lower_full("\u0130"), "i\u0307");
  EXPECT_EQ(to_lower_full("X.\u0130MG"), "x.i\u0307mg");
  // Capital sigma takes its final form at the end of a word only.
  EXPECT_EQ(to_lower_full("ΟΔΟΣ"), "οδος");
  EXPECT_EQ(to_lower_full("ΣΟΦΙΑ"), "σοφια");
  EXPECT_EQ(to_lower_full("Σ"), "σ");
  EXPECT_EQ(to_lower_full("ΑΣ'Α"), "ασ'α");  // apostrophe is skipped when looking ahead
  EXPECT_EQ(to_lower_full("ΑΣ.1"), "ας.1");  // a digit is not cased: the word ended
}

TEST(UnicodeLower, MalformedInputIsReplacedNotTrusted) {
  EXPECT_EQ(to_lower_full(std::string("A\xC3", 2)), "a\xEF\xBF\xBD");
  EXPECT_EQ(to_lower_full(std::string("\xF0\x90", 2)), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace quorvane::files
