// PNG header probing; the encoder is in cv/png_encode.h.
//
// The probe walks the chunk list up to the first image-data chunk and never inflates
// anything, so asking for an image's size or resolution costs the same for a 16x16 icon
// and for a 4K screenshot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/result.h"
#include "cv/png_encode.h"

namespace quorvane::cv {

// PNG colour-type codes as they appear in IHDR.
enum : std::uint8_t {
  kPngGrey = 0,
  kPngRgb = 2,
  kPngPalette = 3,
  kPngGreyAlpha = 4,
  kPngRgba = 6,
};

struct PngPhysical {
  std::uint32_t x_pixels_per_unit = 0;
  std::uint32_t y_pixels_per_unit = 0;
  std::uint8_t unit = 0;  // 1 = metre, 0 = unknown (aspect ratio only)
};

struct PngHeader {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint8_t bit_depth = 0;
  std::uint8_t color_type = 0;
  std::uint8_t interlace = 0;
  std::optional<PngPhysical> physical;  // pHYs, when present before the image data
};

// Reads the signature and every chunk before the first IDAT (or fdAT), checking chunk
// framing, CRCs and the header's fields. The error is a short reason such as
// "invalid signature" or "CRC mismatch in chunk pHYs".
Result<PngHeader> probe_png(std::span<const std::uint8_t> bytes);

// The same walk over the whole stream, up to IEND: every chunk, the image data included,
// must lie within `bytes` and carry a matching CRC, the image data must be one run of
// IDAT chunks, and the chunk rules of probe_png hold. Pixel decoding only ever starts on
// bytes that passed this, so a damaged file fails the same way for every method, and a
// declared length can never make a decoder reserve memory for data that is not there.
// The header (pHYs as found before the image data) is what probe_png reports.
Result<PngHeader> check_png(std::span<const std::uint8_t> bytes);

// Samples per pixel of a PNG colour type (grey 1, RGB 3, palette 1, grey+alpha 2,
// RGBA 4); 0 for an unknown type.
unsigned png_channel_count(std::uint8_t color_type);

// round(pixels_per_metre * 0.0254), halves away from zero.
double pixels_per_metre_to_dpi(std::uint32_t pixels_per_metre);
// round(dpi / 0.0254), halves away from zero, clamped to the 32-bit range; NaN gives 0.
std::uint32_t dpi_to_pixels_per_metre(double dpi);

}  // namespace quorvane::cv
