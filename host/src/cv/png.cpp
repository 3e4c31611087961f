#include "cv/png.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

namespace quorvane::cv {

namespace {

constexpr std::array<std::uint8_t, 8> kSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// The PNG format caps lengths and dimensions at 2^31 - 1 so they survive signed readers.
constexpr std::uint32_t kPngMax = 0x7FFFFFFFu;

std::uint32_t read_be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
}

bool valid_depth_for_type(std::uint8_t depth, std::uint8_t type) {
  switch (type) {
    case kPngGrey:
      return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case kPngPalette:
      return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case kPngRgb:
    case kPngGreyAlpha:
    case kPngRgba:
      return depth == 8 || depth == 16;
    default:
      return false;
  }
}

std::string chunk_name(const std::uint8_t* type) { return std::string(reinterpret_cast<const char*>(type), 4); }

bool is_chunk_letter(std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

unsigned png_channel_count(std::uint8_t color_type) {
  switch (color_type) {
    case kPngGrey:
      return 1;
    case kPngRgb:
      return 3;
    case kPngPalette:
      return 1;
    case kPngGreyAlpha:
      return 2;
    case kPngRgba:
      return 4;
    default:
      return 0;
  }
}

double pixels_per_metre_to_dpi(std::uint32_t pixels_per_metre) {
  return std::round(static_cast<double>(pixels_per_metre) * 0.0254);
}

std::uint32_t dpi_to_pixels_per_metre(double dpi) {
  const double ppm = std::round(dpi / 0.0254);
  if (std::isnan(ppm) || ppm <= 0.0) return 0;
  if (ppm >= 4294967295.0) return std::numeric_limits<std::uint32_t>::max();
  return static_cast<std::uint32_t>(ppm);
}

namespace {

// Every rule about chunk framing lives here, so the header probe and the check before
// decoding can never disagree about the same bytes. With `whole` false the walk stops at
// the first image-data chunk without reading it; with `whole` true it goes on to IEND.
// Messages name chunks only once their type bytes are known to be letters, so no error
// text ever quotes raw binary.
Result<PngHeader> walk_png(std::span<const std::uint8_t> bytes, bool whole) {
  if (bytes.size() < kSignature.size() || !std::equal(kSignature.begin(), kSignature.end(), bytes.begin()))
    return fail("invalid PNG signature");

  PngHeader header;
  bool have_header = false;
  bool have_palette = false;
  // 0: no image data yet, 1: inside the IDAT run, 2: past it.
  int image_data = 0;
  std::size_t pos = kSignature.size();
  for (;;) {
    if (bytes.size() - pos < 8) return fail("unexpected end of data");
    const std::uint32_t length = read_be32(bytes.data() + pos);
    const std::uint8_t* type = bytes.data() + pos + 4;
    if (length > kPngMax) return fail("chunk length " + std::to_string(length) + " is too large");
    for (int i = 0; i < 4; ++i)
      if (!is_chunk_letter(type[i])) return fail("invalid chunk type at offset " + std::to_string(pos + 4));
    const std::string name = chunk_name(type);

    if (!have_header && name != "IHDR") return fail("first chunk is " + name + ", not IHDR");
    const bool is_image_data = name == "IDAT";
    if ((is_image_data || name == "fdAT") && image_data == 0) {
      if (header.color_type == kPngPalette && !have_palette) return fail("indexed image without PLTE");
      // The probe stops here: the image data is never read, so a truncated or damaged
      // pixel stream still yields the header facts.
      if (!whole) return header;
    }
    if (name == "IEND" && image_data == 0) return fail("no image data before IEND");

    if (bytes.size() - pos - 8 < std::size_t{length} + 4) return fail("unexpected end of data in chunk " + name);
    const std::uint8_t* data = type + 4;
    const std::uint32_t stored_crc = read_be32(data + length);
    if (png_crc_update(0, type, std::size_t{length} + 4) != stored_crc) return fail("CRC mismatch in chunk " + name);

    if (is_image_data) {
      if (image_data == 2) return fail("IDAT chunks are not consecutive");
      image_data = 1;
    } else if (image_data == 1) {
      image_data = 2;
    }

    if (name == "IHDR") {
      if (have_header) return fail("duplicate IHDR");
      if (length != 13) return fail("invalid IHDR length " + std::to_string(length));
      header.width = read_be32(data);
      header.height = read_be32(data + 4);
      header.bit_depth = data[8];
      header.color_type = data[9];
      header.interlace = data[12];
      if (header.width == 0 || header.height == 0 || header.width > kPngMax || header.height > kPngMax)
        return fail("invalid image size " + std::to_string(header.width) + "x" + std::to_string(header.height));
      if (png_channel_count(header.color_type) == 0)
        return fail("invalid colour type " + std::to_string(header.color_type));
      if (!valid_depth_for_type(header.bit_depth, header.color_type))
        return fail("invalid bit depth " + std::to_string(header.bit_depth) + " for colour type " +
                    std::to_string(header.color_type));
      if (data[10] != 0) return fail("unknown compression method " + std::to_string(data[10]));
      if (data[11] != 0) return fail("unknown filter method " + std::to_string(data[11]));
      if (header.interlace > 1) return fail("unknown interlace method " + std::to_string(header.interlace));
      have_header = true;
    } else if (name == "PLTE") {
      if (length == 0 || length % 3 != 0 || length > 256 * 3)
        return fail("invalid PLTE length " + std::to_string(length));
      have_palette = true;
    } else if (name == "pHYs") {
      if (length != 9) return fail("invalid pHYs length " + std::to_string(length));
      // Only a pHYs ahead of the image data counts, as the probe never sees later ones.
      if (image_data == 0) header.physical = PngPhysical{read_be32(data), read_be32(data + 4), data[8]};
    } else if (name == "IEND") {
      return header;
    } else if (!is_image_data && (type[0] & 0x20) == 0) {
      // An unknown critical chunk means the file needs a feature no decoder here has.
      return fail("unknown critical chunk " + name);
    }
    pos += 8 + std::size_t{length} + 4;
  }
}

}  // namespace

Result<PngHeader> probe_png(std::span<const std::uint8_t> bytes) { return walk_png(bytes, false); }

Result<PngHeader> check_png(std::span<const std::uint8_t> bytes) { return walk_png(bytes, true); }

}  // namespace quorvane::cv
