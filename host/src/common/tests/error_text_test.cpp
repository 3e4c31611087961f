#include <gtest/gtest.h>

#include "common/error_text.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace quorvane {
namespace {

TEST(ErrorText, PlatformFormat) {
  EXPECT_EQ(hresult_from_win32_code(5), 0x80070005u);
  EXPECT_EQ(hresult_from_win32_code(0), 0u);
  EXPECT_EQ(hresult_from_win32_code(0x80040154u), 0x80040154u);
  EXPECT_EQ(hresult_from_win32_code(0x12345u), 0x80072345u);
  EXPECT_EQ(format_platform_error(std::string_view("Access is denied.\r\n"), 0x80070005u),
            "Access is denied. (0x80070005)");
  EXPECT_EQ(format_platform_error(std::nullopt, 0x80040154u), "0x80040154");
  EXPECT_EQ(format_platform_error(std::string_view(" \t\r\n"), 0xDEADBEEFu), "0xDEADBEEF");
  EXPECT_EQ(format_platform_error(std::nullopt, 0), "0x00000000");
}

TEST(ErrorText, SystemFormat) {
  EXPECT_EQ(format_system_error("The system cannot find the file specified.\r\n", 2),
            "The system cannot find the file specified. (os error 2)");
  EXPECT_EQ(format_system_error_no_message(15100, 317), "OS Error 15100 (FormatMessageW() returned error 317)");
  EXPECT_EQ(format_system_error_bad_utf16(7), "OS Error 7 (FormatMessageW() returned invalid UTF-16)");
  EXPECT_EQ(trim_trailing_space("a b \v\f"), "a b");
  EXPECT_FALSE(strict_utf16_to_utf8(std::u16string{u'x', char16_t(0xD800)}));
  EXPECT_EQ(strict_utf16_to_utf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
}

#ifdef _WIN32
TEST(ErrorText, LooksUpTheSystemMessageTable) {
  // The wording differs between Windows versions (and Wine); the shape does not.
  std::string missing = system_error_text(ERROR_FILE_NOT_FOUND);
  ASSERT_GT(missing.size(), std::string(" (os error 2)").size() + 1) << missing;
  EXPECT_EQ(missing.substr(missing.size() - 13), " (os error 2)") << missing;
  EXPECT_NE(missing[missing.size() - 14], ' ') << "trailing white space must be trimmed: " << missing;
  EXPECT_EQ(missing.find('\n'), std::string::npos);
  std::string denied = platform_error_text(0x80070005u);
  ASSERT_GT(denied.size(), std::string(" (0x80070005)").size() + 1) << denied;
  EXPECT_EQ(denied.substr(denied.size() - 13), " (0x80070005)") << denied;
  EXPECT_EQ(denied.find('\r'), std::string::npos);
  EXPECT_EQ(platform_error_text(0x80070005u, std::string_view("custom text\n")), "custom text (0x80070005)");
  // An empty runtime description falls back to the message table.
  EXPECT_EQ(platform_error_text(0x80070005u, std::string_view("")), denied);
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(last_platform_error_text(), denied);
  // A code with no message: the formatter's own error is reported.
  std::string unknown = system_error_text(0x2FFFFFFF);
  EXPECT_EQ(unknown.rfind("OS Error ", 0), 0u) << unknown;
}
#endif

}  // namespace
}  // namespace quorvane
