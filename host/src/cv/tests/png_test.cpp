#include "cv/png.h"

#include "png_builder.h"
#include "stb_reference.h"
#include "synthetic_screen.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

namespace quorvane::cv {
namespace {

using testing::Bytes;
using ::testing::HasSubstr;

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
    const std::uint32_t len = (std::uint32_t{png[pos]} << 24) | (std::uint32_t{png[pos + 1]} << 16) |
                              (std::uint32_t{png[pos + 2]} << 8) | png[pos + 3];
    ChunkInfo c;
    c.type.assign(png.begin() + pos + 4, png.begin() + pos + 8);
    c.data.assign(png.begin() + pos + 8, png.begin() + pos + 8 + len);
    const std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, png.data() + pos + 4, len + 4));
    const std::size_t at = pos + 8 + len;
    const std::uint32_t stored = (std::uint32_t{png[at]} << 24) | (std::uint32_t{png[at + 1]} << 16) |
                                 (std::uint32_t{png[at + 2]} << 8) | png[at + 3];
    EXPECT_EQ(crc, stored) << c.type;
    out.push_back(std::move(c));
    pos = at + 4;
  }
  EXPECT_EQ(pos, png.size());
  return out;
}

Bytes random_pixels(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& v : b) v = static_cast<std::uint8_t>(rng());
  return b;
}

TEST(PngEncode, RoundTripsRgbAndRgbaThroughAnIndependentDecoder) {
  const auto screen = testing::make_desktop_screen(151, 97, 7);
  Bytes rgba;
  for (std::size_t i = 0; i < screen.pixels.size(); i += 3) {
    rgba.insert(rgba.end(), {screen.pixels[i], screen.pixels[i + 1], screen.pixels[i + 2]});
    rgba.push_back(static_cast<std::uint8_t>(i * 7));  // varying alpha, including 0
  }
  for (unsigned channels : {3u, 4u}) {
    const Bytes& src = channels == 3 ? screen.pixels : rgba;
    for (PngFilter filter : {PngFilter::None, PngFilter::Sub, PngFilter::Up, PngFilter::Average, PngFilter::Paeth,
                             PngFilter::Adaptive}) {
      for (int level : {0, 1, 9}) {
        auto png = encode_png(src.data(), screen.width, screen.height, channels, 96.0, {level, filter});
        ASSERT_TRUE(png.ok()) << png.error();
        auto decoded = testing::reference_decode_rgba(*png);
        ASSERT_TRUE(decoded) << "filter " << static_cast<int>(filter) << " level " << level;
        ASSERT_EQ(decoded->width, 151);
        ASSERT_EQ(decoded->height, 97);
        for (std::size_t p = 0; p < std::size_t{151} * 97; ++p) {
          for (unsigned c = 0; c < 3; ++c) ASSERT_EQ(decoded->rgba[p * 4 + c], src[p * channels + c]) << p;
          ASSERT_EQ(decoded->rgba[p * 4 + 3], channels == 4 ? src[p * 4 + 3] : 255) << p;
        }
      }
    }
  }
}

TEST(PngEncode, RandomDataSurvivesEveryFilterIncludingOnePixelWideImages) {
  // Noise defeats every predictor, so each filter's arithmetic on the left edge and the
  // first row is exercised with all byte values.
  for (std::uint32_t w : {1u, 2u, 63u}) {
    const Bytes px = random_pixels(std::size_t{w} * 9 * 4, w);
    for (PngFilter filter : {PngFilter::Sub, PngFilter::Average, PngFilter::Paeth, PngFilter::Adaptive}) {
      auto png = encode_png(px.data(), w, 9, 4, 96.0, {1, filter});
      ASSERT_TRUE(png.ok());
      auto decoded = testing::reference_decode_rgba(*png);
      ASSERT_TRUE(decoded);
      EXPECT_EQ(decoded->rgba, px) << "width " << w << " filter " << static_cast<int>(filter);
    }
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
  EXPECT_EQ(chunks_of(*rgba)[0].data, testing::ihdr_data(5, 4, 8, 6));
}

TEST(PngEncode, LargeImagesSpanSeveralDataChunks) {
  const Bytes px = random_pixels(std::size_t{400} * 300 * 4, 3);
  auto png = encode_png(px.data(), 400, 300, 4, 96.0, {1, PngFilter::None});
  ASSERT_TRUE(png.ok());
  const auto chunks = chunks_of(*png);
  EXPECT_GT(std::count_if(chunks.begin(), chunks.end(), [](const ChunkInfo& c) { return c.type == "IDAT"; }), 1);
  auto decoded = testing::reference_decode_rgba(*png);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->rgba, px);
}

