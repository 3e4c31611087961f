// Run-time choice of the vector kernels. The host runs on unknown Windows machines, so
// the library is built for the x86-64 baseline (SSE2) and picks wider kernels only after
// asking the CPU. Every level computes exactly the same integers; the levels differ in
// speed only, which the tests check by running each level against the scalar one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumetra::detail {

enum class SimdLevel : int {
  Scalar = 0,
  Sse2 = 1,    // x86-64 baseline (plus SSSE3 for the colour mask when present)
  Avx2 = 2,
  Avx512 = 3,  // AVX-512 BW/VL with VNNI: fused 16-bit multiply-add-accumulate
};

const char* simd_level_name(SimdLevel level);
// The best level this CPU (and OS) supports.
SimdLevel detected_simd_level();
// Caps the level used from now on, process-wide; for tests and benchmarks.
void set_simd_limit(SimdLevel limit);
// min(detected, limit).
SimdLevel active_simd_level();

// Cross sums over pair-packed rows. Each row element j holds the 16-bit samples
// (s[j], s[j+1]) in its low and high half; each tap holds the template samples
// (t[2k], t[2k+1]) the same way. For every position x < count:
//   out[x] = sum over r < nrows, k < npairs of dot2(rows[r][x + 2k], taps[r * npairs + k])
// in arithmetic modulo 2^32 (exact when the caller keeps true sums below 2^32).
// Rows must be readable up to index round_up(count, 64) + 2 * npairs, and `out` writable
// up to round_up(count, 64).
using RowKernel = void (*)(const std::uint32_t* const* rows, const std::uint32_t* taps,
                           std::size_t nrows, std::size_t npairs, std::uint32_t* out,
                           std::size_t count);

// One cross sum at one position over 16-bit planar rows:
//   sum over r < nrows, i < 16 * nblocks of img[r * img_stride + i] * tpl[r * tpl_stride + i]
// modulo 2^32. Template rows are zero-padded to whole blocks, so image rows only need to
// be readable (not meaningful) past the template's width.
using DotKernel = std::uint32_t (*)(const std::int16_t* img, std::size_t img_stride,
                                    const std::int16_t* tpl, std::size_t tpl_stride,
                                    std::size_t nrows, std::size_t nblocks);

// Colour mask of `pixels` interleaved RGB pixels: out[i] = 1 when every channel of pixel i
// is within `tol` of `color`, else 0.
using MaskKernel = void (*)(const std::uint8_t* rgb, std::size_t pixels, const std::uint8_t color[3],
                            std::uint8_t tol, std::uint8_t* out);

// One output row of a vertical resampling pass: for i < n,
//   out[i] = (((0 + w[0] * rows[0][i]) + w[1] * rows[1][i]) + ...) + w[ntaps-1] * rows[ntaps-1][i]
// in single precision, multiply and add rounded separately, in exactly that order, so that
// every level gives the same bits.
using VResizeKernel = void (*)(const std::uint8_t* const* rows, const float* weights, std::size_t ntaps,
                               float* out, std::size_t n);

// One output row of a horizontal resampling pass over an interleaved RGB row of floats
// (readable one float past its last pixel): output pixel x, channel c is
//   sum over k < count[x], in order, of weights[offset[x] + k] * mid[3 * (first[x] + k) + c]
// accumulated from 0 like VResizeKernel, then clamped to [0, 255] and rounded half up.
using HResizeKernel = void (*)(const float* mid, const std::uint32_t* first, const std::uint32_t* count,
                               const std::size_t* offset, const float* weights, std::uint32_t width,
                               std::uint8_t* out);

struct Kernels {
  RowKernel row;
  DotKernel dot;
  MaskKernel mask;
  VResizeKernel vresize;
  HResizeKernel hresize;
};

// Kernels of exactly `level` (which must not exceed the detected level).
Kernels kernels_for(SimdLevel level);
// Kernels of the active level.
const Kernels& active_kernels();

// The scalar definitions, which the vector kernels must reproduce.
void row_scalar(const std::uint32_t* const* rows, const std::uint32_t* taps, std::size_t nrows,
                std::size_t npairs, std::uint32_t* out, std::size_t count);
std::uint32_t dot_scalar(const std::int16_t* img, std::size_t img_stride, const std::int16_t* tpl,
                         std::size_t tpl_stride, std::size_t nrows, std::size_t nblocks);
void mask_scalar(const std::uint8_t* rgb, std::size_t pixels, const std::uint8_t color[3],
                 std::uint8_t tol, std::uint8_t* out);
void vresize_scalar(const std::uint8_t* const* rows, const float* weights, std::size_t ntaps, float* out,
                    std::size_t n);
void hresize_scalar(const float* mid, const std::uint32_t* first, const std::uint32_t* count,
                    const std::size_t* offset, const float* weights, std::uint32_t width, std::uint8_t* out);

}  // namespace lumetra::detail
