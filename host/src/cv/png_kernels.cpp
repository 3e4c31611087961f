#include "cv/png_kernels.h"

#include "cv/png_kernels_impl.h"
#include "lumetra/cpu.h"

namespace quorvane::cv {

namespace {

void filter_row_scalar(int filter, const std::uint8_t* cur, const std::uint8_t* prev, std::size_t n, unsigned bpp,
                       std::uint8_t* out) {
  if (filter < 0 || filter > 4) {
    std::uint64_t cost[5] = {0, 0, 0, 0, 0};
    for (std::size_t i = 0; i < n; ++i)
      for (int f = 0; f < 5; ++f) cost[f] += magnitude(scalar_residue(f, cur, prev, i, bpp));
    filter = 0;
    for (int f = 1; f < 5; ++f)
      if (cost[f] < cost[filter]) filter = f;
  }
  out[0] = static_cast<std::uint8_t>(filter);
  for (std::size_t i = 0; i < n; ++i) out[1 + i] = scalar_residue(filter, cur, prev, i, bpp);
}

std::uint32_t adler32_scalar(std::uint32_t adler, const std::uint8_t* p, std::size_t n) {
  constexpr std::uint32_t kMod = 65521;
  std::uint32_t s1 = adler & 0xFFFFu, s2 = adler >> 16;
  while (n > 0) {
    // 5552 bytes is the most that cannot overflow 32-bit sums before the reduction.
    const std::size_t chunk = n < 5552 ? n : 5552;
    for (std::size_t i = 0; i < chunk; ++i) {
      s1 += p[i];
      s2 += s1;
    }
    s1 %= kMod;
    s2 %= kMod;
    p += chunk;
    n -= chunk;
  }
  return (s2 << 16) | s1;
}

}  // namespace

namespace kernels {
const PngKernels kScalar = {filter_row_scalar, adler32_scalar};
}  // namespace kernels

const PngKernels& png_kernels() {
  using lumetra::cpu::Level;
  const Level level = lumetra::cpu::level();
  if (level >= Level::Avx2) return kernels::kAvx2;
  if (level >= Level::Sse2) return kernels::kSse2;
  return kernels::kScalar;
}

}  // namespace quorvane::cv
