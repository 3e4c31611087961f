// Hand-assembled PNG files for tests: any colour type and bit depth, chunks in any
// order, deliberately damaged where a test needs it. Independent of the encoder under
// test so that the decoder and the probe are checked against a second writer.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::cv::testing {

using Bytes = std::vector<std::uint8_t>;

inline void put_be32(Bytes& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 24));
  out.push_back(static_cast<std::uint8_t>(v >> 16));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

inline void put_chunk(Bytes& out, std::string_view type, const Bytes& data) {
  put_be32(out, static_cast<std::uint32_t>(data.size()));
  Bytes body(type.begin(), type.end());
  body.insert(body.end(), data.begin(), data.end());
  out.insert(out.end(), body.begin(), body.end());
  put_be32(out, static_cast<std::uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size()))));
}

inline Bytes signature() { return {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}; }

inline Bytes ihdr_data(std::uint32_t w, std::uint32_t h, std::uint8_t depth, std::uint8_t type) {
  Bytes d;
  put_be32(d, w);
  put_be32(d, h);
  d.insert(d.end(), {depth, type, 0, 0, 0});
  return d;
}

inline Bytes phys_data(std::uint32_t x, std::uint32_t y, std::uint8_t unit) {
  Bytes d;
  put_be32(d, x);
  put_be32(d, y);
  d.push_back(unit);
  return d;
}

inline Bytes zlib_compress(const Bytes& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  Bytes out(size);
  compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 6);
  out.resize(size);
  return out;
}

struct PngLayout {
  std::uint32_t width = 1;
  std::uint32_t height = 1;
  std::uint8_t depth = 8;
  std::uint8_t type = 2;
  // Packed samples per row, without filter bytes (each row gets filter 0).
  std::vector<Bytes> rows;
  Bytes palette;  // PLTE data for type 3
  Bytes trns;     // tRNS data, if any
  bool phys = false;
  std::uint32_t ppu_x = 0, ppu_y = 0;
  std::uint8_t unit = 1;
};

inline Bytes build_png(const PngLayout& s) {
  Bytes out = signature();
  put_chunk(out, "IHDR", ihdr_data(s.width, s.height, s.depth, s.type));
  if (s.phys) put_chunk(out, "pHYs", phys_data(s.ppu_x, s.ppu_y, s.unit));
  if (!s.palette.empty()) put_chunk(out, "PLTE", s.palette);
  if (!s.trns.empty()) put_chunk(out, "tRNS", s.trns);
  Bytes raw;
  for (const Bytes& row : s.rows) {
    raw.push_back(0);
    raw.insert(raw.end(), row.begin(), row.end());
  }
  put_chunk(out, "IDAT", zlib_compress(raw));
  put_chunk(out, "IEND", {});
  return out;
}

// An 8-bit RGB PNG of the given pixels (width * height * 3 bytes).
inline Bytes rgb_png(std::uint32_t w, std::uint32_t h, const Bytes& rgb) {
  PngLayout s;
  s.width = w;
  s.height = h;
  for (std::uint32_t y = 0; y < h; ++y) s.rows.emplace_back(rgb.begin() + y * w * 3, rgb.begin() + (y + 1) * w * 3);
  return build_png(s);
}

}  // namespace quorvane::cv::testing
