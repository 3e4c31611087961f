// Float-to-integer conversions for sizes and coordinates. Every size or position the
// matcher derives from a scale factor goes through these, so the library and its callers
// agree to the pixel: round half away from zero in 32-bit float, NaN to 0, saturate.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace lumetra {

// Negative values and NaN become 0; values above the range saturate.
inline std::uint32_t round_to_u32(float value) {
  if (!(value > 0.0f)) return 0;  // also catches NaN
  const float r = std::round(value);
  // 4294967296.0f is the first float above the range; anything at or beyond it saturates.
  if (r >= 4294967296.0f) return std::numeric_limits<std::uint32_t>::max();
  return static_cast<std::uint32_t>(r);
}

// NaN becomes 0; values beyond either end saturate.
inline std::int32_t round_to_i32(float value) {
  if (std::isnan(value)) return 0;
  const float r = std::round(value);
  if (r >= 2147483648.0f) return std::numeric_limits<std::int32_t>::max();
  if (r <= -2147483648.0f) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(r);
}

}  // namespace lumetra
