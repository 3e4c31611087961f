#include <gtest/gtest.h>

#include "files/content.h"
#include "files/filetime.h"

namespace quorvane::files {
namespace {

TEST(Content, RangeArithmetic) {
  EXPECT_EQ(range_length(1000000, 0), 524288u);
  EXPECT_EQ(range_length(1000000, 524288), 475712u);
  EXPECT_EQ(range_length(1000000, 1000000), 0u);
  EXPECT_EQ(range_length(1000000, 2000000), 0u);
  EXPECT_EQ(range_length(0, 0), 0u);
  EXPECT_EQ(range_length(~0ULL, ~0ULL - 1), 1u);
  EXPECT_EQ(range_length(~0ULL, 0), kMaxFileRange);
}

TEST(Content, RangeStartAcceptsOnlyNonNegativeIntegers) {
  EXPECT_EQ(range_start_param(json::parse(R"({"rangeStart":524288})")), 524288u);
  EXPECT_EQ(range_start_param(json::parse(R"({"rangeStart":18446744073709551615})")), 18446744073709551615u);
  for (const char* text :
       {R"({"rangeStart":-5})", R"({"rangeStart":1.5})", R"({"rangeStart":"7"})", R"({"rangeStart":1e3})",
        R"({"rangeStart":2.0})", R"({"rangeStart":null})", R"({})", R"([1])"}) {
    EXPECT_EQ(range_start_param(json::parse(text)), 0u) << text;
  }
}

TEST(Content, ResultShapes) {
  EXPECT_EQ(range_result(10, "abc").dump(), R"({"buffer":"YWJj","rangeEnd":13,"rangeStart":10})");
  EXPECT_EQ(range_result(2000000, "").dump(), R"({"buffer":"","rangeEnd":2000000,"rangeStart":2000000})");
  EXPECT_EQ(content_success("\xEF\xBB\xBFhi\r\n").dump(), "{\"content\":\"\xEF\xBB\xBFhi\\r\\n\",\"errorCode\":0}");
  EXPECT_EQ(content_failure().dump(), R"({"content":"","errorCode":1})");
}

TEST(FileTime, MillisecondsSinceTheUnixEpoch) {
  EXPECT_EQ(filetime_to_unix_ms(kUnixEpochAsFiletime + 15000000), 1500u);  // 1970-01-01 00:00:01.5
  EXPECT_EQ(filetime_to_unix_ms(kUnixEpochAsFiletime + 19999999), 1999u);  // cut, not rounded
  EXPECT_EQ(filetime_to_unix_ms(kUnixEpochAsFiletime + 9999), 0u);
  EXPECT_EQ(filetime_to_unix_ms(kUnixEpochAsFiletime + 10000), 1u);
  EXPECT_EQ(filetime_to_unix_ms(kUnixEpochAsFiletime), 0u);
  EXPECT_EQ(filetime_to_unix_ms(kUnixEpochAsFiletime - 1), 0u);
  EXPECT_EQ(filetime_to_unix_ms(0), 0u);
  // 2024-01-01 00:00:00.123 UTC
  EXPECT_EQ(filetime_to_unix_ms(133485408001230000ULL), 1704067200123u);
  EXPECT_EQ(filetime_to_unix_ms(~0ULL), 1833029933770955u);
}

TEST(FilesContent, MaxFileRangeIgnoresItsParams) {
  for (const json& params : {json(), json::array(), json::parse(R"({"path":5})")}) {
    HandlerResult r = get_max_file_range("get_max_file_range", params);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.value(), 524288);
  }
}

}  // namespace
}  // namespace quorvane::files
