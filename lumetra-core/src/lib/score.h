// The score engine behind score_map and match_template.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "lumetra/matching.h"
#include "lumetra/rgb_image.h"
#include "simd.h"

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
  double sum_slack = 0;  // sum of Q_c over the channels, plus 1: the scale of every rounding
  ScoreConsts consts;    // n, mean and norm again, for the finalisers
  bool flat = true;      // m < 1e-6: every score is 0
  std::size_t npairs = 0;
  std::vector<std::uint32_t> taps[3];   // h * npairs sample pairs, for the row kernel
  std::size_t wpad = 0;                 // w rounded up to 16
  std::vector<std::int16_t> planar[3];  // h * wpad samples, zero padded, for the dot kernel
  std::size_t rows_per_chunk = 0;       // template rows per 32-bit partial sum

  // Horizontal bands of template rows, for bounding a cell's score before all of its
  // cross sums are known. Ordered by energy, highest first: the bound tightens fastest
  // when the rows that can contribute most are summed first.
  struct Band {
    std::uint32_t r0 = 0, r1 = 0;  // template rows [r0, r1)
    double n = 0;                  // pixels in the band
    std::int64_t S[3] = {};        // template sums over the band
    double energy = 0;             // upper bound of the band's sum of (T_c - S_c/N)^2, all channels
  };
  std::vector<Band> bands;

  // The two halves of the template's rows, the more energetic half (part A) first, for
  // pruning whole maps: see SplitConsts.
  struct Split {
    bool usable = false;           // worth it, and each half's cross sums fit in 32 bits
    std::uint32_t a0 = 0, a1 = 0;  // part A: template rows [a0, a1); part B: the others
    SplitConsts consts;            // threshold filled in per use
  };
  Split split;
};

PreparedTemplate prepare_template(const RgbImage& templ);

// The score of one cell from its exact integer sums: window sums s, window sums of squares
// q and cross sums p, per channel.
inline float cell_score(const PreparedTemplate& t, const std::int64_t s[3], const std::int64_t q[3],
                        const std::int64_t p[3]) {
  const double sd[3] = {static_cast<double>(s[0]), static_cast<double>(s[1]), static_cast<double>(s[2])};
  const double qd[3] = {static_cast<double>(q[0]), static_cast<double>(q[1]), static_cast<double>(q[2])};
  const double pd[3] = {static_cast<double>(p[0]), static_cast<double>(p[1]), static_cast<double>(p[2])};
  return score_from_sums(t.consts, sd, qd, pd);
}

// Value of a cell proven to score below the threshold without being scored exactly.
inline constexpr float kBelowThreshold = -2.0f;

// Fills `map` (already sized (W-w+1) x (H-h+1) and zeroed) with every cell's score, for
// finding its peaks at `threshold`: a cell that provably scores below `threshold` may hold
// kBelowThreshold instead. Such a cell can neither be a peak nor outscore a neighbour that
// is one, so the peaks are exactly those of the true map. A threshold of -1 or below (or
// NaN) asks for every score.
void score_full(const RgbImage& image, const PreparedTemplate& t, ScoreMap& map, float threshold);

// Scores already computed, by image position, shared by overlapping refinement windows.
// Stored in tiles allocated on first use, so that a few windows on a large image cost
// only their own neighbourhood.
class ScoreCache {
 public:
  ScoreCache(std::uint32_t width, std::uint32_t height)
      : tiles_x_((width + kTile - 1) / kTile),
        tiles_(static_cast<std::size_t>(tiles_x_) * ((height + kTile - 1) / kTile)) {}
  // The slot of position (x, y); NaN while unknown.
  float& at(std::uint32_t x, std::uint32_t y) {
    auto& tile = tiles_[static_cast<std::size_t>(y / kTile) * tiles_x_ + x / kTile];
    if (!tile) {
      tile = std::make_unique<float[]>(kTile * kTile);
      std::fill(tile.get(), tile.get() + kTile * kTile, std::numeric_limits<float>::quiet_NaN());
    }
    return tile[(y % kTile) * kTile + x % kTile];
  }

 private:
  static constexpr std::uint32_t kTile = 64;
  std::uint32_t tiles_x_;
  std::vector<std::unique_ptr<float[]>> tiles_;
};

// Buffers reused from one refinement window to the next.
struct WindowScratch {
  std::vector<double> cum_s[3], cum_q[3];
  std::vector<std::uint8_t> bytes[3];
  std::vector<std::int16_t> planes[3];
};

// Scores of the template over the window [x0, x1) x [y0, y1) of `image`, as the map of
// that window alone, for finding its peaks at `threshold`. A cell that provably scores
// below `threshold` may hold kBelowThreshold instead of its score: such a cell can neither
// be a peak nor outscore a neighbour that is one, so the peaks are exactly those of the
// true map. Every other cell holds its exact score. Cells already scored by an earlier
// window (at the same threshold) are taken from `cache`.
ScoreMap score_window(const RgbImage& image, const PreparedTemplate& t, std::uint32_t x0, std::uint32_t y0,
                      std::uint32_t x1, std::uint32_t y1, float threshold, ScoreCache& cache, WindowScratch& scratch);

}  // namespace lumetra::detail
