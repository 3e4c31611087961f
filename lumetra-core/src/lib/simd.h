// The vector kernels of the matching library and their dispatch. Each x86 level has a
// file of its own (simd_scalar.cpp, simd_sse2.cpp, simd_avx2.cpp, simd_avx512.cpp); the
// kernels whose loops are the same at every width are written once in simd_vector.h.
// Every level computes exactly the same numbers; the levels differ in speed only, which
// the tests check by running each level against the scalar one.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "lumetra/cpu.h"

namespace lumetra::detail {

// Cross sums over pair-packed rows. Each row element j holds the 16-bit samples
// (s[j], s[j+1]) in its low and high half; each tap holds the template samples
// (t[2k], t[2k+1]) the same way. For every position x < count:
//   out[x] = sum over r < nrows, k < npairs of dot2(rows[r][x + 2k], taps[r * npairs + k])
// in arithmetic modulo 2^32 (exact when the caller keeps true sums below 2^32).
// Rows must be readable up to index round_up(count, 64) + 2 * npairs, and `out` writable
// up to round_up(count, 64).
using RowKernel = void (*)(const std::uint32_t* const* rows, const std::uint32_t* taps, std::size_t nrows,
                           std::size_t npairs, std::uint32_t* out, std::size_t count);

// Cross sums at four neighbouring positions over 16-bit planar rows: for j < 4,
//   out[j] = sum over r < nrows, i < 16 * nblocks of img[r * img_stride + j + i] * tpl[r * tpl_stride + i]
// modulo 2^32. Four at once so that each template vector is loaded once for four
// positions. Template rows are zero-padded to whole blocks, so image rows only need to be
// readable (not meaningful) up to 16 * nblocks + 3 samples.
using DotKernel = void (*)(const std::int16_t* img, std::size_t img_stride, const std::int16_t* tpl,
                           std::size_t tpl_stride, std::size_t nrows, std::size_t nblocks, std::uint32_t out[4]);

// Colour mask of `pixels` interleaved RGB pixels: out[i] = 1 when every channel of pixel i
// is within `tol` of `color`, else 0.
using MaskKernel = void (*)(const std::uint8_t* rgb, std::size_t pixels, const std::uint8_t color[3], std::uint8_t tol,
                            std::uint8_t* out);

// One output row of a vertical resampling pass: for i < n,
//   out[i] = (((0 + w[0] * rows[0][i]) + w[1] * rows[1][i]) + ...) + w[ntaps-1] * rows[ntaps-1][i]
// in single precision, multiply and add rounded separately, in exactly that order, so that
// every level gives the same bits.
using VResizeKernel = void (*)(const std::uint8_t* const* rows, const float* weights, std::size_t ntaps, float* out,
                               std::size_t n);

// One output row of a horizontal resampling pass over an interleaved RGB row of floats
// (readable one float past its last pixel): output pixel x, channel c is
//   sum over k < count[x], in order, of weights[offset[x] + k] * mid[3 * (first[x] + k) + c]
// accumulated from 0 like VResizeKernel, then clamped to [0, 255] and rounded half up.
using HResizeKernel = void (*)(const float* mid, const std::uint32_t* first, const std::uint32_t* count,
                               const std::size_t* offset, const float* weights, std::uint32_t width, std::uint8_t* out);

// What the score of a cell needs from its template.
struct ScoreConsts {
  double n = 0;         // pixel count N
  double mean[3] = {};  // S_c / N
  double norm = 0;      // m = sqrt(sum_c max(Q_c - S_c^2/N, 0))
};

// The score of one cell from its exact sums (integers held exactly in doubles): window
// sums s, window sums of squares q, cross sums p. This is the one place the formula is
// written out; the vector finalisers repeat exactly these operations in this order.
inline float score_from_sums(const ScoreConsts& k, const double s[3], const double q[3], const double p[3]) {
  double e = 0.0;
  for (int c = 0; c < 3; ++c) {
    const double v = q[c] - s[c] * s[c] / k.n;
    e += v > 0.0 ? v : 0.0;
  }
  if (e < 1e-12) return 0.0f;
  double num = 0.0;
  for (int c = 0; c < 3; ++c) num += p[c] - k.mean[c] * s[c];
  double score = num / (std::sqrt(e) * k.norm);
  if (score < -1.0) score = -1.0;
  if (score > 1.0) score = 1.0;
  return static_cast<float>(score);
}

// A row of cells: out[i] = score_from_sums of (s[c][i], q[c][i], p[c][i]).
struct CellRow {
  const double* s[3];
  const double* q[3];
  const double* p[3];
};
using FinalizeKernel = void (*)(const CellRow& row, const ScoreConsts& k, float* out, std::size_t n);

// Whether cells may still reach a threshold once the cross sums of some template rows
// (part A) are known; the other rows (part B) are bounded by Cauchy-Schwarz:
//   num = num_A + num_B,  |num_B| <= sqrt(E_B(window) * E_B(template))
// with E_B the channel-centred energies over part B. A cell is given up only when its
// exact part plus that bound stays below the threshold by more than every rounding
// involved (see the allowances below). Flat windows score exactly 0 and reach the
// threshold when 0 does.
//
// Allowances. The centred energies come from uncentred sums by cancellation, so they are
// raised by kEnergyAllowance times those sums before use. The exact part and the limit are
// sums of a few products of magnitude at most the window's and the template's sums of
// squares: kSumAllowance times those covers their rounding many times over. And a double
// score a hair below the threshold may still round to it as a float, so cells are given
// up only below threshold - kScoreAllowance.
inline constexpr double kEnergyAllowance = 1e-12;
inline constexpr double kSumAllowance = 1e-9;
inline constexpr double kScoreAllowance = 1e-7;

struct SplitConsts {
  ScoreConsts score;
  double na = 0, nb = 0;  // pixels in part A and part B
  double sa[3] = {};      // template sums over part A
  double energy_b = 0;    // upper bound of the template's centred energy over part B
  double sum_slack = 0;   // template's sums of squares, all channels, plus 1
  double threshold = 0;   // the threshold less kScoreAllowance
};
struct SplitRow {
  const double* s[3];   // window sums
  const double* q[3];   // window sums of squares
  const double* sa[3];  // window sums over part A
  const double* qa[3];  // window sums of squares over part A
  const double* pa[3];  // cross sums over part A
};
using PruneKernel = void (*)(const SplitRow& row, const SplitConsts& k, std::uint8_t* alive, std::size_t n);

// Splits `pixels` interleaved RGB pixels into three planes.
using SplitKernel = void (*)(const std::uint8_t* rgb, std::size_t pixels, std::uint8_t* r, std::uint8_t* g,
                             std::uint8_t* b);

struct Kernels {
  RowKernel row;
  DotKernel dot;
  MaskKernel mask;
  VResizeKernel vresize;
  HResizeKernel hresize;
  FinalizeKernel finalize;
  PruneKernel prune;
  SplitKernel split;
};

// The kernels of `level` (capped at the detected level). A level without a vector
// version of a kernel uses the next narrower one.
Kernels kernels_for(cpu::Level level);
// The kernels of the level in use (cpu::level()).
const Kernels& active_kernels();

// The scalar definitions, which the vector kernels must reproduce.
void row_scalar(const std::uint32_t* const* rows, const std::uint32_t* taps, std::size_t nrows, std::size_t npairs,
                std::uint32_t* out, std::size_t count);
void dot_scalar(const std::int16_t* img, std::size_t img_stride, const std::int16_t* tpl, std::size_t tpl_stride,
                std::size_t nrows, std::size_t nblocks, std::uint32_t out[4]);
void mask_scalar(const std::uint8_t* rgb, std::size_t pixels, const std::uint8_t color[3], std::uint8_t tol,
                 std::uint8_t* out);
void vresize_scalar(const std::uint8_t* const* rows, const float* weights, std::size_t ntaps, float* out,
                    std::size_t n);
void split_scalar(const std::uint8_t* rgb, std::size_t pixels, std::uint8_t* r, std::uint8_t* g, std::uint8_t* b);
void prune_scalar(const SplitRow& row, const SplitConsts& k, std::uint8_t* alive, std::size_t n);
void finalize_scalar(const CellRow& row, const ScoreConsts& k, float* out, std::size_t n);
void hresize_scalar(const float* mid, const std::uint32_t* first, const std::uint32_t* count, const std::size_t* offset,
                    const float* weights, std::uint32_t width, std::uint8_t* out);

// Output samples [i, n) of a vertical pass by the `narrower` kernel: what is left after a
// wider kernel's whole steps.
void vresize_from(std::size_t i, VResizeKernel narrower, const std::uint8_t* const* rows, const float* weights,
                  std::size_t ntaps, float* out, std::size_t n);

// What each x86 level brings, over the kernels of the levels below it; only kernels_for
// may ask for them, after asking the CPU.
#if defined(__x86_64__) || defined(__i386__)
void use_sse2_kernels(Kernels& k);
void use_ssse3_kernels(Kernels& k);
void use_avx2_kernels(Kernels& k);
void use_avx512_kernels(Kernels& k);
// The SSE2 resampling kernels, for the rest of a row the AVX2 ones leave.
void vresize_sse2(const std::uint8_t* const* rows, const float* weights, std::size_t ntaps, float* out, std::size_t n);
void hresize_sse2(const float* mid, const std::uint32_t* first, const std::uint32_t* count, const std::size_t* offset,
                  const float* weights, std::uint32_t width, std::uint8_t* out);
#endif

}  // namespace lumetra::detail
