// The capture files' PNG encoder: 8-bit RGB or RGBA, with a pHYs chunk that records the
// capture's DPI, and the image data compressed by our own deflate (cv/deflate.h), which
// is tuned for screens: flat areas, repeated rows and text.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "common/result.h"
#include "cv/deflate.h"

namespace quorvane::cv {

// Row filter choice of the encoder. Adaptive picks, per row, the filter whose output has
// the smallest sum of absolute (signed) byte values.
enum class PngFilter { None, Sub, Up, Average, Paeth, Adaptive };

// The defaults are what capture files use; bench/png_encode_bench.cpp measures them on
// real desktops against zlib's level 6.
struct PngEncodeOptions {
  PngFilter filter = PngFilter::Adaptive;
  DeflateTuning deflate{};
};

// Receives the encoded stream piece by piece; fails with an error text to abort.
using PngSink = std::function<Result<void>(std::span<const std::uint8_t>)>;

// Encodes `width` x `height` pixels of `channels` (3 = RGB, 4 = RGBA) interleaved 8-bit
// samples, rows top to bottom without padding, as signature, IHDR, pHYs (same density
// on both axes, unit metre), IDAT chunks and IEND. Returns an error text on invalid
// arguments (zero size, bad channel count, dimensions beyond the PNG limit) or the sink's
// own error; nothing is written after a sink error.
Result<void> write_png(const std::uint8_t* pixels, std::uint32_t width, std::uint32_t height, unsigned channels,
                       double dpi, const PngSink& sink, const PngEncodeOptions& options = {});

// The same, collected into one buffer.
Result<std::vector<std::uint8_t>> encode_png(const std::uint8_t* pixels, std::uint32_t width, std::uint32_t height,
                                             unsigned channels, double dpi, const PngEncodeOptions& options = {});

// Continues a PNG chunk CRC (zlib's CRC-32; start from 0) over `size` bytes of any length.
// The encoder and the chunk walk both use it.
std::uint32_t png_crc_update(std::uint32_t crc, const std::uint8_t* data, std::size_t size);

}  // namespace quorvane::cv
