// The 8-bit RGB image of all screen and pattern work: tightly packed R, G, B samples,
// rows top to bottom, no row padding (stride = width * 3).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lumetra {

struct RgbImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> pixels;  // exactly width * height * 3 bytes

  RgbImage() = default;
  RgbImage(std::uint32_t w, std::uint32_t h) : width(w), height(h), pixels(static_cast<std::size_t>(w) * h * 3) {}

  std::size_t stride() const { return static_cast<std::size_t>(width) * 3; }
  bool empty() const { return width == 0 || height == 0; }
  // The invariant every consumer relies on; images built by hand should be checked.
  bool well_formed() const { return pixels.size() == static_cast<std::size_t>(width) * height * 3; }

  const std::uint8_t* row(std::uint32_t y) const { return pixels.data() + y * stride(); }
  std::uint8_t* row(std::uint32_t y) { return pixels.data() + y * stride(); }
  const std::uint8_t* at(std::uint32_t x, std::uint32_t y) const { return row(y) + static_cast<std::size_t>(x) * 3; }
  std::uint8_t* at(std::uint32_t x, std::uint32_t y) { return row(y) + static_cast<std::size_t>(x) * 3; }
};

}  // namespace lumetra
