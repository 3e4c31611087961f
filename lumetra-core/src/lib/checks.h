// Invariant checks shared by the library's entry points.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "lumetra/rgb_image.h"

namespace lumetra::detail {

// A buffer that does not match its dimensions would be read past its end; refuse it
// loudly instead, since no caller can mean it.
inline void require_well_formed(const RgbImage& image, const char* what) {
  if (!image.well_formed())
    throw std::invalid_argument(std::string(what) + ": pixel buffer does not match width x height x 3");
}

inline void require_rgb_size(std::size_t bytes, std::uint32_t width, std::uint32_t height, const char* what) {
  if (bytes != static_cast<std::size_t>(width) * height * 3) {
    throw std::invalid_argument(std::string(what) + ": pixel buffer does not match width x height x 3");
  }
}

}  // namespace lumetra::detail
