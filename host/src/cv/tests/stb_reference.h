// A second, independent PNG decode for tests: stb_image asked for all four channels, so
// encoder round trips can check alpha too.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace quorvane::cv::testing {

struct DecodedRgba {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgba;
};

std::optional<DecodedRgba> reference_decode_rgba(const std::vector<std::uint8_t>& png);

}  // namespace quorvane::cv::testing
