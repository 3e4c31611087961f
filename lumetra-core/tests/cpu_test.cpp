// The one cap on the vector level that every kernel of the program honours.
#include <gtest/gtest.h>

#include <vector>

#include "lumetra/cpu.h"

namespace lumetra {
namespace {

TEST(Cpu, CapNeverRaisesAboveTheDetectedLevelAndScopesRestoreIt) {
  const cpu::Level detected = cpu::detected_level();
  ASSERT_EQ(cpu::level(), detected) << "no test may leave a cap behind";
  {
    const cpu::ScopedCap outer(cpu::Level::Scalar);
    EXPECT_EQ(cpu::level(), cpu::Level::Scalar);
    {
      // Lifting the cap inside a capped scope gives the detected level, never more.
      const cpu::ScopedCap inner(cpu::kWidest);
      EXPECT_EQ(cpu::level(), detected);
    }
    EXPECT_EQ(cpu::level(), cpu::Level::Scalar);
  }
  EXPECT_EQ(cpu::level(), detected);

  std::vector<cpu::Level> seen;
  cpu::for_each_level([&](cpu::Level l) {
    EXPECT_EQ(cpu::level(), l);
    seen.push_back(l);
  });
  ASSERT_EQ(seen.size(), static_cast<std::size_t>(detected) + 1);
  EXPECT_EQ(seen.front(), cpu::Level::Scalar);
  EXPECT_EQ(seen.back(), detected);
  EXPECT_EQ(cpu::level(), detected);
#if defined(__x86_64__)
  EXPECT_GE(detected, cpu::Level::Sse2) << "SSE2 is part of x86-64";
#endif
}

TEST(Cpu, LevelNamesRoundTrip) {
  for (int l = 0; l <= static_cast<int>(cpu::kWidest); ++l) {
    const auto level = static_cast<cpu::Level>(l);
    EXPECT_EQ(cpu::level_from_name(cpu::level_name(level)), level);
  }
  EXPECT_STREQ(cpu::level_name(cpu::Level::Avx512), "avx512-vnni");
  EXPECT_EQ(cpu::level_from_name("avx"), std::nullopt);
  EXPECT_EQ(cpu::level_from_name(""), std::nullopt);
}

}  // namespace
}  // namespace lumetra
