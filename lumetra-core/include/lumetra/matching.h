// Template matching: normalised cross-correlation of a pattern over an image, taken
// jointly over the red, green and blue channels.
//
// The score of the template T (w x h, N = w*h pixels) with its top-left corner at (x, y)
// of the image I is the Pearson correlation of the window and the template, each channel
// centred on its own mean and the three channels pooled:
//
//   S_c = sum T_c, Q_c = sum T_c^2          m = sqrt(sum_c max(Q_c - S_c^2/N, 0))
//   s_c = sum I_c, q_c = sum I_c^2 (window) e = sum_c max(q_c - s_c^2/N, 0)
//   p_c = sum I_c * T_c (window)
//   score = sum_c (p_c - (S_c/N) * s_c) / (sqrt(e) * m), clamped to [-1, 1]
//
// evaluated in 64-bit floats in exactly that order, then stored as a 32-bit float. The
// integer sums are computed exactly (they are sums of products of bytes), so the result
// is bit for bit what a plain double-precision evaluation gives: an exact copy of the
// template scores exactly 1, and equal windows score equally.
//
// A flat template (m < 1e-6) scores 0 everywhere; a flat window (e < 1e-12) scores 0.
//
// All functions are stateless and thread-compatible; the inputs are only read.
// Functions taking an RgbImage throw std::invalid_argument when it is not well formed
// (its buffer is not exactly width * height * 3 bytes).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "lumetra/rgb_image.h"

namespace lumetra {

// Row-major grid of scores. A w x h template on a W x H image gives (W-w+1) x (H-h+1)
// cells; cell (x, y) scores the template's top-left corner at pixel (x, y).
struct ScoreMap {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<float> scores;  // width * height, every value in [-1, 1]

  float at(std::uint32_t x, std::uint32_t y) const { return scores[static_cast<std::size_t>(y) * width + x]; }
};

// One hit.
struct Match {
  std::int32_t x = 0;        // left edge, in pixels of the image searched
  std::int32_t y = 0;        // top edge
  std::uint32_t width = 0;   // width of the template as matched
  std::uint32_t height = 0;  // height of the template as matched
  float score = 0.0f;        // correlation score in [-1, 1]
  float scale = 1.0f;        // scale factor the hit was found at

  friend bool operator==(const Match&, const Match&) = default;
};

// Scores every position of `templ` inside `image`. When the template is larger than the
// image in either direction, or either image has no pixels, the map is empty (0 x 0).
ScoreMap score_map(const RgbImage& image, const RgbImage& templ);

// Local maxima of `map` at or above `threshold`, in scan order (rows top to bottom,
// left to right). A cell is a hit when its score >= threshold and none of its (up to
// eight) neighbours inside the map scores strictly higher, so a plateau yields every
// cell of it. Each hit is reported at (offset_x + column, offset_y + row), saturated to
// 32-bit, with the given width, height and scale. A NaN threshold matches nothing.
// Throws std::invalid_argument when the map's buffer does not hold width * height scores.
std::vector<Match> find_peaks(const ScoreMap& map, std::uint32_t width, std::uint32_t height, float threshold,
                              std::int32_t offset_x, std::int32_t offset_y, float scale);

// The template match_template searches with at `scale`: its size, and whether (and how)
// it is resized. Two scales with equal answers search with the same template and so find
// the same hits, apart from the scale each hit carries.
struct TemplateAtScale {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool resized = false;   // false: the template as given
  bool enlarged = false;  // resized with Lanczos-3 (scale > 1), else with the triangle

  friend bool operator==(const TemplateAtScale&, const TemplateAtScale&) = default;
};
TemplateAtScale template_at_scale(const RgbImage& templ, float scale);

// Single-scale search of `templ` in `haystack`, without overlap suppression.
//
// The template is first resized by `scale` (unchanged when |scale - 1| < 0.001; otherwise
// to max(1, round(w*scale)) x max(1, round(h*scale)), Lanczos-3 when enlarging, triangle
// when shrinking). Call that size tw x th. Every hit is tw x th and carries `scale`.
//
// - Direct: when tw < 16, th < 16 or the haystack's longer side is under 800 pixels,
//   the peaks of the full score map at `threshold`, in scan order.
// - Coarse-to-fine otherwise: haystack and template reduced 4x (triangle); the coarse
//   map's peaks at max(threshold - 0.15, 0.3) are ordered by score (stable) and the best
//   48 refined, each in the window of +-8 pixels around its full-resolution position at
//   `threshold`. Hits come window by window, and overlapping windows may report the same
//   hit more than once; the caller's overlap suppression removes those. A window clipped
//   to exactly the template's size (a haystack as tall or as wide as the template) still
//   has its one row or column of positions scored.
//
// Returns no hits when the resized template does not fit in the haystack (checked before
// any resize, so an absurd scale never allocates), when `scale` is not finite, when either
// image has no pixels, or when `threshold` is NaN.
std::vector<Match> match_template(const RgbImage& haystack, const RgbImage& templ, float scale, float threshold);

// A haystack searched several times, at several scales or for several templates: what
// does not depend on the template, its quarter-resolution copy for the coarse pass, is
// built once, on first use, instead of once per search. Holds a reference to `image`,
// which must outlive it. Not safe to share between threads (the copy is built lazily).
class SearchHaystack {
 public:
  explicit SearchHaystack(const RgbImage& image);
  const RgbImage& image() const { return *image_; }
  // The haystack reduced 4x (triangle), as the coarse pass of match_template uses it.
  const RgbImage& coarse() const;

 private:
  const RgbImage* image_;
  mutable std::optional<RgbImage> coarse_;
};

// Receives hits one by one, in the order match_template returns them.
using MatchSink = std::function<void(const Match&)>;

// match_template on a prepared haystack: the same hits in the same order.
std::vector<Match> match_template(const SearchHaystack& haystack, const RgbImage& templ, float scale, float threshold);

// The same search, handing each hit to `sink` instead of collecting them, so that a
// caller that keeps only the best few never holds the millions of hits a flat pattern
// at a low threshold produces.
void match_template(const SearchHaystack& haystack, const RgbImage& templ, float scale, float threshold,
                    const MatchSink& sink);

}  // namespace lumetra
