// Which kernels each level uses.
#include "simd.h"

#include <iterator>

namespace lumetra::detail {

Kernels kernels_for(cpu::Level level) {
  Kernels k{row_scalar,     dot_scalar,      mask_scalar,  vresize_scalar,
            hresize_scalar, finalize_scalar, prune_scalar, split_scalar};
#if defined(__x86_64__) || defined(__i386__)
  using cpu::Level;
  if (level > cpu::detected_level()) level = cpu::detected_level();
  if (level >= Level::Sse2) {
    k.row = row_sse2;
    k.dot = dot_sse2;
    k.vresize = vresize_sse2;
    k.hresize = hresize_sse2;
  }
  if (level >= Level::Ssse3) {
    k.mask = mask_ssse3;
    k.split = split_ssse3;
  }
  if (level >= Level::Avx2) {
    k.row = row_avx2;
    k.dot = dot_avx2;
    k.vresize = vresize_avx2;
    k.hresize = hresize_avx2;
    k.finalize = finalize_avx2;
    k.prune = prune_avx2;
  }
  if (level >= Level::Avx512) {
    k.row = row_avx512;
    k.dot = dot_avx512;
  }
#else
  (void)level;
#endif
  return k;
}

const Kernels& active_kernels() {
  // One table per level, built once; the level is looked up per call so that a changed
  // cap takes effect at once.
  static const Kernels tables[] = {kernels_for(cpu::Level::Scalar), kernels_for(cpu::Level::Sse2),
                                   kernels_for(cpu::Level::Ssse3), kernels_for(cpu::Level::Avx2),
                                   kernels_for(cpu::Level::Avx512)};
  static_assert(std::size(tables) == static_cast<std::size_t>(cpu::kWidest) + 1);
  return tables[static_cast<int>(cpu::level())];
}

}  // namespace lumetra::detail
