// The OCR methods on a system that has none of the runtime classes (plain Wine): every
// answer is the exact "not available" message, after the request's own checks.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <string>

#include "common/error_text.h"
#include "ocr/ocr.h"
#include "ocr/ocr_core.h"

namespace quorvane::ocr {
namespace {

constexpr std::uint32_t kClassNotRegistered = 0x80040154u;

std::string temp_file(const char* name, std::string_view bytes) {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  std::string path = std::string(dir) + name;
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::string error_of(const HandlerResult& result) { return result.ok() ? "<success>" : result.error(); }

TEST(OcrUnregistered, LanguageListReportsTheActivationFailure) {
  std::string expected = "ocr_failed: languages: " + platform_error_text(kClassNotRegistered);
  EXPECT_EQ(error_of(ocr_language_list("ocr_language_list", json())), expected);
  EXPECT_TRUE(expected.ends_with("0x80040154")) << expected;
  // Nothing was cached by the failure: the next call fails the same way.
  EXPECT_EQ(error_of(ocr_language_list("ocr_language_list", json::object())), expected);
}

TEST(OcrUnregistered, WithoutALanguageThereIsNoEngine) {
  std::string unavailable(kOcrLanguageUnavailableMessage);
  EXPECT_EQ(error_of(ocr_image("ocr_image", json{{"content", "QUJD"}})), unavailable);
  // A non-string language counts as absent.
  EXPECT_EQ(error_of(ocr_image("ocr_image", json{{"content", "QUJD"}, {"language", nullptr}})), unavailable);
  // An empty image is not checked by the host: it gets as far as the engine too.
  EXPECT_EQ(error_of(ocr_image("ocr_image", json{{"content", ""}})), unavailable);
}

TEST(OcrUnregistered, ARequestedLanguageFailsAtTheLanguageClass) {
  EXPECT_EQ(error_of(ocr_image("ocr_image", json{{"content", "QUJD"}, {"language", "en-US"}})),
            "ocr_failed: language: " + platform_error_text(kClassNotRegistered));
}

TEST(OcrUnregistered, RequestChecksComeFirst) {
  std::string no_image(kOcrNoImageMessage);
  EXPECT_EQ(error_of(ocr_image("ocr_image", json())), no_image);
  EXPECT_EQ(error_of(ocr_image("ocr_image", json::array())), no_image);
  EXPECT_EQ(error_of(ocr_image("ocr_image", json{{"content", 1}, {"path", false}})), no_image);
  EXPECT_EQ(error_of(ocr_image("ocr_image", json{{"content", "QU*D"}, {"path", "x"}})),
            "bad_params: base64 decode failed: Invalid symbol 42, offset 2.");

  std::string missing = "Z:\\definitely\\not\\here.png";
  EXPECT_EQ(error_of(ocr_image("ocr_image", json{{"path", missing}})),
            "read_failed: " + missing + ": " + system_error_text(ERROR_PATH_NOT_FOUND));
}

TEST(OcrUnregistered, PathIsUsedOnlyWithoutStringContent) {
  std::string path = temp_file("quorvane_ocr_unregistered.bin", "not an image");
  std::string unavailable(kOcrLanguageUnavailableMessage);
  // A readable file gets as far as the engine.
  EXPECT_EQ(error_of(ocr_image("ocr_image", json{{"content", 7}, {"path", path}})), unavailable);
  // With string content the file is never opened, so a missing one does not matter.
  EXPECT_EQ(error_of(ocr_image("ocr_image", json{{"content", "QUJD"}, {"path", path + ".missing"}})), unavailable);
  DeleteFileA(path.c_str());
}

}  // namespace
}  // namespace quorvane::ocr
