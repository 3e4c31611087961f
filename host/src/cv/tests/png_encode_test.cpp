// The capture encoder, decoded by others: zlib's inflate with our own unfilter (which also
// shows the filter chosen for each row), stb_image, and natively ImageMagick.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "cv/png.h"
#include "cv/png_encode.h"
#include "lumetra/cpu.h"
#include "png_builder.h"
#include "png_unfilter.h"
#include "stb_reference.h"
#include "synthetic_screen.h"

namespace quorvane::cv {
namespace {

using testing::Bytes;
using ::testing::HasSubstr;

std::uint32_t be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

struct ChunkInfo {
  std::string type;
  Bytes data;
};

// Splits an encoded stream into its chunks, checking every CRC on the way.
std::vector<ChunkInfo> chunks_of(const Bytes& png) {
  std::vector<ChunkInfo> out;
  EXPECT_TRUE(png.size() >= 8 && std::equal(png.begin(), png.begin() + 8, testing::signature().begin()));
  std::size_t pos = 8;
  while (pos + 12 <= png.size()) {
    const std::uint32_t len = be32(png.data() + pos);
    if (len > png.size() - pos - 12) break;
    ChunkInfo c;
    c.type.assign(png.begin() + pos + 4, png.begin() + pos + 8);
    c.data.assign(png.begin() + pos + 8, png.begin() + pos + 8 + len);
    const std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, png.data() + pos + 4, len + 4));
    EXPECT_EQ(crc, be32(png.data() + pos + 8 + len)) << c.type;
    out.push_back(std::move(c));
    pos += 12 + std::size_t{len};
  }
  EXPECT_EQ(pos, png.size());
  return out;
}

struct Inflated {
  std::vector<int> filters;  // per row
  Bytes pixels;              // unfiltered
};

// The second decoder: zlib's inflate (which checks the Adler-32) over the joined IDAT
// data, then the five filters undone as the PNG format defines them.
std::optional<Inflated> inflate_png(const Bytes& png, std::uint32_t w, std::uint32_t h, unsigned channels) {
  Bytes z;
  for (const ChunkInfo& c : chunks_of(png))
    if (c.type == "IDAT") z.insert(z.end(), c.data.begin(), c.data.end());
  const std::size_t n = std::size_t{w} * channels;
  Bytes raw((n + 1) * h + 1);
  uLongf size = static_cast<uLongf>(raw.size());
  if (uncompress(raw.data(), &size, z.data(), static_cast<uLong>(z.size())) != Z_OK || size != (n + 1) * h)
    return std::nullopt;
  Inflated out;
  out.pixels.resize(n * h);
  for (std::uint32_t y = 0; y < h; ++y) {
    const std::uint8_t* f = raw.data() + y * (n + 1);
    std::uint8_t* cur = out.pixels.data() + y * n;
    const std::uint8_t* prev = y > 0 ? cur - n : nullptr;
    out.filters.push_back(f[0]);
    if (!testing::unfilter_row(f, prev, n, channels, cur)) return std::nullopt;
  }
  return out;
}

Bytes random_pixels(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& v : b) v = static_cast<std::uint8_t>(rng());
  return b;
}

// Pictures of a given size and kind, `channels` samples per pixel.
Bytes picture(std::uint32_t w, std::uint32_t h, unsigned channels, int kind, unsigned seed) {
  const std::size_t n = std::size_t{w} * h;
  if (kind == 0) return random_pixels(n * channels, seed);
  Bytes out;
  out.reserve(n * channels);
  if (kind == 1) {  // flat, one colour
    for (std::size_t i = 0; i < n; ++i)
      for (unsigned c = 0; c < channels; ++c) out.push_back(static_cast<std::uint8_t>(40 + 60 * c));
    return out;
  }
  const auto screen = testing::make_desktop_screen(w, h, seed);  // windows, text, wallpaper
  for (std::size_t i = 0; i < n; ++i) {
    out.insert(out.end(), screen.pixels.begin() + 3 * i, screen.pixels.begin() + 3 * i + 3);
    if (channels == 4) out.push_back(static_cast<std::uint8_t>(i % 7 == 0 ? 0 : 255));
  }
  return out;
}

void expect_same_pixels(const Bytes& png, const Bytes& src, std::uint32_t w, std::uint32_t h, unsigned channels,
                        const std::string& what) {
  const auto inflated = inflate_png(png, w, h, channels);
  ASSERT_TRUE(inflated) << what;
  ASSERT_EQ(inflated->pixels, src) << what;
  const auto decoded = testing::reference_decode_rgba(png);
  ASSERT_TRUE(decoded) << what;
  ASSERT_EQ(decoded->width, static_cast<int>(w));
  ASSERT_EQ(decoded->height, static_cast<int>(h));
  for (std::size_t p = 0; p < std::size_t{w} * h; ++p) {
    for (unsigned c = 0; c < 3; ++c) ASSERT_EQ(decoded->rgba[p * 4 + c], src[p * channels + c]) << what << " at " << p;
    ASSERT_EQ(decoded->rgba[p * 4 + 3], channels == 4 ? src[p * 4 + 3] : 255) << what << " at " << p;
  }
}

