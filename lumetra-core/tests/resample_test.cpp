// Resizing and cropping.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "lumetra/resample.h"
#include "screens.h"
#include "simd.h"

namespace lumetra {
namespace {

RgbImage solid(std::uint32_t w, std::uint32_t h, Rgb8 c) {
  RgbImage img(w, h);
  for (std::size_t i = 0; i < img.pixels.size(); i += 3) {
    img.pixels[i] = c.r;
    img.pixels[i + 1] = c.g;
    img.pixels[i + 2] = c.b;
  }
  return img;
}

TEST(Resize, SolidImagesStaySolidAtEverySizeAndEdge) {
  // Renormalised edge taps: no darkening or brightening at the borders, either kernel,
  // shrinking or enlarging, by whole and fractional factors.
  const RgbImage src = solid(37, 23, {200, 17, 255});
  for (ResizeFilter f : {ResizeFilter::Triangle, ResizeFilter::Lanczos3}) {
    for (auto [w, h] : {std::pair{9u, 5u}, {1u, 1u}, {37u, 70u}, {111u, 23u}, {53u, 31u}, {4u, 90u}}) {
      const RgbImage out = resize(src, w, h, f);
      ASSERT_EQ(out.width, w);
      ASSERT_EQ(out.height, h);
      ASSERT_TRUE(out.well_formed());
      EXPECT_EQ(out.pixels, solid(w, h, {200, 17, 255}).pixels) << w << "x" << h;
    }
  }
}

TEST(Resize, TriangleShrinkAveragesOverTheWidenedKernel) {
  // 8 -> 2 columns: output centres at source positions 2 and 6. Shrinking by 4 widens
  // the tent to a half-width of 4, sampled at the pixel centres 0.5, 1.5, ... and
  // renormalised where it runs off the edge.
  RgbImage src(8, 1);
  const int v[8] = {0, 40, 80, 120, 160, 200, 240, 255};
  for (int i = 0; i < 8; ++i) src.at(i, 0)[0] = src.at(i, 0)[1] = src.at(i, 0)[2] = static_cast<std::uint8_t>(v[i]);
  const RgbImage out = resize(src, 2, 1, ResizeFilter::Triangle);
  auto expect = [&](double centre) {
    double sum = 0, wsum = 0;
    for (int j = 0; j < 8; ++j) {
      const double wt = std::max(0.0, 1.0 - std::fabs(j + 0.5 - centre) / 4.0);
      sum += wt * v[j];
      wsum += wt;
    }
    return static_cast<int>(std::lround(sum / wsum));
  };
  EXPECT_EQ(out.at(0, 0)[0], expect(2.0));
  EXPECT_EQ(out.at(1, 0)[0], expect(6.0));
  EXPECT_EQ(out.at(1, 0)[2], expect(6.0));
}

TEST(Resize, LanczosOvershootIsClampedNotWrapped) {
  // A hard black/white edge enlarged 3x rings on both sides; the rings must clamp to 0
  // and 255 instead of wrapping to the other end.
  RgbImage src = solid(8, 2, {0, 0, 0});
  for (std::uint32_t y = 0; y < 2; ++y)
    for (std::uint32_t x = 4; x < 8; ++x) src.at(x, y)[0] = src.at(x, y)[1] = src.at(x, y)[2] = 255;
  const RgbImage out = resize(src, 24, 6, ResizeFilter::Lanczos3);
  for (std::uint32_t x = 0; x < 9; ++x) EXPECT_LT(out.at(x, 3)[0], 16) << x;
  for (std::uint32_t x = 15; x < 24; ++x) EXPECT_GT(out.at(x, 3)[0], 239) << x;
  // Monotone across the edge apart from the ringing: the middle is mid-grey.
  EXPECT_NEAR(out.at(11, 3)[0] + out.at(12, 3)[0], 255, 40);
}

TEST(Resize, SizesAndDegenerateInputs) {
  const RgbImage screen = testing::noise_image(1920, 1080, 3);
  const RgbImage quarter = resize(screen, 480, 270, ResizeFilter::Triangle);
  EXPECT_EQ(quarter.width, 480u);
  EXPECT_EQ(quarter.height, 270u);
  // Same size: an unchanged copy.
  const RgbImage small = testing::noise_image(13, 7, 4);
  EXPECT_EQ(resize(small, 13, 7, ResizeFilter::Lanczos3).pixels, small.pixels);
  // Only one axis resized: the other axis is copied, Lanczos dust included.
  const RgbImage wide = resize(small, 26, 7, ResizeFilter::Lanczos3);
  const RgbImage back_one_axis = resize(small, 13, 14, ResizeFilter::Triangle);
  EXPECT_EQ(wide.height, 7u);
  EXPECT_EQ(back_one_axis.width, 13u);
  for (std::uint32_t x = 0; x < 13; ++x) EXPECT_EQ(back_one_axis.at(x, 0)[1], small.at(x, 0)[1]);
  // Zero target and empty source.
  EXPECT_TRUE(resize(small, 0, 5, ResizeFilter::Triangle).pixels.empty());
  const RgbImage from_nothing = resize(RgbImage(), 3, 2, ResizeFilter::Triangle);
  EXPECT_EQ(from_nothing.pixels, std::vector<std::uint8_t>(18, 0));
  RgbImage broken(2, 2);
  broken.pixels.resize(3);
  EXPECT_THROW(resize(broken, 1, 1, ResizeFilter::Triangle), std::invalid_argument);
}

TEST(Resize, EverySimdLevelGivesTheSameBits) {
  // Widths that leave remainders after every vector width, both kernels, both directions.
  const RgbImage src = testing::noise_image(203, 61, 6);
  for (ResizeFilter f : {ResizeFilter::Triangle, ResizeFilter::Lanczos3}) {
    for (auto [w, h] : {std::pair{50u, 15u}, {410u, 130u}, {203u, 7u}}) {
      RgbImage want;
      cpu::for_each_level(testing::kKernelLevels, [&](cpu::Level level) {
        if (level == cpu::Level::Scalar) {
          want = resize(src, w, h, f);
          return;
        }
        EXPECT_EQ(resize(src, w, h, f).pixels, want.pixels) << w << "x" << h << " " << cpu::level_name(level);
      });
    }
  }
}

// The vertical kernel directly: lengths that leave every remainder after whole vector
// steps, and more taps than the tail's table of rows holds.
TEST(Resize, VerticalKernelOfEveryLevelMatchesScalarBitForBit) {
  testing::Rng rng(17);
  for (std::size_t ntaps : {1u, 6u, 70u}) {
    const std::size_t n = 100;
    std::vector<std::vector<std::uint8_t>> rows(ntaps, std::vector<std::uint8_t>(n));
    std::vector<const std::uint8_t*> ptrs;
    for (auto& r : rows) {
      for (auto& v : r) v = static_cast<std::uint8_t>(rng.next());
      ptrs.push_back(r.data());
    }
    std::vector<float> weights(ntaps);
    for (float& w : weights) w = static_cast<float>(rng.uniform(-1000, 1000)) / 977.0f;
    for (std::size_t len : {1u, 15u, 16u, 17u, 33u, 47u, 64u, 100u}) {
      std::vector<float> want(len);
      detail::vresize_scalar(ptrs.data(), weights.data(), ntaps, want.data(), len);
      cpu::for_each_level(testing::kKernelLevels, [&](cpu::Level level) {
        std::vector<float> got(len, -1.0f);
        detail::active_kernels().vresize(ptrs.data(), weights.data(), ntaps, got.data(), len);
        EXPECT_EQ(std::memcmp(got.data(), want.data(), len * sizeof(float)), 0)
            << cpu::level_name(level) << " taps " << ntaps << " length " << len;
      });
    }
  }
}

TEST(Crop, CopiesAndClipsToTheSource) {
  const RgbImage src = testing::noise_image(10, 8, 5);
  const RgbImage c = crop(src, 3, 2, 4, 5);
  ASSERT_EQ(c.width, 4u);
  ASSERT_EQ(c.height, 5u);
  EXPECT_EQ(c.at(0, 0)[0], src.at(3, 2)[0]);
  EXPECT_EQ(c.at(3, 4)[2], src.at(6, 6)[2]);
  const RgbImage clipped = crop(src, 8, 6, 100, 100);
  EXPECT_EQ(clipped.width, 2u);
  EXPECT_EQ(clipped.height, 2u);
  EXPECT_EQ(clipped.at(1, 1)[1], src.at(9, 7)[1]);
  EXPECT_TRUE(crop(src, 10, 0, 5, 5).empty());
  EXPECT_TRUE(crop(src, 0, 0, 0, 5).empty());
}

}  // namespace
}  // namespace lumetra
