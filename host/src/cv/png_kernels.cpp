#include "cv/png_kernels.h"

#include <atomic>

#include "cv/png_kernels_impl.h"

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

PngKernelLevel detect_level() {
  __builtin_cpu_init();
  // GCC's check includes the operating system's support for the wider registers.
  if (__builtin_cpu_supports("avx2")) return PngKernelLevel::Avx2;
  return PngKernelLevel::Sse2;
}

std::atomic<int> g_cap{static_cast<int>(PngKernelLevel::Avx2)};

}  // namespace

namespace kernels {
const PngKernels kScalar = {filter_row_scalar, adler32_scalar};
}  // namespace kernels

PngKernelLevel png_kernel_level() {
  static const PngKernelLevel level = detect_level();
  return level;
}

const PngKernels& png_kernels_for(PngKernelLevel level) {
  if (static_cast<int>(level) > static_cast<int>(png_kernel_level())) level = png_kernel_level();
  switch (level) {
    case PngKernelLevel::Scalar:
      return kernels::kScalar;
    case PngKernelLevel::Sse2:
      return kernels::kSse2;
    default:
      return kernels::kAvx2;
  }
}

const PngKernels& png_kernels() {
  return png_kernels_for(static_cast<PngKernelLevel>(g_cap.load(std::memory_order_relaxed)));
}

void cap_png_kernel_level(PngKernelLevel level) { g_cap.store(static_cast<int>(level), std::memory_order_relaxed); }

}  // namespace quorvane::cv
