// The capture encoder's compressor and kernels, checked against zlib's own inflate and
// checksum: every stream must inflate to its input with a valid Adler-32, and every
// vector kernel must give exactly what the scalar one gives.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "cv/deflate.h"
#include "cv/png_kernels.h"
#include "lumetra/cpu.h"
#include "png_unfilter.h"

namespace quorvane::cv {
namespace {

using Bytes = std::vector<std::uint8_t>;
using lumetra::cpu::for_each_level;
using lumetra::cpu::Level;
using lumetra::cpu::level_name;

// The levels at which the PNG kernels change path.
constexpr Level kPngLevels[] = {Level::Scalar, Level::Sse2, Level::Avx2};

Bytes random_bytes(std::size_t n, unsigned seed, unsigned modulo = 256) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& v : b) v = static_cast<std::uint8_t>(rng() % modulo);
  return b;
}

// zlib's inflate, which also checks the header and the Adler-32 at the end.
::testing::AssertionResult inflates_to(const Bytes& stream, const Bytes& expected) {
  Bytes out(expected.size() + 1);
  uLongf size = static_cast<uLongf>(out.size());
  const int rc = uncompress(out.data(), &size, stream.data(), static_cast<uLong>(stream.size()));
  if (rc != Z_OK) return ::testing::AssertionFailure() << "inflate failed with " << rc;
  out.resize(size);
  if (out != expected) return ::testing::AssertionFailure() << "inflated " << size << " bytes that differ";
  return ::testing::AssertionSuccess();
}

// Screen-like bytes: long runs of zeros with short bursts that recur at a few distances,
// some of them a "row" apart.
Bytes screen_like(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes b(n, 0);
  const Bytes glyphs = random_bytes(64, seed + 1);
  for (std::size_t at = 0;;) {
    at += rng() % 300;
    const std::size_t g = rng() % 48, len = 3 + rng() % 13;
    if (at + len > n) break;
    std::memcpy(b.data() + at, glyphs.data() + g, len);
    if (at + 7681 + len <= n && rng() % 3 == 0) std::memcpy(b.data() + at + 7681, glyphs.data() + g, len);
    at += len;
  }
  return b;
}

const DeflateTuning kLiteralsOnly = {0, 128, 32, 128, 24576};
const DeflateTuning kDefault = {};
const DeflateTuning kThorough = {256, 258, 258, 1u << 30, 4096};
// Extremes: one candidate, short nice and block lengths, no lazy step, long matches entered
// only at their ends.
const DeflateTuning kHasty = {1, 4, 0, 0, 1024};

TEST(Deflate, EveryKindOfInputInflatesBackWithAValidChecksum) {
  std::vector<std::pair<std::string, Bytes>> inputs = {
      {"empty", {}},
      {"one byte", {42}},
      {"three bytes", {1, 2, 3}},
      {"text", Bytes(std::begin("the quick brown fox jumps over the lazy dog, the quick brown fox"),
                     std::end("the quick brown fox jumps over the lazy dog, the quick brown fox"))},
      {"noise", random_bytes(200000, 1)},
      {"few symbols", random_bytes(100000, 2, 3)},
      {"zeros", Bytes(3 << 20, 0)},
      {"screen-like", screen_like(600000, 3)},
  };
  // Periods of one byte to one pixel row: each is a distance the match finder treats apart.
  for (std::size_t period : {1u, 2u, 3u, 4u, 5u, 7u, 4096u, 7681u, 32768u, 40000u}) {
    const Bytes unit = random_bytes(period, static_cast<unsigned>(period));
    Bytes b;
    while (b.size() < 300000) b.insert(b.end(), unit.begin(), unit.end());
    inputs.emplace_back("period " + std::to_string(period), std::move(b));
  }
  for (const auto& [name, data] : inputs) {
    for (const DeflateTuning* tuning : {&kLiteralsOnly, &kDefault, &kThorough, &kHasty}) {
      const Bytes z = zlib_compress(data, *tuning);
      EXPECT_TRUE(inflates_to(z, data)) << name << ", chain " << tuning->max_chain;
    }
  }
}

