// An upper bound on every cell's score from the template's block means, cheap enough to
// run over a whole map before any exact cross sum, so that the cells it proves to stay
// below the threshold are never scored.
//
// Cut the template into k x k blocks B (the rows and columns left over at the right and
// bottom edges form one more block, E). Within a block the template is its mean t_B plus a
// rest with zero sum, so per channel
//   num = sum_B t_B * S_B + t_E * S_E - mean * s + sum over blocks of <W - w_B, T - t_B>
// with S_B the window's sum over block B. The last sum is at most sqrt(VW * VT) by
// Cauchy-Schwarz, VW and VT being the window's and the template's energies around their
// block means: VT is fixed, VW = q - sum_B S_B^2 / k^2 - S_E^2 / n_E. The block sums S_B
// are k x k box sums of the image at a stride of k, a small correlation the row kernel
// computes exactly in 32 bits; the rest comes from running sums. On screens most windows
// are either flat or differ from the template already at block level, and those are the
// ones given up.
#pragma once

#include <cstdint>
#include <vector>

#include "score.h"
#include "simd.h"

namespace lumetra::detail {

class BlockBound {
 public:
  // Bounds for `t` over `image` with blocks of `block` x `block` pixels, for cells at
  // `threshold`. usable() is false when it would not pay (a template too small, or one
  // whose energy lies mostly within its blocks) or cannot prune (a threshold of -1 or
  // below, or NaN).
  BlockBound(const RgbImage& image, const PreparedTemplate& t, float threshold, std::uint32_t block);
  bool usable() const { return usable_; }

  // Moves to output row y; rows come in increasing order, starting at 0, none skipped.
  void advance(std::uint32_t y);
  // For the cells [x0, x0 + n) of the current row (x0 a multiple of the block size):
  // alive[x] = 0 where the cell provably scores below the threshold, 1 where it may reach
  // it. `ws`/`wq` are the window sums and sums of squares of the row's cells, per channel.
  void test(const std::vector<double> ws[3], const std::vector<double> wq[3], std::uint32_t x0, std::uint32_t n,
            std::uint8_t* alive);

 private:
  // Box row r: the k x k box sums starting on image row r, in the forms the row needs.
  struct BoxRow {
    std::vector<std::uint32_t> packed[3];  // per channel, phase after phase: stride-k samples pair-packed
    std::vector<double> h[3];              // per cell x: sum over block columns of the box at x + k*bx
    std::vector<double> g;                 // the same for the boxes' squares, channels added
  };
  void build_box_row(std::uint32_t r, BoxRow& out);
  BoxRow& slot(std::uint32_t r) { return ring_[r % ring_.size()]; }

  const RgbImage* image_;
  const PreparedTemplate* t_;
  bool usable_ = false;
  std::uint32_t k_ = 2, nbx_ = 0, nby_ = 0, P_ = 0, y_ = 0;
  std::uint32_t rows_per_chunk_ = 0;  // block rows per 32-bit sum
  std::size_t npairs_ = 0, phase_len_ = 0;
  std::vector<std::uint32_t> taps_[3];  // block sums TB, pair-packed per block row
  double te_[3] = {};                   // mean of the leftover block E per channel (0 without one)
  double ne_ = 0;                       // pixels in E
  double vt_ = 0;                       // VT with its rounding allowance
  double threshold_ = 0;                // threshold less kScoreAllowance
  std::vector<BoxRow> ring_;
  std::vector<double> acc_;  // running sums over block rows, per phase of y: 4 arrays of P
  // Scratch, reused from row to row.
  std::vector<std::uint8_t> bytes_;
  std::vector<std::uint32_t> colsum_, lraw_, box_[3];
  std::vector<const std::uint32_t*> rows_;
  std::vector<double> gbox_, lsum_, qa0_, zeros_;
  SplitConsts consts_;  // for the prune kernel: see test()
};

}  // namespace lumetra::detail
