// Resizing and cropping of RgbImage.
//
// The resampler is separable: one pass over columns, one over rows, each a convolution
// with the chosen kernel. Pixel centres sit at half-integers, so output pixel i samples
// the source around (i + 0.5) / factor - 0.5. When shrinking, the kernel is stretched by
// the inverse factor (a 4x reduction with the triangle kernel averages over +-4 source
// pixels), which is what keeps a reduced screen free of aliasing. Taps that would fall
// outside the source are dropped and the remaining weights renormalised, so edges are
// neither darkened nor mirrored. Results are rounded to the nearest integer and clamped
// to 0..255 (Lanczos overshoots near sharp edges).
#pragma once

#include <cstdint>

#include "lumetra/rgb_image.h"

namespace lumetra {

enum class ResizeFilter {
  Triangle,  // linear interpolation, support 1
  Lanczos3,  // three-lobed Lanczos, support 3
};

// Resizes `src` to width x height. Resizing to the source's own size returns a copy.
// A zero target width or height gives an image of that (empty) size. A source with no
// pixels gives a black image of the requested size, since there is nothing to sample.
// The caller bounds the target size: the library allocates what it is asked for.
// Throws std::invalid_argument when `src` is not well formed.
RgbImage resize(const RgbImage& src, std::uint32_t width, std::uint32_t height, ResizeFilter filter);

// Copies the rectangle [x, x + width) x [y, y + height) out of `src`, clipped to the
// source; a rectangle lying outside the source gives an empty image.
// Throws std::invalid_argument when `src` is not well formed.
RgbImage crop(const RgbImage& src, std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height);

}  // namespace lumetra
