// Conversion of the system's file times to what the methods report.
#pragma once

#include <cstdint>

namespace quorvane::files {

// 100-nanosecond intervals between 1601-01-01 and 1970-01-01 (UTC).
inline constexpr std::uint64_t kUnixEpochAsFiletime = 116444736000000000ULL;

// Whole milliseconds since 1970-01-01 00:00:00 UTC; 0 for any earlier time. The
// sub-second part is cut, not rounded: a time of 1.5 s after the epoch is 1500 and
// 1.9999999 s is 1999.
constexpr std::uint64_t filetime_to_unix_ms(std::uint64_t filetime) {
  if (filetime < kUnixEpochAsFiletime) return 0;
  std::uint64_t t = filetime - kUnixEpochAsFiletime;
  return (t / 10000000) * 1000 + (t % 10000000) / 10000;
}

}  // namespace quorvane::files
