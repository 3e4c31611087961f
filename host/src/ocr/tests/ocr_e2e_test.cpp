// ocr_image and ocr_language_list through the real executable, as the browser reaches
// them: first on a system without the runtime classes, then with the stand-in classes.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "common/base64.h"
#include "common/error_text.h"
#include "host_process.h"
#include "standin_registration.h"

namespace quorvane::ocr {
namespace {

using json = nlohmann::json;
using standin::HostProcess;

json error_reply(const std::string& message, int id) { return json{{"error", {{"message", message}}}, {"id", id}}; }

TEST(OcrE2E, WithoutRuntimeClasses) {
  testing::StandinRegistration::remove_all();
  SetEnvironmentVariableA("QUORVANE_OCR_STANDIN", nullptr);
  HostProcess host;
  EXPECT_EQ(host.call("ocr_language_list", json::object(), 1),
            error_reply("ocr_failed: languages: " + platform_error_text(0x80040154u), 1));
  EXPECT_EQ(host.call("ocr_image", json{{"content", base64_encode("QVIMG 1 1\n")}}, 2),
            error_reply("ocr_language_unavailable: no OCR language pack for the request; see ocr_language_list, "
                        "install via Windows Settings > Language",
                        2));
  EXPECT_EQ(host.call("ocr_image", json{{"content", "QUJD"}, {"language", "en-US"}}, 3),
            error_reply("ocr_failed: language: " + platform_error_text(0x80040154u), 3));
  EXPECT_EQ(host.call("ocr_image", json::array(), 4),
            error_reply("bad_params: pass image bytes as 'content' (base64) or a 'path'", 4));
  host.close_input();
  EXPECT_EQ(host.wait_exit(20000), 0u);
  EXPECT_EQ(host.error_output(), "");
}

TEST(OcrE2E, WithStandinClasses) {
  testing::StandinRegistration registration;
  ASSERT_TRUE(registration.ok());
  SetEnvironmentVariableA("QUORVANE_OCR_STANDIN", "async=later");
  HostProcess host;
  EXPECT_EQ(host.call("ocr_language_list", json::object(), 1), (json{{"id", 1}, {"result", {"en-US", "de-DE"}}}));

  std::string image = base64_encode("QVIMG 100 20\nL Hi there\nW 12 3 20.5 9 Hi\nW 40 3 30 9 there\nT Hi there\n");
  ASSERT_TRUE(
      host.send_frame(R"({"id":2,"method":"ocr_image","params":{"content":")" + image + R"(","language":"de-DE"}})"));
  EXPECT_EQ(host.read_frame(),
            R"({"id":2,"result":{"lines":[{"text":"Hi there","words":[)"
            R"({"rect":{"height":9.0,"width":20.5,"x":12.0,"y":3.0},"text":"Hi"},)"
            R"({"rect":{"height":9.0,"width":30.0,"x":40.0,"y":3.0},"text":"there"}]}],"text":"Hi there"}})");

  EXPECT_EQ(
      host.call("ocr_image", json{{"content", base64_encode("QVIMG 10001 1\n")}}, 3),
      error_reply("image_too_large: 10001x1 exceeds the OCR engine limit of 10000 px per side; tile the image", 3));
  host.close_input();
  EXPECT_EQ(host.wait_exit(20000), 0u);
  EXPECT_EQ(host.error_output(), "");
}

// A fresh process whose activations are always refused for want of an apartment: the
// host joins the MTA, tries once more and reports the refusal.
TEST(OcrE2E, RefusedActivationIsReportedAfterOneRetry) {
  testing::StandinRegistration registration;
  ASSERT_TRUE(registration.ok());
  SetEnvironmentVariableA("QUORVANE_OCR_STANDIN", "apartment=refuse");
  HostProcess host;
  EXPECT_EQ(host.call("ocr_language_list", json::object(), 1),
            error_reply("ocr_failed: languages: " + platform_error_text(0x800401F0u), 1));
  host.close_input();
  EXPECT_EQ(host.wait_exit(20000), 0u);
}

}  // namespace
}  // namespace quorvane::ocr
