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

void write_be32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

std::uint32_t crc_of(const std::uint8_t* data, std::size_t size) {
  uLong crc = crc32(0L, Z_NULL, 0);
  // zlib's length parameter is 32-bit on some platforms; feed large spans in pieces.
  while (size > 0) {
    const uInt piece = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
    crc = crc32(crc, data, piece);
    data += piece;
    size -= piece;
  }
  return static_cast<std::uint32_t>(crc);
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
    case kPngGrey: return 1;
    case kPngRgb: return 3;
    case kPngPalette: return 1;
    case kPngGreyAlpha: return 2;
    case kPngRgba: return 4;
    default: return 0;
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
    return error("invalid PNG signature");

  PngHeader header;
  bool have_header = false;
  bool have_palette = false;
  // 0: no image data yet, 1: inside the IDAT run, 2: past it.
  int image_data = 0;
  std::size_t pos = kSignature.size();
  for (;;) {
    if (bytes.size() - pos < 8) return error("unexpected end of data");
    const std::uint32_t length = read_be32(bytes.data() + pos);
    const std::uint8_t* type = bytes.data() + pos + 4;
    if (length > kPngMax) return error("chunk length " + std::to_string(length) + " is too large");
    for (int i = 0; i < 4; ++i)
      if (!is_chunk_letter(type[i])) return error("invalid chunk type at offset " + std::to_string(pos + 4));
    const std::string name = chunk_name(type);

    if (!have_header && name != "IHDR") return error("first chunk is " + name + ", not IHDR");
    const bool is_image_data = name == "IDAT";
    if ((is_image_data || name == "fdAT") && image_data == 0) {
      if (header.color_type == kPngPalette && !have_palette) return error("indexed image without PLTE");
      // The probe stops here: the image data is never read, so a truncated or damaged
      // pixel stream still yields the header facts.
      if (!whole) return header;
    }
    if (name == "IEND" && image_data == 0) return error("no image data before IEND");

    if (bytes.size() - pos - 8 < std::size_t{length} + 4) return error("unexpected end of data in chunk " + name);
    const std::uint8_t* data = type + 4;
    const std::uint32_t stored_crc = read_be32(data + length);
    if (crc_of(type, std::size_t{length} + 4) != stored_crc) return error("CRC mismatch in chunk " + name);

    if (is_image_data) {
      if (image_data == 2) return error("IDAT chunks are not consecutive");
      image_data = 1;
    } else if (image_data == 1) {
      image_data = 2;
    }

    if (name == "IHDR") {
      if (have_header) return error("duplicate IHDR");
      if (length != 13) return error("invalid IHDR length " + std::to_string(length));
      header.width = read_be32(data);
      header.height = read_be32(data + 4);
      header.bit_depth = data[8];
      header.color_type = data[9];
      header.interlace = data[12];
      if (header.width == 0 || header.height == 0 || header.width > kPngMax || header.height > kPngMax)
        return error("invalid image size " + std::to_string(header.width) + "x" + std::to_string(header.height));
      if (png_channel_count(header.color_type) == 0)
        return error("invalid colour type " + std::to_string(header.color_type));
      if (!valid_depth_for_type(header.bit_depth, header.color_type))
        return error("invalid bit depth " + std::to_string(header.bit_depth) + " for colour type " +
                     std::to_string(header.color_type));
      if (data[10] != 0) return error("unknown compression method " + std::to_string(data[10]));
      if (data[11] != 0) return error("unknown filter method " + std::to_string(data[11]));
      if (header.interlace > 1) return error("unknown interlace method " + std::to_string(header.interlace));
      have_header = true;
    } else if (name == "PLTE") {
      if (length == 0 || length % 3 != 0 || length > 256 * 3) return error("invalid PLTE length " + std::to_string(length));
      have_palette = true;
    } else if (name == "pHYs") {
      if (length != 9) return error("invalid pHYs length " + std::to_string(length));
      // Only a pHYs ahead of the image data counts, as the probe never sees later ones.
      if (image_data == 0) header.physical = PngPhysical{read_be32(data), read_be32(data + 4), data[8]};
    } else if (name == "IEND") {
      return header;
    } else if (!is_image_data && (type[0] & 0x20) == 0) {
      // An unknown critical chunk means the file needs a feature no decoder here has.
      return error("unknown critical chunk " + name);
    }
    pos += 8 + std::size_t{length} + 4;
  }
}

}  // namespace

Result<PngHeader> probe_png(std::span<const std::uint8_t> bytes) { return walk_png(bytes, false); }

Result<PngHeader> check_png(std::span<const std::uint8_t> bytes) { return walk_png(bytes, true); }

// ---------------------------------------------------------------------------------------
// Encoder

