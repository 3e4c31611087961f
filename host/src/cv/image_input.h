// Images as requests carry them: an image parameter object with Base64 `data` holding
// either raw RGB samples (with `width` and `height`) or a PNG file, and an optional
// `dpiX`.
#pragma once

#include <lumetra/rgb_image.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "common/handler.h"
#include "common/result.h"

namespace quorvane::cv {

struct DecodedImage {
  lumetra::RgbImage image;
  double dpi = 96.0;
};

// An image parameter as read from a request (cv/requests.h reads it).
struct ImageParam {
  std::string_view data;  // Base64, raw RGB samples or a picture
  std::optional<double> dpi_x;
  // Higher bits of an oversized dimension are dropped rather than rejected; 0 when missing.
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// Decodes an image parameter: raw RGB samples when `width` x `height` x 3 is their byte
// count, else a picture. `name` ("image", "pattern", ...) only appears in error messages.
Result<DecodedImage> decode_image(const ImageParam& param, std::string_view name);

// Decodes a PNG file of any colour type and bit depth to 8-bit RGB: alpha dropped
// without compositing, grey copied to all channels, palettes expanded, 16-bit samples
// reduced to their high byte. The error is the decoder's reason.
Result<lumetra::RgbImage> decode_picture(std::span<const std::uint8_t> bytes);

// The DPI of `bytes` from their PNG pHYs chunk (metre unit, non-zero horizontal
// density), else 96. The chunk list is probed, the pixels are not inflated.
double png_dpi_or_default(std::span<const std::uint8_t> bytes);

// Method get_image_info: header facts of the Base64 PNG `content`.
Result<json> get_image_info(std::string_view content);
HandlerResult get_image_info(std::string_view method, const json& params);

}  // namespace quorvane::cv
