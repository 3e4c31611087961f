#include "cv/image_input.h"

#include <limits>
#include <utility>

#include "common/base64.h"
#include "common/error_text.h"
#include "cv/errors.h"
#include "cv/png.h"
#include "cv/requests.h"
#include "cv/stb_decode.h"

namespace quorvane::cv {

namespace {

// The resolution `get_image_info` reports: both axes from a metre-unit pHYs, else 0.
struct Resolution {
  double x = 0.0;
  double y = 0.0;
};

Resolution resolution_of(const PngHeader& header) {
  if (!header.physical || header.physical->unit != 1) return {};
  return {pixels_per_metre_to_dpi(header.physical->x_pixels_per_unit),
          pixels_per_metre_to_dpi(header.physical->y_pixels_per_unit)};
}

// get_image_info reports the colour type in its own numbering.
int color_code(std::uint8_t color_type) {
  switch (color_type) {
    case kPngPalette:
      return 1;
    case kPngGrey:
      return 2;
    case kPngGreyAlpha:
      return 3;
    case kPngRgb:
      return 4;
    case kPngRgba:
      return 5;
    default:
      return 0;  // unreachable: the probe rejects other types
  }
}

}  // namespace

double png_dpi_or_default(std::span<const std::uint8_t> bytes) {
  const auto header = probe_png(bytes);
  if (!header || !header->physical) return 96.0;
  const PngPhysical& phys = *header->physical;
  if (phys.unit != 1 || phys.x_pixels_per_unit == 0) return 96.0;
  return pixels_per_metre_to_dpi(phys.x_pixels_per_unit);
}

Result<lumetra::RgbImage> decode_picture(std::span<const std::uint8_t> bytes) { return stb_decode_rgb(bytes); }

Result<DecodedImage> decode_image(const ImageParam& param, std::string_view name) {
  std::vector<std::uint8_t> bytes;
  if (Result<void> decoded = base64_decode(param.data, bytes); !decoded.ok())
    return fail(base64_decode_failed(decoded.error()));

  DecodedImage out;
  out.dpi = param.dpi_x && *param.dpi_x > 0.0 ? *param.dpi_x : png_dpi_or_default(bytes);

  const std::uint32_t width = param.width;
  const std::uint32_t height = param.height;

  if (width != 0 && height != 0) {
    // 2^32 * 2^32 * 3 does not fit 64 bits: an overflowing product cannot equal any
    // real byte count, so such dimensions simply do not describe these bytes.
    std::uint64_t expected = 0;
    const bool overflow = __builtin_mul_overflow(std::uint64_t{width}, std::uint64_t{height}, &expected) ||
                          __builtin_mul_overflow(expected, std::uint64_t{3}, &expected);
    if (!overflow && expected == bytes.size()) {
      out.image.width = width;
      out.image.height = height;
      // Raw samples are the fastest way to send a screen: take the buffer over as is.
      out.image.pixels = std::move(bytes);
      if (!out.image.well_formed()) return fail(errors::raw_size_mismatch(name));
      return out;
    }
  }

  auto picture = decode_picture(bytes);
  if (!picture) return fail(errors::not_decodable(name, width, height, picture.error()));
  out.image = std::move(picture).value();
  return out;
}

Result<json> get_image_info(std::string_view content) {
  std::vector<std::uint8_t> bytes;
  if (Result<void> decoded = base64_decode(content, bytes); !decoded.ok())
    return fail(base64_decode_failed(decoded.error()));

  const auto header = probe_png(bytes);
  if (!header) return fail(errors::not_a_png(header.error()));

  const Resolution dpi = resolution_of(*header);
  json result = json::object();
  result["bitDepth"] = static_cast<std::uint64_t>(header->bit_depth) * png_channel_count(header->color_type);
  result["color"] = color_code(header->color_type);
  result["dpiX"] = dpi.x;
  result["dpiY"] = dpi.y;
  result["format"] = 1;
  result["height"] = header->height;
  result["width"] = header->width;
  return result;
}

HandlerResult get_image_info(std::string_view, const json& params) {
  const Result<std::string_view> content = read_get_image_info(params);
  if (!content) return content.failure();
  return get_image_info(*content);
}

}  // namespace quorvane::cv
