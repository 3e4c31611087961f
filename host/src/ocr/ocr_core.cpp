#include "ocr/ocr_core.h"

#include <cmath>

#include "common/base64.h"
#include "common/params.h"

namespace quorvane::ocr {

std::optional<OcrImageRequest> read_ocr_image_request(const json& params) {
  OcrImageRequest request;
  request.content = string_param(params, "content");
  if (!request.content) {
    request.path = string_param(params, "path");
    if (!request.path) return std::nullopt;
  }
  request.language = string_param(params, "language");
  return request;
}

std::optional<std::string> decode_ocr_content(std::string_view content, std::vector<std::uint8_t>& bytes) {
  if (std::optional<std::string> reason = base64_decode(content, bytes))
    return "bad_params: base64 decode failed: " + *reason;
  return std::nullopt;
}

std::string ocr_failed_message(std::string_view step, std::string_view platform_text) {
  std::string out = "ocr_failed: ";
  out += step;
  out += ": ";
  out += platform_text;
  return out;
}

std::string ocr_read_failed_message(std::string_view path, std::string_view system_text) {
  std::string out = "read_failed: ";
  out += path;
  out += ": ";
  out += system_text;
  return out;
}

std::string ocr_cannot_decode_message(std::string_view platform_text) {
  std::string out = "bad_image: cannot decode: ";
  out += platform_text;
  return out;
}

std::string ocr_image_too_large_message(std::uint32_t width, std::uint32_t height, std::uint32_t limit) {
  return "image_too_large: " + std::to_string(width) + "x" + std::to_string(height) +
         " exceeds the OCR engine limit of " + std::to_string(limit) + " px per side; tile the image";
}

namespace {
// Single precision widened to double; JSON has no spelling for infinities or NaN.
json box_member(float value) {
  double widened = value;
  return std::isfinite(widened) ? json(widened) : json(nullptr);
}
}  // namespace

json ocr_word_json(const OcrBox& box, std::string text) {
  json rect = json::object();
  rect["height"] = box_member(box.height);
  rect["width"] = box_member(box.width);
  rect["x"] = box_member(box.x);
  rect["y"] = box_member(box.y);
  json word = json::object();
  word["rect"] = std::move(rect);
  word["text"] = std::move(text);
  return word;
}

json ocr_line_json(std::string text, json words) {
  json line = json::object();
  line["text"] = std::move(text);
  line["words"] = std::move(words);
  return line;
}

json ocr_result_json(json lines, std::string text) {
  json result = json::object();
  result["lines"] = std::move(lines);
  result["text"] = std::move(text);
  return result;
}

std::optional<std::string> runtime_error_description(std::int32_t failing_code, std::int32_t recorded_code,
                                                     std::string restricted_description, std::string description) {
  if (recorded_code != failing_code) return std::nullopt;
  if (!restricted_description.empty()) return restricted_description;
  if (!description.empty()) return description;
  return std::nullopt;
}

}  // namespace quorvane::ocr