TEST(Deflate, CompressesRunsAndRepeatsAndStoresNoise) {
  // Sizes that only hold when runs, repeats and the stored fallback all work.
  EXPECT_LT(zlib_compress(Bytes(3 << 20, 0)).size(), 8000u);
  const Bytes unit = random_bytes(7681, 9);
  Bytes rows;
  for (int i = 0; i < 40; ++i) rows.insert(rows.end(), unit.begin(), unit.end());
  EXPECT_LT(zlib_compress(rows).size(), 7681u + 4000u);
  // Noise cannot shrink: it is stored, so it appears in the stream as it is, and costs
  // five bytes per block.
  const Bytes noise = random_bytes(300000, 4);
  const Bytes z = zlib_compress(noise);
  EXPECT_NE(std::search(z.begin(), z.end(), noise.begin() + 150000, noise.begin() + 151000), z.end());
  EXPECT_LE(z.size(), noise.size() + 6 + 5 * (noise.size() / 1024));
}

TEST(Deflate, InputHandedOverInAnySizeOfPiece) {
  const Bytes data = screen_like(300000, 5);
  for (std::size_t piece : {1u, 7u, 258u, 259u, 4099u, 65536u}) {
    ZlibCompressor z;
    Bytes stream;
    for (std::size_t at = 0; at < data.size(); at += piece) {
      const std::size_t n = std::min(piece, data.size() - at);
      std::memcpy(z.input_space(n), data.data() + at, n);
      z.commit(n);
      // Output taken early must not be produced again.
      stream.insert(stream.end(), z.output().begin(), z.output().end());
      z.consume_output();
    }
    z.finish();
    stream.insert(stream.end(), z.output().begin(), z.output().end());
    EXPECT_TRUE(inflates_to(stream, data)) << "pieces of " << piece;
  }
}

TEST(Deflate, CodeLengthsStayWithinFifteenBitsForSkewedCounts) {
  // Byte b occurs fib(b) times: an unlimited Huffman code would need 25 bits for the
  // rarest, and inflate rejects a table whose lengths were cut without rebalancing.
  Bytes data;
  std::uint32_t a = 1, b = 1;
  for (int sym = 0; sym < 26; ++sym) {
    data.insert(data.end(), a, static_cast<std::uint8_t>(sym * 9));
    const std::uint32_t next = a + b;
    a = b;
    b = next;
  }
  std::shuffle(data.begin(), data.end(), std::mt19937(6));
  for (const DeflateTuning* tuning : {&kLiteralsOnly, &kDefault})
    EXPECT_TRUE(inflates_to(zlib_compress(data, *tuning), data)) << "chain " << tuning->max_chain;
}

TEST(Deflate, MatchesReachExactlyTheWindowAndNoFurther) {
  // A block of noise repeated at distances around 32 KiB: at 32768 it may be matched,
  // beyond it must not be.
  for (std::size_t gap : {32768u - 300u, 32768u - 299u, 32768u - 298u}) {
    const Bytes block = random_bytes(300, 7);
    Bytes data = block;
    const Bytes filler = random_bytes(gap, 8);
    data.insert(data.end(), filler.begin(), filler.end());
    data.insert(data.end(), block.begin(), block.end());
    EXPECT_TRUE(inflates_to(zlib_compress(data, kThorough), data)) << "gap " << gap;
  }
}

// ---------------------------------------------------------------------------------------

TEST(PngKernels, AdlerMatchesZlibAtEveryLevelAndLength) {
  const Bytes noise = random_bytes(70000, 10);
  const Bytes ones(70000, 0xFF);  // the largest sums: overflow shows here first
  for_each_level(kPngLevels, [&](Level level) {
    const PngKernels& k = png_kernels();
    for (const Bytes* data : {&noise, &ones}) {
      for (std::size_t n : {0u, 1u, 15u, 16u, 31u, 32u, 33u, 5551u, 5552u, 5553u, 11104u, 70000u}) {
        for (std::uint32_t start : {1u, 0xFFF0FFF0u}) {
          const auto expected = static_cast<std::uint32_t>(adler32(start, data->data(), static_cast<uInt>(n)));
          EXPECT_EQ(k.adler32(start, data->data(), n), expected) << level_name(level) << " length " << n;
        }
      }
    }
  });
}

