// Row filters and Adaptive-choice costs over a vector type, for the files of each x86
// level. Everything here has internal linkage: the AVX2 file is compiled with -mavx2, and
// a shared inline function would let the linker hand AVX2 code to the SSE2 path.
// Include only after <immintrin.h> and only from png_kernels_*.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvane::cv {
namespace {

// The predictor of filter f (1 Sub, 2 Up, 3 Average, 4 Paeth) from the left (a), upper
// (b) and upper-left (c) bytes; 0 for None.
inline std::uint8_t scalar_predict(int f, unsigned a, unsigned b, unsigned c) {
  switch (f) {
    case 1:
      return static_cast<std::uint8_t>(a);
    case 2:
      return static_cast<std::uint8_t>(b);
    case 3:
      return static_cast<std::uint8_t>((a + b) >> 1);
    case 4: {
      const int p = static_cast<int>(a + b) - static_cast<int>(c);
      const int pa = p > static_cast<int>(a) ? p - static_cast<int>(a) : static_cast<int>(a) - p;
      const int pb = p > static_cast<int>(b) ? p - static_cast<int>(b) : static_cast<int>(b) - p;
      const int pc = p > static_cast<int>(c) ? p - static_cast<int>(c) : static_cast<int>(c) - p;
      if (pa <= pb && pa <= pc) return static_cast<std::uint8_t>(a);
      return static_cast<std::uint8_t>(pb <= pc ? b : c);
    }
    default:
      return 0;
  }
}

// |r| of a residue read as a signed byte.
inline unsigned magnitude(std::uint8_t r) { return r < 128 ? r : 256u - r; }

inline std::uint8_t scalar_residue(int f, const std::uint8_t* cur, const std::uint8_t* prev, std::size_t i,
                                   unsigned bpp) {
  const unsigned a = i >= bpp ? cur[i - bpp] : 0;
  const unsigned c = i >= bpp ? prev[i - bpp] : 0;
  return static_cast<std::uint8_t>(cur[i] - scalar_predict(f, a, prev[i], c));
}

#ifdef QUORVANE_PNG_VECTOR

using V = QUORVANE_PNG_VECTOR;
using T = typename V::T;

// Paeth's choice without branches and in bytes. pa = |b - c| and pb = |a - c| fit a byte;
// pc = |(b - c) + (a - c)| is pa + pb when the two differences have the same sign and
// |pa - pb| otherwise. Saturating pc at 255 cannot change a comparison with pa or pb,
// which are at most 255 themselves.
inline T paeth_predict(T a, T b, T c) {
  const T zero = V::zero();
  const T cb = V::subs(c, b), bc = V::subs(b, c);
  const T ca = V::subs(c, a), ac = V::subs(a, c);
  const T pa = V::bor(cb, bc);
  const T pb = V::bor(ca, ac);
  const T same_sign = V::eq(V::eq(cb, zero), V::eq(ca, zero));
  const T pc = V::select(same_sign, V::adds(pa, pb), V::bor(V::subs(pa, pb), V::subs(pb, pa)));
  const T use_a = V::band(V::le(pa, pb), V::le(pa, pc));
  const T use_b = V::le(pb, pc);
  return V::select(use_a, a, V::select(use_b, b, c));
}

// floor((a + b) / 2) from the rounding-up average.
inline T average_predict(T a, T b) { return V::sub(V::avg(a, b), V::band(V::bxor(a, b), V::set1(1))); }

template <int F>
inline T residue(T x, T a, T b, T c) {
  if constexpr (F == 0) {
    return x;
  } else if constexpr (F == 1) {
    return V::sub(x, a);
  } else if constexpr (F == 2) {
    return V::sub(x, b);
  } else if constexpr (F == 3) {
    return V::sub(x, average_predict(a, b));
  } else {
    return V::sub(x, paeth_predict(a, b, c));
  }
}

template <int F>
void filter_fixed(const std::uint8_t* cur, const std::uint8_t* prev, std::size_t n, unsigned bpp, std::uint8_t* out) {
  std::size_t i = 0;
  for (; i < bpp && i < n; ++i) out[i] = scalar_residue(F, cur, prev, i, bpp);
  for (; i + V::kWidth <= n; i += V::kWidth) {
    const T x = V::load(cur + i), a = V::load(cur + i - bpp), b = V::load(prev + i), c = V::load(prev + i - bpp);
    V::store(out + i, residue<F>(x, a, b, c));
  }
  for (; i < n; ++i) out[i] = scalar_residue(F, cur, prev, i, bpp);
}

// Sums of residue magnitudes of all five filters over one row.
void row_costs(const std::uint8_t* cur, const std::uint8_t* prev, std::size_t n, unsigned bpp, std::uint64_t cost[5]) {
  for (int f = 0; f < 5; ++f) cost[f] = 0;
  std::size_t i = 0;
  for (; i < bpp && i < n; ++i)
    for (int f = 0; f < 5; ++f) cost[f] += magnitude(scalar_residue(f, cur, prev, i, bpp));
  T acc[5] = {V::zero(), V::zero(), V::zero(), V::zero(), V::zero()};
  for (; i + V::kWidth <= n; i += V::kWidth) {
    const T x = V::load(cur + i), a = V::load(cur + i - bpp), b = V::load(prev + i), c = V::load(prev + i - bpp);
    acc[0] = V::add64(acc[0], V::sad_magnitude(residue<0>(x, a, b, c)));
    acc[1] = V::add64(acc[1], V::sad_magnitude(residue<1>(x, a, b, c)));
    acc[2] = V::add64(acc[2], V::sad_magnitude(residue<2>(x, a, b, c)));
    acc[3] = V::add64(acc[3], V::sad_magnitude(residue<3>(x, a, b, c)));
    acc[4] = V::add64(acc[4], V::sad_magnitude(residue<4>(x, a, b, c)));
  }
  for (int f = 0; f < 5; ++f) cost[f] += V::hsum64(acc[f]);
  for (; i < n; ++i)
    for (int f = 0; f < 5; ++f) cost[f] += magnitude(scalar_residue(f, cur, prev, i, bpp));
}

void filter_row(int filter, const std::uint8_t* cur, const std::uint8_t* prev, std::size_t n, unsigned bpp,
                std::uint8_t* out) {
  if (filter < 0 || filter > 4) {
    std::uint64_t cost[5];
    row_costs(cur, prev, n, bpp, cost);
    filter = 0;
    for (int f = 1; f < 5; ++f)
      if (cost[f] < cost[filter]) filter = f;
  }
  out[0] = static_cast<std::uint8_t>(filter);
  switch (filter) {
    case 0:
      filter_fixed<0>(cur, prev, n, bpp, out + 1);
      break;
    case 1:
      filter_fixed<1>(cur, prev, n, bpp, out + 1);
      break;
    case 2:
      filter_fixed<2>(cur, prev, n, bpp, out + 1);
      break;
    case 3:
      filter_fixed<3>(cur, prev, n, bpp, out + 1);
      break;
    default:
      filter_fixed<4>(cur, prev, n, bpp, out + 1);
      break;
  }
}

// Adler-32 a vector at a time: per block, s1 gains the byte sum and s2 gains the bytes
// weighted kWidth..1 plus kWidth times the s1 it started with. Lanes are summed and
// reduced once per chunk, in 64 bits, short enough that no lane can overflow.
std::uint32_t adler32(std::uint32_t adler, const std::uint8_t* p, std::size_t n) {
  constexpr std::uint32_t kMod = 65521;
  std::uint64_t s1 = adler & 0xFFFFu, s2 = adler >> 16;
  constexpr std::size_t kChunk = (5552 / V::kWidth) * V::kWidth;
  while (n >= V::kWidth) {
    const std::size_t chunk = n < kChunk ? n - n % V::kWidth : kChunk;
    T vs1 = V::zero(), vs1_before = V::zero(), vs2 = V::zero();
    for (std::size_t i = 0; i < chunk; i += V::kWidth) {
      const T d = V::load(p + i);
      vs1_before = V::add32(vs1_before, vs1);
      vs1 = V::add32(vs1, V::sad(d));
      vs2 = V::add32(vs2, V::weighted(d));
    }
    s2 += s1 * chunk + V::kWidth * V::hsum32(vs1_before) + V::hsum32(vs2);
    s1 += V::hsum32(vs1);
    s1 %= kMod;
    s2 %= kMod;
    p += chunk;
    n -= chunk;
  }
  for (std::size_t i = 0; i < n; ++i) {
    s1 += p[i];
    s2 += s1;
  }
  return static_cast<std::uint32_t>(((s2 % kMod) << 16) | (s1 % kMod));
}

#endif  // QUORVANE_PNG_VECTOR

}  // namespace
}  // namespace quorvane::cv
