#include "cv/png_encode.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "cv/png.h"
#include "cv/png_kernels.h"

namespace quorvane::cv {

namespace {

constexpr std::array<std::uint8_t, 8> kSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// The PNG format caps dimensions at 2^31 - 1 so they survive signed readers.
constexpr std::uint32_t kPngMax = 0x7FFFFFFFu;
// Rows are filtered and compressed a band of about this many bytes at a time, so the
// filtered rows are still in cache when the match finder reads them.
constexpr std::size_t kBandBytes = 128 * 1024;
// IDAT chunks are written once this much compressed data has gathered.
constexpr std::size_t kIdatBytes = 256 * 1024;

void put_be32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

// Frames chunk data without copying it: length and type, the data, then the CRC.
Result<void> write_chunk(const PngSink& sink, const char* type, std::span<const std::uint8_t> data) {
  std::uint8_t head[8];
  put_be32(head, static_cast<std::uint32_t>(data.size()));
  std::memcpy(head + 4, type, 4);
  std::uint32_t crc = png_crc_update(0, head + 4, 4);
  crc = png_crc_update(crc, data.data(), data.size());
  std::uint8_t tail[4];
  put_be32(tail, crc);
  if (Result<void> e = sink(head); !e) return e;
  if (!data.empty())
    if (Result<void> e = sink(data); !e) return e;
  return sink(tail);
}

}  // namespace

Result<void> write_png(const std::uint8_t* pixels, std::uint32_t width, std::uint32_t height, unsigned channels,
                       double dpi, const PngSink& sink, const PngEncodeOptions& options) {
  if (width == 0 || height == 0) return fail("cannot encode an image of zero width or height");
  if (channels != 3 && channels != 4) return fail("cannot encode " + std::to_string(channels) + " channels per pixel");
  if (width > kPngMax || height > kPngMax) return fail("image dimensions exceed the PNG limit");
  if (pixels == nullptr) return fail("no pixel data");

  if (Result<void> e = sink(kSignature); !e) return e;

  std::uint8_t ihdr[13];
  put_be32(ihdr, width);
  put_be32(ihdr + 4, height);
  ihdr[8] = 8;
  ihdr[9] = channels == 4 ? kPngRgba : kPngRgb;
  ihdr[10] = ihdr[11] = ihdr[12] = 0;
  if (Result<void> e = write_chunk(sink, "IHDR", ihdr); !e) return e;

  std::uint8_t phys[9];
  const std::uint32_t ppm = dpi_to_pixels_per_metre(dpi);
  put_be32(phys, ppm);
  put_be32(phys + 4, ppm);
  phys[8] = 1;
  if (Result<void> e = write_chunk(sink, "pHYs", phys); !e) return e;

  const PngKernels& kernels = png_kernels();
  const int filter = static_cast<int>(options.filter);
  const std::size_t row_bytes = std::size_t{width} * channels;
  const std::size_t filtered_row = row_bytes + 1;
  const std::size_t rows_per_band = std::max<std::size_t>(1, kBandBytes / filtered_row);
  // Filters read the row above; above the first row the PNG format has zeros.
  const std::vector<std::uint8_t> zero_row(row_bytes, 0);

  ZlibCompressor z(options.deflate);
  auto emit_idat = [&](bool all) -> Result<void> {
    if (z.output().empty() || (!all && z.output().size() < kIdatBytes)) return {};
    Result<void> e = write_chunk(sink, "IDAT", z.output());
    z.consume_output();
    return e;
  };

  for (std::uint32_t y0 = 0; y0 < height;) {
    const std::size_t rows = std::min<std::size_t>(rows_per_band, height - y0);
    std::uint8_t* band = z.input_space(rows * filtered_row);
    for (std::size_t r = 0; r < rows; ++r) {
      const std::size_t y = y0 + r;
      const std::uint8_t* cur = pixels + y * row_bytes;
      const std::uint8_t* prev = y == 0 ? zero_row.data() : cur - row_bytes;
      kernels.filter_row(filter, cur, prev, row_bytes, channels, band + r * filtered_row);
    }
    z.commit(rows * filtered_row);
    if (Result<void> e = emit_idat(false); !e) return e;
    y0 += static_cast<std::uint32_t>(rows);
  }
  z.finish();
  if (Result<void> e = emit_idat(true); !e) return e;
  return write_chunk(sink, "IEND", {});
}

Result<std::vector<std::uint8_t>> encode_png(const std::uint8_t* pixels, std::uint32_t width, std::uint32_t height,
                                             unsigned channels, double dpi, const PngEncodeOptions& options) {
  std::vector<std::uint8_t> bytes;
  // Screens compress to a fraction of their raw size; reserve a guess, not the worst case.
  bytes.reserve(std::size_t{width} * height * channels / 8 + 1024);
  Result<void> written = write_png(
      pixels, width, height, channels, dpi,
      [&bytes](std::span<const std::uint8_t> piece) -> Result<void> {
        bytes.insert(bytes.end(), piece.begin(), piece.end());
        return {};
      },
      options);
  if (!written) return std::move(written).failure();
  return bytes;
}

// zlib's CRC takes a 32-bit length on some platforms; feed large spans in pieces.
std::uint32_t png_crc_update(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
  uLong c = crc;
  while (size > 0) {
    const uInt piece = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
    c = crc32(c, data, piece);
    data += piece;
    size -= piece;
  }
  return static_cast<std::uint32_t>(c);
}

}  // namespace quorvane::cv
