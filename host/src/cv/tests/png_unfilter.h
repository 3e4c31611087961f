// The PNG row filters undone as the format defines them, written plainly and apart from
// the product's kernels so the tests have an independent decoder side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace quorvane::cv::testing {

// Undoes one filtered row: `filtered` is the filter type byte followed by `n` bytes,
// `prev` the unfiltered row above (nullptr above the first row), `bpp` bytes per pixel.
// False for an unknown filter type.
inline bool unfilter_row(const std::uint8_t* filtered, const std::uint8_t* prev, std::size_t n, unsigned bpp,
                         std::uint8_t* cur) {
  for (std::size_t i = 0; i < n; ++i) {
    const int a = i >= bpp ? cur[i - bpp] : 0, b = prev ? prev[i] : 0;
    const int c = prev && i >= bpp ? prev[i - bpp] : 0;
    int pred = 0;
    switch (filtered[0]) {
      case 0:
        break;
      case 1:
        pred = a;
        break;
      case 2:
        pred = b;
        break;
      case 3:
        pred = (a + b) / 2;
        break;
      case 4: {
        const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
        pred = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
        break;
      }
      default:
        return false;
    }
    cur[i] = static_cast<std::uint8_t>(filtered[1 + i] + pred);
  }
  return true;
}

}  // namespace quorvane::cv::testing
