// Images as requests carry them: an image parameter object with Base64 `data` holding
// either raw RGB samples (with `width` and `height`) or a PNG file, and an optional
// `dpiX`.
#pragma once

#include "common/handler.h"
#include "common/result.h"

#include <lumetra/rgb_image.h>

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace quorvane::cv {

struct DecodedImage {
  lumetra::RgbImage image;
  double dpi = 96.0;
};

// Decodes the image parameter `value` of the request member `name` ("image",
// "pattern", ...). The name only appears in error messages.
Result<DecodedImage> decode_image_param(const json& value, std::string_view name);

// Decodes a PNG file of any colour type and bit depth to 8-bit RGB: alpha dropped
// without compositing, grey copied to all channels, palettes expanded, 16-bit samples
// reduced to their high byte. The error is the decoder's reason.
Result<lumetra::RgbImage> decode_picture(std::span<const std::uint8_t> bytes);

// The DPI of `bytes` from their PNG pHYs chunk (metre unit, non-zero horizontal
// density), else 96. The chunk list is probed, the pixels are not inflated.
double png_dpi_or_default(std::span<const std::uint8_t> bytes);

// Method get_image_info: header facts of a Base64 PNG in `content`.
HandlerResult get_image_info(std::string_view method, const json& params);

}  // namespace quorvane::cv