TEST(PngEncode, DensityIsDpiPerInchInMetresRoundedAndClamped) {
  EXPECT_EQ(dpi_to_pixels_per_metre(96.0), 3780u);
  EXPECT_EQ(dpi_to_pixels_per_metre(120.0), 4724u);
  EXPECT_EQ(dpi_to_pixels_per_metre(144.0), 5669u);
  EXPECT_EQ(dpi_to_pixels_per_metre(0.0), 0u);
  EXPECT_EQ(dpi_to_pixels_per_metre(-96.0), 0u);
  EXPECT_EQ(dpi_to_pixels_per_metre(std::nan("")), 0u);
  EXPECT_EQ(dpi_to_pixels_per_metre(1e300), 4294967295u);
  EXPECT_EQ(dpi_to_pixels_per_metre(std::numeric_limits<double>::infinity()), 4294967295u);
  // 0.0127 dpi is exactly half a pixel per metre: halves go away from zero.
  EXPECT_EQ(dpi_to_pixels_per_metre(0.0254 * 2.5), 3u);

  EXPECT_EQ(pixels_per_metre_to_dpi(3780), 96.0);
  EXPECT_EQ(pixels_per_metre_to_dpi(5669), 144.0);
  EXPECT_EQ(pixels_per_metre_to_dpi(19), 0.0);
  EXPECT_EQ(pixels_per_metre_to_dpi(20), 1.0);
}

TEST(PngEncode, RefusesWhatItCannotWriteAndPassesSinkErrorsOn) {
  const Bytes px(12, 0);
  EXPECT_FALSE(encode_png(px.data(), 0, 2, 3, 96.0).ok());
  EXPECT_FALSE(encode_png(px.data(), 2, 0, 3, 96.0).ok());
  EXPECT_THAT(encode_png(px.data(), 2, 2, 2, 96.0).error(), HasSubstr("2 channels"));
  EXPECT_FALSE(encode_png(nullptr, 2, 2, 3, 96.0).ok());
  EXPECT_FALSE(encode_png(px.data(), 0x80000000u, 1, 3, 96.0).ok());

  int calls = 0;
  auto failing = [&calls](std::span<const std::uint8_t>) -> std::optional<std::string> {
    if (++calls == 3) return std::string("disk full");
    return std::nullopt;
  };
  EXPECT_EQ(write_png(px.data(), 2, 2, 3, 96.0, failing), "disk full");
  EXPECT_EQ(calls, 3);  // nothing written after the failure
}

// ---------------------------------------------------------------------------------------

TEST(PngProbe, ReadsHeaderAndPhysWithoutTouchingImageData) {
  testing::PngLayout s;
  s.width = 3;
  s.height = 2;
  s.depth = 16;
  s.type = 0;
  s.rows = {Bytes(6, 1), Bytes(6, 2)};
  s.phys = true;
  s.ppu_x = 5669;
  s.ppu_y = 3780;
  Bytes png = testing::build_png(s);
  // Wreck the compressed data; the probe must not care.
  png[png.size() - 20] ^= 0xFF;
  auto h = probe_png(png);
  ASSERT_TRUE(h.ok()) << h.error();
  EXPECT_EQ(h->width, 3u);
  EXPECT_EQ(h->height, 2u);
  EXPECT_EQ(h->bit_depth, 16);
  EXPECT_EQ(h->color_type, kPngGrey);
  ASSERT_TRUE(h->physical);
  EXPECT_EQ(h->physical->x_pixels_per_unit, 5669u);
  EXPECT_EQ(h->physical->y_pixels_per_unit, 3780u);
  EXPECT_EQ(h->physical->unit, 1);

  // Everything after the first IDAT header may be missing.
  const Bytes encoded = *encode_png(Bytes(12, 9).data(), 2, 2, 3, 120.0);
  const auto idat = std::search(encoded.begin(), encoded.end(), std::begin("IDAT"), std::end("IDAT") - 1);
  const Bytes cut(encoded.begin(), idat + 4);
  auto h2 = probe_png(cut);
  ASSERT_TRUE(h2.ok()) << h2.error();
  EXPECT_EQ(h2->physical->x_pixels_per_unit, 4724u);
}