namespace {

// Branch-free so the row loops vectorise: the three predictor distances are compared
// with selects, not jumps.
inline std::uint8_t paeth(int a, int b, int c) {
  const int pa = std::abs(b - c);
  const int pb = std::abs(a - c);
  const int pc = std::abs(a + b - 2 * c);
  const int bc = pb <= pc ? b : c;
  return static_cast<std::uint8_t>(pa <= pb && pa <= pc ? a : bc);
}

// Cost of a filtered byte for the adaptive heuristic: its distance from zero as a
// signed value, so small negative residues are as cheap as small positive ones.
inline unsigned cost(std::uint8_t v) { return static_cast<unsigned>(std::abs(static_cast<int>(static_cast<std::int8_t>(v)))); }

// The five PNG filters of one row. `prev` is the unfiltered previous row (all zero above
// the first row); out[f] receives n residues for filter f. Returns the adaptive costs.
struct RowCosts {
  unsigned cost[5] = {0, 0, 0, 0, 0};
};

void filter_one(int f, const std::uint8_t* cur, const std::uint8_t* prev, std::size_t n, unsigned bpp,
                std::uint8_t* out) {
  switch (f) {
    case 0:
      std::memcpy(out, cur, n);
      break;
    case 1:
      for (std::size_t i = 0; i < bpp; ++i) out[i] = cur[i];
      for (std::size_t i = bpp; i < n; ++i) out[i] = static_cast<std::uint8_t>(cur[i] - cur[i - bpp]);
      break;
    case 2:
      for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(cur[i] - prev[i]);
      break;
    case 3:
      for (std::size_t i = 0; i < bpp; ++i) out[i] = static_cast<std::uint8_t>(cur[i] - (prev[i] >> 1));
      for (std::size_t i = bpp; i < n; ++i)
        out[i] = static_cast<std::uint8_t>(cur[i] - ((unsigned{cur[i - bpp]} + prev[i]) >> 1));
      break;
    default:
      for (std::size_t i = 0; i < bpp; ++i) out[i] = static_cast<std::uint8_t>(cur[i] - prev[i]);
      for (std::size_t i = bpp; i < n; ++i)
        out[i] = static_cast<std::uint8_t>(cur[i] - paeth(cur[i - bpp], prev[i], prev[i - bpp]));
      break;
  }
}

unsigned cost_of(const std::uint8_t* row, std::size_t n) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < n; ++i) sum += cost(row[i]);
  return sum;
}

// Writes one filtered row (filter byte + residues) to `out`. The adaptive choice is the
// usual minimum-sum-of-absolute-differences heuristic over all five filters.
void filter_row(PngFilter choice, const std::uint8_t* cur, const std::uint8_t* prev, std::size_t n, unsigned bpp,
                std::uint8_t* out, std::vector<std::uint8_t>& scratch) {
  if (choice != PngFilter::Adaptive) {
    const int f = static_cast<int>(choice);
    out[0] = static_cast<std::uint8_t>(f);
    filter_one(f, cur, prev, n, bpp, out + 1);
    return;
  }
  scratch.resize(4 * n);
  unsigned best_cost = cost_of(cur, n);
  int best = 0;
  for (int f = 1; f < 5; ++f) {
    std::uint8_t* row = scratch.data() + (f - 1) * n;
    filter_one(f, cur, prev, n, bpp, row);
    const unsigned c = cost_of(row, n);
    if (c < best_cost) {
      best_cost = c;
      best = f;
    }
  }
  out[0] = static_cast<std::uint8_t>(best);
  std::memcpy(out + 1, best == 0 ? cur : scratch.data() + (best - 1) * n, n);
}

struct DeflateStream {
  z_stream zs{};
  bool open = false;
  ~DeflateStream() {
    if (open) deflateEnd(&zs);
  }
};

class ChunkWriter {
public:
  explicit ChunkWriter(const PngSink& sink) : sink_(sink) {}

  std::optional<std::string> raw(std::span<const std::uint8_t> bytes) { return sink_(bytes); }

  // `buffer` holds 8 free bytes, the chunk data, then 4 free bytes.
  std::optional<std::string> framed(const char* type, std::uint8_t* buffer, std::size_t data_size) {
    write_be32(buffer, static_cast<std::uint32_t>(data_size));
    std::memcpy(buffer + 4, type, 4);
    write_be32(buffer + 8 + data_size, crc_of(buffer + 4, data_size + 4));
    return sink_(std::span<const std::uint8_t>(buffer, data_size + 12));
  }

  std::optional<std::string> small(const char* type, const std::uint8_t* data, std::size_t size) {
    std::uint8_t buffer[8 + 16 + 4];
    if (size > 0) std::memcpy(buffer + 8, data, size);
    return framed(type, buffer, size);
  }

private:
  const PngSink& sink_;
};

}  // namespace

