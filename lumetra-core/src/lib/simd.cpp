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
  if (level >= Level::Sse2) use_sse2_kernels(k);
  if (level >= Level::Ssse3) use_ssse3_kernels(k);
  if (level >= Level::Avx2) use_avx2_kernels(k);
  if (level >= Level::Avx512) use_avx512_kernels(k);
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