TEST(PngEncode, EverySizeFilterAndContentDecodesToTheSamePixels) {
  const PngFilter filters[] = {PngFilter::None,    PngFilter::Sub,   PngFilter::Up,
                               PngFilter::Average, PngFilter::Paeth, PngFilter::Adaptive};
  const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{1, 1}, {1, 9}, {9, 1}, {2, 3}, {7, 5}, {33, 17}, {151, 97}};
  for (unsigned channels : {3u, 4u})
    for (auto [w, h] : sizes)
      for (int kind = 0; kind < 3; ++kind) {
        const Bytes src = picture(w, h, channels, kind, w * 31 + h);
        for (PngFilter filter : filters) {
          PngEncodeOptions options;
          options.filter = filter;
          const auto png = encode_png(src.data(), w, h, channels, 96.0, options);
          ASSERT_TRUE(png.ok()) << png.error();
          expect_same_pixels(*png, src, w, h, channels,
                             std::to_string(w) + "x" + std::to_string(h) + "x" + std::to_string(channels) + " kind " +
                                 std::to_string(kind) + " filter " + std::to_string(static_cast<int>(filter)));
        }
      }
}

TEST(PngEncode, ScreenSizedCapturesDecodeAtEveryKernelLevel) {
  // Full-width rows exercise the vector loops and the band seams of the compressor.
  const std::uint32_t w = 1366, h = 200;
  const Bytes src = picture(w, h, 4, 2, 3);
  Bytes first;
  using lumetra::cpu::Level;
  constexpr Level kPngLevels[] = {Level::Scalar, Level::Sse2, Level::Avx2};
  lumetra::cpu::for_each_level(kPngLevels, [&](Level level) {
    const auto png = encode_png(src.data(), w, h, 4, 96.0);
    ASSERT_TRUE(png.ok());
    expect_same_pixels(*png, src, w, h, 4, lumetra::cpu::level_name(level));
    if (level == Level::Scalar) first = *png;
    EXPECT_EQ(*png, first) << "every level writes the same file";
  });
}

// The filter with the smallest sum of residue magnitudes, the lowest type on a tie,
// computed here the slow way.
int cheapest_filter(const Bytes& pixels, std::uint32_t w, std::uint32_t y, unsigned channels) {
  const std::size_t n = std::size_t{w} * channels;
  const std::uint8_t* cur = pixels.data() + y * n;
  const std::uint8_t* prev = y > 0 ? cur - n : nullptr;
  long best_cost = -1;
  int best = 0;
  for (int f = 0; f < 5; ++f) {
    long cost = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const int a = i >= channels ? cur[i - channels] : 0, b = prev ? prev[i] : 0;
      const int c = prev && i >= channels ? prev[i - channels] : 0;
      const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
      const int pred[5] = {0, a, b, (a + b) / 2, pa <= pb && pa <= pc ? a : pb <= pc ? b : c};
      const auto r = static_cast<std::int8_t>(static_cast<std::uint8_t>(cur[i] - pred[f]));
      cost += std::abs(static_cast<int>(r));
    }
    if (best_cost < 0 || cost < best_cost) {
      best_cost = cost;
      best = f;
    }
  }
  return best;
}

TEST(PngEncode, AdaptiveFilterPicksTheCheapestRow) {
  for (unsigned channels : {3u, 4u}) {
    const std::uint32_t w = 301, h = 40;
    Bytes src = picture(w, h, channels, 2, 4);
    // Rows 10-12 repeat row 9: free under Up.
    const std::size_t n = std::size_t{w} * channels;
    for (int y = 10; y <= 12; ++y) std::copy_n(src.begin() + 9 * n, n, src.begin() + y * n);
    const auto png = encode_png(src.data(), w, h, channels, 96.0);
    ASSERT_TRUE(png.ok());
    const auto inflated = inflate_png(*png, w, h, channels);
    ASSERT_TRUE(inflated);
    EXPECT_EQ(inflated->pixels, src);
    for (std::uint32_t y = 0; y < h; ++y)
      EXPECT_EQ(inflated->filters[y], cheapest_filter(src, w, y, channels)) << "row " << y;
    EXPECT_EQ(inflated->filters[11], 2);
  }
}

