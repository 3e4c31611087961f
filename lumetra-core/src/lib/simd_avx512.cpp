// The AVX-512 kernels with VNNI, where the 16-bit multiply-add and the accumulation are one
// instruction. Only the integer cross sums gain from it; the other kernels of this level
// are the AVX2 ones.
#include <immintrin.h>

#include "simd.h"

#define LUMETRA_TARGET __attribute__((target("avx512f,avx512bw,avx512vl,avx512vnni")))
#include "simd_vector.h"

namespace lumetra::detail {
namespace {

struct Avx512 {
  static constexpr std::size_t kLanes = 16;
  using I = __m512i;
  LUMETRA_TARGET static I zero() { return _mm512_setzero_si512(); }
  LUMETRA_TARGET static I set1(std::uint32_t v) { return _mm512_set1_epi32(static_cast<int>(v)); }
  LUMETRA_TARGET static I load(const void* p) { return _mm512_loadu_si512(p); }
  LUMETRA_TARGET static void store(std::uint32_t* p, I v) { _mm512_storeu_si512(p, v); }
  LUMETRA_TARGET static I madd(I acc, I a, I b) { return _mm512_dpwssd_epi32(acc, a, b); }
  LUMETRA_TARGET static std::uint32_t hsum(I v) {
    // Through memory: GCC 12's 512-to-256-bit extraction helpers trip -Wuninitialized.
    alignas(64) std::uint32_t lanes[16];
    _mm512_store_si512(lanes, v);
    std::uint32_t sum = 0;
    for (std::uint32_t x : lanes) sum += x;
    return sum;
  }
};

// The 256-bit form of the same instruction, for a last block of sixteen samples.
struct Avx512Half {
  static constexpr std::size_t kLanes = 8;
  using I = __m256i;
  LUMETRA_TARGET static I zero() { return _mm256_setzero_si256(); }
  LUMETRA_TARGET static I load(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
  LUMETRA_TARGET static I madd(I acc, I a, I b) { return _mm256_dpwssd_epi32(acc, a, b); }
  LUMETRA_TARGET static std::uint32_t hsum(I v) {
    return hsum_128(_mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)));
  }
};

}  // namespace

void use_avx512_kernels(Kernels& k) {
  k.row = row_kernel<Avx512>;
  k.dot = dot_kernel<Avx512, Avx512Half>;
}

}  // namespace lumetra::detail
