// Request reading, error strings and the result shape of text recognition.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "common/base64.h"
#include "ocr/ocr_core.h"

namespace quorvane::ocr {
namespace {

TEST(OcrImageRequest, ContentWinsAndWrongTypesCountAsAbsent) {
  // The request holds views into the params, so the params must outlive it.
  const json both_params = {{"content", "QUJD"}, {"path", "C:/x.png"}, {"language", "en-US"}};
  auto both = read_ocr_image_request(both_params);
  ASSERT_TRUE(both);
  EXPECT_EQ(both->content, "QUJD");
  EXPECT_FALSE(both->path) << "path must not be looked at when content is a string";
  EXPECT_EQ(both->language, "en-US");

  const json numeric_params = {{"content", 5}, {"path", "a.png"}, {"language", nullptr}};
  auto numeric_content = read_ocr_image_request(numeric_params);
  ASSERT_TRUE(numeric_content);
  EXPECT_FALSE(numeric_content->content);
  EXPECT_EQ(numeric_content->path, "a.png");
  EXPECT_FALSE(numeric_content->language);

  EXPECT_FALSE(read_ocr_image_request(json{{"content", json::array()}, {"path", 3}}));
  EXPECT_FALSE(read_ocr_image_request(json{{"language", "en-US"}}));
  EXPECT_FALSE(read_ocr_image_request(json::array({"content"})));
  EXPECT_FALSE(read_ocr_image_request(json()));
  const json empty_path_params = {{"path", ""}};
  auto empty_path = read_ocr_image_request(empty_path_params);
  ASSERT_TRUE(empty_path);
  EXPECT_EQ(empty_path->path, "");
}

TEST(OcrImageRequest, ContentDecodesWithTheBase64Rules) {
  std::vector<std::uint8_t> bytes;
  EXPECT_TRUE(decode_ocr_content("QUJD", bytes).ok());
  EXPECT_EQ(bytes, (std::vector<std::uint8_t>{'A', 'B', 'C'}));
  EXPECT_TRUE(decode_ocr_content("", bytes).ok());
  EXPECT_TRUE(bytes.empty());

  for (std::string_view bad : {"QU*D", "QUJ", "QUJ=", "QUJD=A=="}) {
    std::vector<std::uint8_t> scratch;
    const Result<void> decoded = base64_decode(bad, scratch);
    ASSERT_FALSE(decoded.ok()) << bad;
    EXPECT_EQ(decode_ocr_content(bad, bytes).error(), "bad_params: base64 decode failed: " + decoded.error()) << bad;
  }
}

TEST(OcrMessages, ExactTexts) {
  EXPECT_EQ(kOcrLanguageUnavailableMessage.size(), 126u);
  EXPECT_EQ(std::string(kOcrNoImageMessage), "bad_params: pass image bytes as 'content' (base64) or a 'path'");
  EXPECT_EQ(ocr_failed_message("word text", "Access is denied. (0x80070005)"),
            "ocr_failed: word text: Access is denied. (0x80070005)");
  EXPECT_EQ(ocr_read_failed_message("C:\\a b.png", "The system cannot find the file specified. (os error 2)"),
            "read_failed: C:\\a b.png: The system cannot find the file specified. (os error 2)");
  EXPECT_EQ(ocr_cannot_decode_message("0x88982F50"), "bad_image: cannot decode: 0x88982F50");
  EXPECT_EQ(ocr_image_too_large_message(10001, 1, 10000),
            "image_too_large: 10001x1 exceeds the OCR engine limit of 10000 px per side; tile the image");
  EXPECT_EQ(ocr_image_too_large_message(4294967295u, 0, 0),
            "image_too_large: 4294967295x0 exceeds the OCR engine limit of 0 px per side; tile the image");
}

TEST(OcrLimits, SideEqualToTheLimitPasses) {
  EXPECT_FALSE(exceeds_ocr_limit(10000, 10000, 10000));
  EXPECT_TRUE(exceeds_ocr_limit(10001, 1, 10000));
  EXPECT_TRUE(exceeds_ocr_limit(1, 10001, 10000));
  EXPECT_FALSE(exceeds_ocr_limit(0, 0, 0));
  EXPECT_TRUE(fits_runtime_writer(0xFFFFFFFFull));
  EXPECT_FALSE(fits_runtime_writer(0x100000000ull));
}

TEST(OcrResultShape, WordBoxesAreWidenedFloatsAndNonFiniteIsNull) {
  json word = ocr_word_json(OcrBox{12.0f, 0.1f, std::numeric_limits<float>::infinity(), std::nanf("")}, "Hi");
  const json& rect = word.at("rect");
  ASSERT_TRUE(rect.at("x").is_number_float()) << "an integral box value must stay a float";
  EXPECT_EQ(rect.at("x").get<double>(), 12.0);
  EXPECT_EQ(rect.at("y").get<double>(), static_cast<double>(0.1f));
  EXPECT_TRUE(rect.at("width").is_null());
  EXPECT_TRUE(rect.at("height").is_null());
  EXPECT_EQ(word.at("text"), "Hi");

  json result = ocr_result_json(json::array({ocr_line_json("Hi there", json::array({word}))}), "Hi there");
  EXPECT_EQ(result.dump(),
            R"({"lines":[{"text":"Hi there","words":[{"rect":{"height":null,"width":null,"x":12.0,"y":)" +
                json(static_cast<double>(0.1f)).dump() + R"(},"text":"Hi"}]}],"text":"Hi there"})");
  EXPECT_EQ(ocr_result_json(json::array(), "").dump(), R"({"lines":[],"text":""})");
}

TEST(RuntimeErrorDescription, RestrictedFirstAndOnlyForTheSameFailure) {
  constexpr std::int32_t denied = static_cast<std::int32_t>(0x80070005u);
  EXPECT_EQ(runtime_error_description(denied, denied, "restricted", "plain"), "restricted");
  EXPECT_EQ(runtime_error_description(denied, denied, "", "plain"), "plain");
  EXPECT_EQ(runtime_error_description(denied, denied, "", ""), std::nullopt);
  EXPECT_EQ(runtime_error_description(denied, static_cast<std::int32_t>(0x80004005u), "stale", "stale"), std::nullopt);
}

}  // namespace
}  // namespace quorvane::ocr