TEST(PngEncode, WritesHeaderPhysDataAndEndInThatOrder) {
  const Bytes px = random_pixels(5 * 4 * 3, 1);
  auto png = encode_png(px.data(), 5, 4, 3, 144.0);
  ASSERT_TRUE(png.ok());
  const auto chunks = chunks_of(*png);
  ASSERT_GE(chunks.size(), 4u);
  EXPECT_EQ(chunks[0].type, "IHDR");
  EXPECT_EQ(chunks[0].data, testing::ihdr_data(5, 4, 8, 2));
  EXPECT_EQ(chunks[1].type, "pHYs");
  EXPECT_EQ(chunks[1].data, testing::phys_data(5669, 5669, 1));
  for (std::size_t i = 2; i + 1 < chunks.size(); ++i) EXPECT_EQ(chunks[i].type, "IDAT");
  EXPECT_EQ(chunks.back().type, "IEND");
  EXPECT_TRUE(chunks.back().data.empty());

  auto rgba = encode_png(random_pixels(5 * 4 * 4, 2).data(), 5, 4, 4, 96.0);
  ASSERT_TRUE(rgba.ok());
  const auto rgba_chunks = chunks_of(*rgba);
  EXPECT_EQ(rgba_chunks[0].data, testing::ihdr_data(5, 4, 8, 6));
  EXPECT_EQ(rgba_chunks[1].data, testing::phys_data(3780, 3780, 1));

  // The probe reads back what was written.
  const auto header = probe_png(*png);
  ASSERT_TRUE(header.ok()) << header.error();
  EXPECT_EQ(header->width, 5u);
  ASSERT_TRUE(header->physical);
  EXPECT_EQ(header->physical->x_pixels_per_unit, 5669u);
}

TEST(PngEncode, LargeImagesSpanSeveralDataChunks) {
  const Bytes px = random_pixels(std::size_t{400} * 300 * 4, 3);
  auto png = encode_png(px.data(), 400, 300, 4, 96.0);
  ASSERT_TRUE(png.ok());
  const auto chunks = chunks_of(*png);
  EXPECT_GT(std::count_if(chunks.begin(), chunks.end(), [](const ChunkInfo& c) { return c.type == "IDAT"; }), 1);
  expect_same_pixels(*png, px, 400, 300, 4, "noise 400x300");
}

TEST(PngEncode, RefusesWhatItCannotWriteAndPassesSinkErrorsOn) {
  const Bytes px(12, 0);
  EXPECT_FALSE(encode_png(px.data(), 0, 2, 3, 96.0).ok());
  EXPECT_FALSE(encode_png(px.data(), 2, 0, 3, 96.0).ok());
  EXPECT_THAT(encode_png(px.data(), 2, 2, 2, 96.0).error(), HasSubstr("2 channels"));
  EXPECT_FALSE(encode_png(nullptr, 2, 2, 3, 96.0).ok());
  EXPECT_FALSE(encode_png(px.data(), 0x80000000u, 1, 3, 96.0).ok());

  // A failure at any piece stops the writing there.
  const Bytes big = picture(300, 300, 4, 2, 5);
  for (int fail_at : {1, 3, 7, 12}) {
    int calls = 0;
    auto failing = [&](std::span<const std::uint8_t>) -> Result<void> {
      if (++calls == fail_at) return fail("disk full");
      return {};
    };
    EXPECT_EQ(write_png(big.data(), 300, 300, 4, 96.0, failing).error(), "disk full");
    EXPECT_EQ(calls, fail_at);
  }
}

#ifndef _WIN32
TEST(PngEncode, ImageMagickReadsTheSamePixels) {
  if (std::system("convert -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ImageMagick is not installed";
  const std::uint32_t w = 97, h = 61;
  for (unsigned channels : {3u, 4u}) {
    const Bytes src = picture(w, h, channels, 2, 8);
    const auto png = encode_png(src.data(), w, h, channels, 96.0);
    ASSERT_TRUE(png.ok());
    const auto path =
        std::filesystem::temp_directory_path() / ("quorvane_png_encode_test_" + std::to_string(channels) + ".png");
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(png->data(), 1, png->size(), f);
    std::fclose(f);
    const std::string command =
        "convert '" + path.string() + "' -depth 8 " + (channels == 4 ? "rgba" : "rgb") + ":- 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    Bytes decoded(src.size() + 1);
    const std::size_t got = std::fread(decoded.data(), 1, decoded.size(), pipe);
    pclose(pipe);
    std::filesystem::remove(path);
    decoded.resize(got);
    EXPECT_EQ(decoded, src) << channels << " channels";
  }
}
#endif

}  // namespace
}  // namespace quorvane::cv
