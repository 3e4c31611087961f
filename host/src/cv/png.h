// PNG header probing and PNG encoding on zlib.
//
// The probe walks the chunk list up to the first image-data chunk and never inflates
// anything, so asking for an image's size or resolution costs the same for a 16x16 icon
// and for a 4K screenshot. The encoder writes 8-bit RGB or RGBA with a pHYs chunk that
// records the capture's DPI.
#pragma once

#include "cv/result.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

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

// Row filter choice of the encoder. Adaptive picks, per row, the filter whose output has
// the smallest sum of absolute (signed) byte values.
enum class PngFilter { None, Sub, Up, Average, Paeth, Adaptive };

// zlib's match-finding strategies that make sense for filtered image rows.
enum class PngDeflate { Default, Filtered, Rle, HuffmanOnly };

// The defaults are what capture files use. On screenshots, zlib level 5 with adaptive
// row filters comes within about 1 % of level 6's size at 85-90 % of its time; on a smooth
// full-screen wallpaper, where level 6 searches hardest, it stays within 8 % in half the
// time. Levels 1-3 are two to three times faster but grow files by 17-37 %. The
// benchmark in bench/ measures these against level 6.
struct PngEncodeOptions {
  int level = 5;  // zlib level, 0..9
  PngFilter filter = PngFilter::Adaptive;
  PngDeflate strategy = PngDeflate::Default;
};

// Receives the encoded stream piece by piece; returns an error text to abort.
using PngSink = std::function<std::optional<std::string>(std::span<const std::uint8_t>)>;

// Encodes `width` x `height` pixels of `channels` (3 = RGB, 4 = RGBA) interleaved 8-bit
// samples, rows top to bottom without padding, as signature, IHDR, pHYs (same density
// on both axes, unit metre), IDAT chunks and IEND. Returns an error text on invalid
// arguments (zero size, bad channel count, dimensions beyond the PNG limit), a deflate
// failure or the sink's own error.
std::optional<std::string> write_png(const std::uint8_t* pixels, std::uint32_t width, std::uint32_t height,
                                     unsigned channels, double dpi, const PngSink& sink,
                                     const PngEncodeOptions& options = {});

// The same, collected into one buffer.
Result<std::vector<std::uint8_t>> encode_png(const std::uint8_t* pixels, std::uint32_t width, std::uint32_t height,
                                             unsigned channels, double dpi, const PngEncodeOptions& options = {});

}  // namespace quorvane::cv