TEST(PngProbe, StopsAtAnimationFrameData) {
  Bytes png = testing::signature();
  testing::put_chunk(png, "IHDR", testing::ihdr_data(4, 4, 8, 6));
  testing::put_chunk(png, "fdAT", {0, 0, 0, 1});
  EXPECT_TRUE(probe_png(png).ok());
}

TEST(PngProbe, RejectsBrokenStructure) {
  auto reason = [](const Bytes& b) { return probe_png(b).ok() ? std::string("ok") : probe_png(b).error(); };
  const Bytes good = testing::rgb_png(1, 1, {1, 2, 3});
  ASSERT_EQ(reason(good), "ok");

  EXPECT_EQ(reason({}), "invalid PNG signature");
  EXPECT_EQ(reason({'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0}), "invalid PNG signature");
  EXPECT_EQ(reason(testing::signature()), "unexpected end of data");
  EXPECT_EQ(reason(Bytes(good.begin(), good.begin() + 20)), "unexpected end of data in chunk IHDR");

  Bytes bad_crc = good;
  bad_crc[8 + 8 + 3] ^= 1;  // inside IHDR's width
  EXPECT_EQ(reason(bad_crc), "CRC mismatch in chunk IHDR");

  Bytes no_header = testing::signature();
  testing::put_chunk(no_header, "pHYs", testing::phys_data(1, 1, 1));
  EXPECT_EQ(reason(no_header), "first chunk is pHYs, not IHDR");

  auto with_header = [](const Bytes& ihdr) {
    Bytes b = testing::signature();
    testing::put_chunk(b, "IHDR", ihdr);
    testing::put_chunk(b, "IDAT", {});
    return b;
  };
  EXPECT_EQ(reason(with_header(testing::ihdr_data(0, 5, 8, 2))), "invalid image size 0x5");
  EXPECT_EQ(reason(with_header(testing::ihdr_data(1, 1, 16, 3))), "invalid bit depth 16 for colour type 3");
  EXPECT_EQ(reason(with_header(testing::ihdr_data(1, 1, 4, 2))), "invalid bit depth 4 for colour type 2");
  EXPECT_EQ(reason(with_header(testing::ihdr_data(1, 1, 8, 5))), "invalid colour type 5");
  EXPECT_EQ(reason(with_header(testing::ihdr_data(1, 1, 8, 3))), "indexed image without PLTE");
  Bytes short_ihdr = testing::ihdr_data(1, 1, 8, 2);
  short_ihdr.pop_back();
  EXPECT_EQ(reason(with_header(short_ihdr)), "invalid IHDR length 12");

  Bytes ends_early = testing::signature();
  testing::put_chunk(ends_early, "IHDR", testing::ihdr_data(1, 1, 8, 2));
  testing::put_chunk(ends_early, "IEND", {});
  EXPECT_EQ(reason(ends_early), "no image data before IEND");

  Bytes odd_phys = testing::signature();
  testing::put_chunk(odd_phys, "IHDR", testing::ihdr_data(1, 1, 8, 2));
  testing::put_chunk(odd_phys, "pHYs", {0, 0, 0, 1});
  EXPECT_EQ(reason(odd_phys), "invalid pHYs length 4");

  Bytes critical = testing::signature();
  testing::put_chunk(critical, "IHDR", testing::ihdr_data(1, 1, 8, 2));
  testing::put_chunk(critical, "ZZZZ", {});
  EXPECT_EQ(reason(critical), "unknown critical chunk ZZZZ");

  Bytes huge = testing::signature();
  testing::put_chunk(huge, "IHDR", testing::ihdr_data(1, 1, 8, 2));
  testing::put_be32(huge, 0x80000000u);
  huge.insert(huge.end(), {'t', 'E', 'X', 't'});
  EXPECT_EQ(reason(huge), "chunk length 2147483648 is too large");
}

TEST(PngProbe, SkipsAncillaryChunksBeforeTheData) {
  testing::PngLayout s;
  s.type = 3;
  s.depth = 8;
  s.rows = {Bytes{0}};
  s.palette = {10, 20, 30};
  s.trns = {128};
  Bytes png = testing::build_png(s);
  auto h = probe_png(png);
  ASSERT_TRUE(h.ok()) << h.error();
  EXPECT_EQ(h->color_type, kPngPalette);
  EXPECT_FALSE(h->physical);
}

}  // namespace
}  // namespace quorvane::cv
