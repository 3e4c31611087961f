// The platform-free half of text recognition: reading the request, the error strings,
// the size limit and the shape of the result. The runtime calls live in *_win32.cpp.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/handler.h"

namespace quorvane::ocr {

inline constexpr std::string_view kOcrNoImageMessage = "bad_params: pass image bytes as 'content' (base64) or a 'path'";
inline constexpr std::string_view kOcrLanguageUnavailableMessage =
    "ocr_language_unavailable: no OCR language pack for the request; see ocr_language_list, install via Windows "
    "Settings > Language";

// The engine limit used when the engine cannot tell its own.
inline constexpr std::uint32_t kDefaultMaxImageDimension = 10000;

// What an ocr_image request asks for. Exactly one of `content` and `path` is set:
// a string `content` wins and `path` is then never looked at.
struct OcrImageRequest {
  std::optional<std::string_view> content;
  std::optional<std::string_view> path;
  std::optional<std::string_view> language;
};

// nullopt when the request carries no usable image (params not an object, or neither a
// string `content` nor a string `path`).
std::optional<OcrImageRequest> read_ocr_image_request(const json& params);

// Decodes `content` into `bytes`; on failure the complete error string.
std::optional<std::string> decode_ocr_content(std::string_view content, std::vector<std::uint8_t>& bytes);

std::string ocr_failed_message(std::string_view step, std::string_view platform_text);
std::string ocr_read_failed_message(std::string_view path, std::string_view system_text);
std::string ocr_cannot_decode_message(std::string_view platform_text);
std::string ocr_image_too_large_message(std::uint32_t width, std::uint32_t height, std::uint32_t limit);

// The engine accepts a side equal to its limit.
inline bool exceeds_ocr_limit(std::uint32_t width, std::uint32_t height, std::uint32_t limit) {
  return width > limit || height > limit;
}

// The runtime's writer takes a 32-bit byte count, so larger images cannot be handed over.
inline bool fits_runtime_writer(std::uint64_t size) { return size <= 0xFFFFFFFFull; }

// The engine's word box, exactly as reported (single precision).
struct OcrBox {
  float x = 0;
  float y = 0;
  float width = 0;
  float height = 0;
};

json ocr_word_json(const OcrBox& box, std::string text);
json ocr_line_json(std::string text, json words);
json ocr_result_json(json lines, std::string text);

// Which text of an error object describes a failure of `failing_code`: the restricted
// description when it is not empty, else the plain one. An error object recorded for a
// different code belongs to an earlier failure and describes nothing here.
std::optional<std::string> runtime_error_description(std::int32_t failing_code, std::int32_t recorded_code,
                                                     std::string restricted_description, std::string description);

}  // namespace quorvane::ocr