std::optional<std::string> write_png(const std::uint8_t* pixels, std::uint32_t width, std::uint32_t height,
                                     unsigned channels, double dpi, const PngSink& sink,
                                     const PngEncodeOptions& options) {
  if (width == 0 || height == 0) return "cannot encode an image of zero width or height";
  if (channels != 3 && channels != 4) return "cannot encode " + std::to_string(channels) + " channels per pixel";
  if (width > kPngMax || height > kPngMax) return "image dimensions exceed the PNG limit";
  if (pixels == nullptr) return "no pixel data";

  ChunkWriter out(sink);
  if (auto e = out.raw(kSignature)) return e;

  std::uint8_t ihdr[13];
  write_be32(ihdr, width);
  write_be32(ihdr + 4, height);
  ihdr[8] = 8;
  ihdr[9] = channels == 4 ? kPngRgba : kPngRgb;
  ihdr[10] = ihdr[11] = ihdr[12] = 0;
  if (auto e = out.small("IHDR", ihdr, sizeof ihdr)) return e;

  std::uint8_t phys[9];
  const std::uint32_t ppm = dpi_to_pixels_per_metre(dpi);
  write_be32(phys, ppm);
  write_be32(phys + 4, ppm);
  phys[8] = 1;
  if (auto e = out.small("pHYs", phys, sizeof phys)) return e;

  DeflateStream stream;
  const int level = std::clamp(options.level, 0, 9);
  int strategy = Z_DEFAULT_STRATEGY;
  switch (options.strategy) {
    case PngDeflate::Default: strategy = Z_DEFAULT_STRATEGY; break;
    case PngDeflate::Filtered: strategy = Z_FILTERED; break;
    case PngDeflate::Rle: strategy = Z_RLE; break;
    case PngDeflate::HuffmanOnly: strategy = Z_HUFFMAN_ONLY; break;
  }
  if (deflateInit2(&stream.zs, level, Z_DEFLATED, 15, 9, strategy) != Z_OK)
    return "deflate initialisation failed";
  stream.open = true;

  const std::size_t row_bytes = std::size_t{width} * channels;
  const std::size_t filtered_row = row_bytes + 1;
  // Filter a band of rows at a time so deflate is called on sizeable blocks.
  const std::size_t rows_per_band = std::max<std::size_t>(1, (256 * 1024) / filtered_row);
  std::vector<std::uint8_t> band(rows_per_band * filtered_row);
  std::vector<std::uint8_t> zero_row(row_bytes, 0);
  std::vector<std::uint8_t> scratch;
  constexpr std::size_t kIdatData = 256 * 1024;
  std::vector<std::uint8_t> idat(8 + kIdatData + 4);

  stream.zs.next_out = idat.data() + 8;
  stream.zs.avail_out = kIdatData;

  auto emit = [&]() -> std::optional<std::string> {
    const std::size_t produced = kIdatData - stream.zs.avail_out;
    stream.zs.next_out = idat.data() + 8;
    stream.zs.avail_out = kIdatData;
    if (produced == 0) return std::nullopt;
    return out.framed("IDAT", idat.data(), produced);
  };
  auto drain = [&](int flush) -> std::optional<std::string> {
    for (;;) {
      const int rc = deflate(&stream.zs, flush);
      if (rc == Z_STREAM_ERROR) return std::string("deflate failed");
      if (stream.zs.avail_out == 0 || rc == Z_STREAM_END) {
        if (auto e = emit()) return e;
      }
      if (rc == Z_STREAM_END) return std::nullopt;
      // Without flushing, deflate only stops early when its output is full.
      if (flush == Z_NO_FLUSH && stream.zs.avail_in == 0 && stream.zs.avail_out != 0) return std::nullopt;
    }
  };

  for (std::uint32_t y0 = 0; y0 < height;) {
    const std::uint32_t rows = static_cast<std::uint32_t>(std::min<std::size_t>(rows_per_band, height - y0));
    for (std::uint32_t r = 0; r < rows; ++r) {
      const std::uint32_t y = y0 + r;
      const std::uint8_t* cur = pixels + std::size_t{y} * row_bytes;
      const std::uint8_t* prev = y == 0 ? zero_row.data() : cur - row_bytes;
      filter_row(options.filter, cur, prev, row_bytes, channels, band.data() + r * filtered_row, scratch);
    }
    stream.zs.next_in = band.data();
    stream.zs.avail_in = static_cast<uInt>(rows * filtered_row);
    if (auto e = drain(Z_NO_FLUSH)) return e;
    y0 += rows;
  }
  stream.zs.next_in = nullptr;
  stream.zs.avail_in = 0;
  if (auto e = drain(Z_FINISH)) return e;

  return out.small("IEND", nullptr, 0);
}

Result<std::vector<std::uint8_t>> encode_png(const std::uint8_t* pixels, std::uint32_t width, std::uint32_t height,
                                             unsigned channels, double dpi, const PngEncodeOptions& options) {
  std::vector<std::uint8_t> bytes;
  // Screens compress to a fraction of their raw size; reserve a guess, not the worst case.
  bytes.reserve(std::size_t{width} * height * channels / 8 + 1024);
  auto e = write_png(
      pixels, width, height, channels, dpi,
      [&bytes](std::span<const std::uint8_t> piece) -> std::optional<std::string> {
        bytes.insert(bytes.end(), piece.begin(), piece.end());
        return std::nullopt;
      },
      options);
  if (e) return error(std::move(*e));
  return bytes;
}

}  // namespace quorvane::cv
