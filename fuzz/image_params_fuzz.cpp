// Image parameters and get_image_info: an image object either holds raw RGB samples that
// match its width and height, or a picture; whatever comes back is a well-formed image
// with a usable DPI, or an error text.
//
// Input: with the first byte odd, the next three bytes give width, height and dpiX and the
// rest is the image data (Base64-encoded here, so the fuzzer works on the bytes); with it
// even, the rest is the JSON text of the image object itself.
#include <cmath>

#include "common/json.h"
#include "cv/requests.h"
#include "fuzz_support.h"

using namespace quorvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  json param;
  if (data[0] & 1) {
    param = json::object();
    param["data"] = base64_encode(data + 4, size - 4);
    if (data[1] != 0) param["width"] = data[1] == 255 ? json(4294967297.0) : json(data[1]);
    if (data[2] != 0) param["height"] = data[2];
    if (data[3] != 0) param["dpiX"] = data[3] < 128 ? json(data[3] * 1.5) : json(-1.0 * data[3]);
    if (data[0] & 2) param["content"] = param["data"];
  } else if (!parse_json(fuzz::as_text(data + 1, size - 1), param)) {
    return 0;
  }
  if (fuzz::carries_costly_picture(param)) return 0;

  quorvane::Result<cv::DecodedImage> decoded = cv::decode_image_param(param, "pattern");
  if (decoded) {
    FUZZ_CHECK(decoded->image.well_formed());
    FUZZ_CHECK(decoded->image.width > 0 && decoded->image.height > 0);
    FUZZ_CHECK(std::isfinite(decoded->dpi) && decoded->dpi >= 0.0);
    const json* dpi_x = param.is_object() && param.contains("dpiX") ? &param["dpiX"] : nullptr;
    if (dpi_x && dpi_x->is_number() && dpi_x->get<double>() > 0.0) FUZZ_CHECK(decoded->dpi == dpi_x->get<double>());
  } else {
    FUZZ_CHECK(!decoded.error().empty());
  }

  const HandlerResult info = cv::get_image_info("get_image_info", param);
  if (info.ok()) {
    const json& v = info.value();
    FUZZ_CHECK(v.is_object() && v["width"].get<std::uint64_t>() > 0 && v["height"].get<std::uint64_t>() > 0);
    FUZZ_CHECK(v["color"].get<int>() >= 1 && v["color"].get<int>() <= 5);
  } else {
    FUZZ_CHECK(!info.error().empty());
  }
  return 0;
}
