#include "lumetra/cpu.h"

namespace lumetra::cpu {
namespace {

Level probe() {
#if defined(__x86_64__) || defined(__i386__)
  // GCC's and clang's checks include the operating system's support for the wider
  // registers (XGETBV), not only the processor's. Each level needs the one below.
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("sse2")) return Level::Scalar;
  if (!__builtin_cpu_supports("ssse3")) return Level::Sse2;
  if (!__builtin_cpu_supports("avx2")) return Level::Ssse3;
  if (!(__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
        __builtin_cpu_supports("avx512vnni"))) {
    return Level::Avx2;
  }
  return Level::Avx512;
#else
  return Level::Scalar;
#endif
}

constexpr const char* kNames[] = {"scalar", "sse2", "ssse3", "avx2", "avx512-vnni"};

}  // namespace

const char* level_name(Level level) {
  const int l = static_cast<int>(level);
  return l >= 0 && l <= static_cast<int>(kWidest) ? kNames[l] : "?";
}

std::optional<Level> level_from_name(std::string_view name) {
  for (int l = 0; l <= static_cast<int>(kWidest); ++l)
    if (name == kNames[l]) return static_cast<Level>(l);
  return std::nullopt;
}

Level detected_level() {
  static const Level detected = probe();
  return detected;
}

void cap_level(Level cap) {
  const Level detected = detected_level();
  detail::g_level.store(static_cast<int>(cap < detected ? cap : detected), std::memory_order_relaxed);
}

namespace detail {
int init_level() {
  // Only the first call stores: a cap set concurrently must not be overwritten.
  int expected = -1;
  const int detected = static_cast<int>(detected_level());
  g_level.compare_exchange_strong(expected, detected, std::memory_order_relaxed);
  return g_level.load(std::memory_order_relaxed);
}
}  // namespace detail

}  // namespace lumetra::cpu
