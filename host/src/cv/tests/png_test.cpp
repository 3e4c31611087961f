#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "cv/png.h"
#include "png_builder.h"
#include "stb_reference.h"
#include "synthetic_screen.h"

namespace quorvane::cv {
namespace {

using testing::Bytes;
using ::testing::HasSubstr;

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
