// Which x86 vector instructions this process may use: detected once, capped by one
// process-wide override. Every vector kernel in the program (the matching library's, the
// PNG encoder's, Base64's and the JSON scanner's) asks here and nowhere else, so capping
// the level once puts all of them on the same narrower path.
//
// It lives in the matching library's tree as a target of its own (lumetra_cpu) because
// this library is the lowest layer: the host's common code and the matching library both
// link it, the library never depends on host code, and the host's code that only needs
// the level does not have to pull in the matcher.
#pragma once

#include <atomic>
#include <optional>
#include <string_view>

namespace lumetra::cpu {

// Each level includes every level below it. The host runs on Windows machines we do not
// know, so everything is built for the x86-64 baseline (SSE2) and wider code is chosen
// only after asking the processor, and the operating system for the wider registers.
enum class Level : int {
  Scalar = 0,  // plain C++: the definition every vector path must reproduce
  Sse2 = 1,    // the x86-64 baseline
  Ssse3 = 2,   // byte shuffles
  Avx2 = 3,
  Avx512 = 4,  // AVX-512 F/BW/VL with VNNI (fused 16-bit multiply-add-accumulate)
};
inline constexpr Level kWidest = Level::Avx512;

// "scalar", "sse2", "ssse3", "avx2", "avx512-vnni".
const char* level_name(Level level);
// The level of a name from level_name, for benchmarks' command lines.
std::optional<Level> level_from_name(std::string_view name);

// The best level this processor and operating system support (Scalar off x86).
Level detected_level();

// Caps the level every kernel uses from now on, process-wide: min(detected, cap). For
// tests and benchmarks that compare the levels; kWidest lifts the cap.
void cap_level(Level cap);

namespace detail {
// The capped level, or -1 until first asked for; constant-initialised, so kernels may ask
// during static initialisation.
inline std::atomic<int> g_level{-1};
int init_level();
}  // namespace detail

// The level kernels use now. Cheap enough to ask on every call, so a changed cap takes
// effect at once.
inline Level level() {
  const int l = detail::g_level.load(std::memory_order_relaxed);
  return static_cast<Level>(l >= 0 ? l : detail::init_level());
}

// Caps the level for one scope and puts the previous one back, however the scope ends.
class ScopedCap {
 public:
  explicit ScopedCap(Level cap) : previous_(level()) { cap_level(cap); }
  ~ScopedCap() { cap_level(previous_); }
  ScopedCap(const ScopedCap&) = delete;
  ScopedCap& operator=(const ScopedCap&) = delete;

 private:
  Level previous_;
};

// Every level from Scalar up to the detected one, for tests that run each against Scalar.
template <typename Body>
void for_each_level(Body body) {
  for (int l = 0; l <= static_cast<int>(detected_level()); ++l) {
    const ScopedCap cap(static_cast<Level>(l));
    body(static_cast<Level>(l));
  }
}

// Only `levels` (those up to the detected one), for code whose paths change at fewer
// levels than there are: running one path twice costs test time and reaches nothing new.
template <typename Levels, typename Body>
void for_each_level(const Levels& levels, Body body) {
  for (const Level l : levels) {
    if (l > detected_level()) continue;
    const ScopedCap cap(l);
    body(l);
  }
}

}  // namespace lumetra::cpu
