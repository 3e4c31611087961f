// The per-byte loops of the PNG encoder, once per x86 level. The host runs on unknown
// Windows machines, so the baseline is SSE2 and the AVX2 versions are chosen only after
// asking the processor. Every level writes exactly the same bytes as the scalar one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvane::cv {

struct PngKernels {
  // Filters one row of `n` bytes with `bpp` bytes per pixel (1..8): out[0] is the filter
  // type, out[1..n] the residues. `prev` is the unfiltered row above (zeros for the first
  // row). `filter` 0..4 is used as given; 5 picks, per row, the filter whose residues have
  // the smallest sum of magnitudes (as signed bytes), the lowest type on a tie.
  void (*filter_row)(int filter, const std::uint8_t* cur, const std::uint8_t* prev, std::size_t n, unsigned bpp,
                     std::uint8_t* out);
  std::uint32_t (*adler32)(std::uint32_t adler, const std::uint8_t* data, std::size_t size);
};

inline constexpr int kAdaptiveFilter = 5;

// The kernels of the level in use, lumetra::cpu::level(): tests and benchmarks compare
// the levels by capping it.
const PngKernels& png_kernels();

// Per-level entry points, defined in the files of each level.
namespace kernels {
extern const PngKernels kScalar;
extern const PngKernels kSse2;
extern const PngKernels kAvx2;
}  // namespace kernels

}  // namespace quorvane::cv