// Undoes one filtered row, as a decoder does.
Bytes unfilter(const std::uint8_t* filtered, const Bytes& prev, unsigned bpp) {
  Bytes cur(prev.size());
  EXPECT_TRUE(testing::unfilter_row(filtered, prev.data(), prev.size(), bpp, cur.data())) << int{filtered[0]};
  return cur;
}

TEST(PngKernels, FiltersAgreeWithScalarAndUndoExactly) {
  // Noise has every byte pair; the smooth rows make Paeth's three cases and the
  // Average rounding show up; widths cover the scalar head and tail around the vectors.
  std::mt19937 rng(11);
  for (unsigned bpp = 1; bpp <= 8; ++bpp) {
    for (std::size_t pixels : {1u, 2u, 5u, 8u, 9u, 16u, 33u, 100u}) {
      const std::size_t n = pixels * bpp;
      for (int kind = 0; kind < 3; ++kind) {
        Bytes prev(n), cur(n);
        for (std::size_t i = 0; i < n; ++i) {
          if (kind == 0) {
            prev[i] = static_cast<std::uint8_t>(rng());
            cur[i] = static_cast<std::uint8_t>(rng());
          } else {
            prev[i] = static_cast<std::uint8_t>(i * (kind == 1 ? 3 : 250) + rng() % 4);
            cur[i] = static_cast<std::uint8_t>(prev[i] + rng() % 9 - 4);
          }
        }
        for (int filter = 0; filter <= kAdaptiveFilter; ++filter) {
          Bytes expected(n + 1);
          kernels::kScalar.filter_row(filter, cur.data(), prev.data(), n, bpp, expected.data());
          ASSERT_EQ(unfilter(expected.data(), prev, bpp), cur) << "filter " << filter << " bpp " << bpp;
          for_each_level(kPngLevels, [&](Level level) {
            Bytes got(n + 1);
            png_kernels().filter_row(filter, cur.data(), prev.data(), n, bpp, got.data());
            ASSERT_EQ(got, expected) << level_name(level) << " filter " << filter << " bpp " << bpp << " n " << n;
          });
        }
      }
    }
  }
}

TEST(PngKernels, AdaptivePicksTheSmallestResiduesAndTheLowestTypeOnATie) {
  const unsigned bpp = 4;
  const std::size_t n = 64 * bpp;
  Bytes above(n), row(n), out(n + 1);
  // Noise above, except a black first pixel, so that only Sub (and, at best, Paeth
  // predicting left everywhere) gets a row of one colour down to its first pixel.
  for (std::size_t i = bpp; i < n; ++i) above[i] = static_cast<std::uint8_t>(i * 37);
  for_each_level(kPngLevels, [&](Level level) {
    const PngKernels& k = png_kernels();
    k.filter_row(kAdaptiveFilter, above.data(), above.data(), n, bpp, out.data());
    EXPECT_EQ(out[0], 2) << level_name(level) << ": a repeated row is all zeros under Up";
    std::fill(row.begin(), row.end(), std::uint8_t{50});
    k.filter_row(kAdaptiveFilter, row.data(), above.data(), n, bpp, out.data());
    EXPECT_EQ(out[0], 1) << level_name(level) << ": a row of one colour is all zeros under Sub after its first pixel";
    const Bytes zeros(n, 0);
    k.filter_row(kAdaptiveFilter, zeros.data(), zeros.data(), n, bpp, out.data());
    EXPECT_EQ(out[0], 0) << level_name(level) << ": all filters tie on zeros";
  });
}

}  // namespace
}  // namespace quorvane::cv
