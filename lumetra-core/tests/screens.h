// Synthetic desktop screens for tests and benchmarks: title bar, side panel, toolbars of
// repeated icons, lines of text in a small bitmap font, buttons, flat panels and a
// photo-like area. Matching behaves very differently on such content than on noise:
// flat areas have zero variance, text repeats glyphs, icons repeat exactly.
#pragma once

#include <cstdint>
#include <vector>

#include "lumetra/color.h"
#include "lumetra/cpu.h"
#include "lumetra/rgb_image.h"

namespace lumetra::testing {

// The levels the kernel tests run at. Every kernel of the SSE2 level is also in use at
// Scalar (colour mask, channel split) or at SSSE3 (all the others), so a run at SSE2
// would reach no code that these do not.
inline constexpr cpu::Level kKernelLevels[] = {cpu::Level::Scalar, cpu::Level::Ssse3, cpu::Level::Avx2,
                                               cpu::Level::Avx512};

// Small deterministic generator (splitmix64), so screens are identical on every platform.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next();
  // Uniform in [lo, hi].
  int uniform(int lo, int hi);

 private:
  std::uint64_t state_;
};

struct PlacedIcon {
  int id = 0;
  std::uint32_t x = 0;
  std::uint32_t y = 0;
};

struct Screen {
  RgbImage image;
  std::uint32_t icon_size = 0;
  std::vector<PlacedIcon> icons;  // every icon drawn, in drawing order
};

void fill_rect(RgbImage& img, std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h, Rgb8 color);
// Draws icon `id` of size x size. There are six designs: ids equal modulo 6 draw the same.
void draw_icon(RgbImage& img, std::uint32_t x, std::uint32_t y, std::uint32_t size, int id);
// Draws pseudo-words in a 5x7 bitmap font scaled by `scale`; returns the x after the text.
std::uint32_t draw_text(RgbImage& img, std::uint32_t x, std::uint32_t y, int words, std::uint32_t scale, Rgb8 ink,
                        Rng& rng);

Screen render_screen(std::uint32_t width, std::uint32_t height, std::uint64_t seed);

// Random samples, for the cases where content does not matter.
RgbImage noise_image(std::uint32_t width, std::uint32_t height, std::uint64_t seed);

}  // namespace lumetra::testing
