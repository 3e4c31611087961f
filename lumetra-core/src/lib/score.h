// The score engine behind score_map and match_template.
#pragma once

#include "lumetra/matching.h"
#include "lumetra/rgb_image.h"

#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace lumetra::detail {

// Largest tap count whose cross sum always fits in 32 unsigned bits: 255 * 255 * 66051
// < 2^32. Longer sums are split into chunks of rows and added up in 64 bits.
inline constexpr std::uint64_t kMaxTapsPer32BitSum = 66051;

// A template made ready for scoring: its exact sums and the layouts the kernels read.
struct PreparedTemplate {
  const RgbImage* source = nullptr;  // the template itself; must outlive this
  std::uint32_t w = 0;
  std::uint32_t h = 0;
  double n = 0;          // pixel count as a double
  double mean[3] = {};   // S_c / N
  double norm = 0;       // m
  bool flat = true;      // m < 1e-6: every score is 0
  std::size_t npairs = 0;
  std::vector<std::uint32_t> taps[3];     // h * npairs sample pairs, for the row kernel
  std::size_t wpad = 0;                   // w rounded up to 16
  std::vector<std::int16_t> planar[3];    // h * wpad samples, zero padded, for the dot kernel
  std::size_t rows_per_chunk = 0;         // template rows per 32-bit partial sum

  // Horizontal bands of template rows, for bounding a cell's score before all of its
  // cross sums are known. Ordered by energy, highest first: the bound tightens fastest
  // when the rows that can contribute most are summed first.
  struct Band {
    std::uint32_t r0 = 0, r1 = 0;  // template rows [r0, r1)
    double n = 0;                  // pixels in the band
    std::int64_t S[3] = {};        // template sums over the band
    double energy = 0;             // sum over the band of (T_c - S_c/N)^2, all channels
  };
  std::vector<Band> bands;
};

PreparedTemplate prepare_template(const RgbImage& templ);

// The score of one cell from its exact integer sums: window sums s, window sums of squares
// q and cross sums p, per channel. This is the one place the formula is evaluated.
inline float cell_score(const PreparedTemplate& t, const std::int64_t s[3], const std::int64_t q[3],
                        const std::int64_t p[3]) {
  double e = 0.0;
  for (int c = 0; c < 3; ++c) {
    const double sc = static_cast<double>(s[c]);
    const double v = static_cast<double>(q[c]) - sc * sc / t.n;
    e += v > 0.0 ? v : 0.0;
  }
  if (e < 1e-12) return 0.0f;
  double num = 0.0;
  for (int c = 0; c < 3; ++c) {
    num += static_cast<double>(p[c]) - t.mean[c] * static_cast<double>(s[c]);
  }
  double score = num / (std::sqrt(e) * t.norm);
  if (score < -1.0) score = -1.0;
  if (score > 1.0) score = 1.0;
  return static_cast<float>(score);
}

// Fills `map` (already sized (W-w+1) x (H-h+1) and zeroed) with every cell's score.
void score_full(const RgbImage& image, const PreparedTemplate& t, ScoreMap& map);

// Value of a cell proven to score below the threshold without being scored exactly.
inline constexpr float kBelowThreshold = -2.0f;

// Scores of the template over the window [x0, x1) x [y0, y1) of `image`, as the map of
// that window alone, for finding its peaks at `threshold`. A cell that provably scores
// below `threshold` may hold kBelowThreshold instead of its score: such a cell can neither
// be a peak nor outscore a neighbour that is one, so the peaks are exactly those of the
// true map. Every other cell holds its exact score. Cells already scored by an earlier
// window (at the same threshold) are taken from `memo`, keyed by image position.
ScoreMap score_window(const RgbImage& image, const PreparedTemplate& t, std::uint32_t x0,
                      std::uint32_t y0, std::uint32_t x1, std::uint32_t y1, float threshold,
                      std::unordered_map<std::uint64_t, float>& memo);

}  // namespace lumetra::detail
