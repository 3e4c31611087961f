// Colour masks, colour regions and rectangles of one colour.
//
// These take the raw samples rather than an RgbImage because the colour methods hand over
// capture buffers as they are. The buffer must hold exactly width * height * 3 bytes
// (R, G, B per pixel, rows top to bottom, no padding); anything else is a broken invariant
// and throws std::invalid_argument rather than reading past the end.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace lumetra {

struct Rgb8 {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;

  friend bool operator==(const Rgb8&, const Rgb8&) = default;
};

// A box in pixels of the searched image. Used both for the bounding box of a connected
// area and for a rectangle found by find_rectangle.
struct ColorRegion {
  std::uint32_t x = 0;
  std::uint32_t y = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;

  friend bool operator==(const ColorRegion&, const ColorRegion&) = default;
};

// One byte per pixel, row-major: 1 when every channel is within `tolerance` of `color`
// (|R - r| <= t, |G - g| <= t, |B - b| <= t), else 0. Tolerances above 255 act as 255.
std::vector<std::uint8_t> color_mask(std::span<const std::uint8_t> rgb, std::uint32_t width, std::uint32_t height,
                                     Rgb8 color, std::uint32_t tolerance);

// Bounding boxes of the 4-connected areas of pixels matching `color` within `tolerance`
// (above 255 acts as 255). Boxes narrower than max(min_width, 1) or shorter than
// max(min_height, 1) are dropped. Ordered by y, then x, ascending; boxes equal in both
// keep the order in which their areas were first reached in a row-major scan.
std::vector<ColorRegion> find_color_regions(std::span<const std::uint8_t> rgb, std::uint32_t width,
                                            std::uint32_t height, Rgb8 color, std::uint32_t tolerance,
                                            std::uint32_t min_width, std::uint32_t min_height);

// The largest rectangle drawn in `color` (tolerance 5), outlined or filled, traced from
// each unvisited matching pixel as its top-left corner. The largest area wins; among equal
// areas the one found last. None when no pixel matches.
std::optional<ColorRegion> find_rectangle(std::span<const std::uint8_t> rgb, std::uint32_t width, std::uint32_t height,
                                          Rgb8 color);

}  // namespace lumetra
