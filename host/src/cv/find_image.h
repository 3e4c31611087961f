// Search options and the multi-scale, overlap-suppressed search that every image-search
// method runs: find_image turns one pattern and one haystack into at most 16 matches,
// best score first, in haystack pixels.
#pragma once

#include <lumetra/matching.h>
#include <lumetra/rgb_image.h>

#include <cstdint>
#include <functional>
#include <span>
#include <variant>
#include <vector>

#include "common/result.h"

namespace quorvane::cv {

// A `searchArea` member as the request sent it: missing (or not a number), an integer
// (non-negative ones as unsigned), or a float. Kept as sent because the screen methods
// move x and y into capture pixels before the area is rounded and clipped.
using AreaNumber = std::variant<std::monostate, std::int64_t, std::uint64_t, double>;

// The search area a request asked for, before it meets an image.
struct SearchAreaRequest {
  bool limit = false;  // `limitSearchArea` is true
  bool given = false;  // `searchArea` is present, of any type (members of a non-object are missing)
  AreaNumber x, y, width, height;
};

struct SearchOptions {
  std::uint32_t max_results = 16;
  float min_similarity = 0.8f;
  float scale = 1.0f;
  bool allow_size_variation = false;
  bool high_dpi = false;  // `enableHighDpi`: search at the ratio of the two DPIs
  SearchAreaRequest area;
};

// The search area a request asked for, clipped to the haystack.
struct SearchArea {
  std::uint32_t left = 0;
  std::uint32_t top = 0;
  std::uint32_t right = 0;
  std::uint32_t bottom = 0;
};

// The area to search (the whole image without `limitSearchArea`), or the search-area
// error. Integers count as they are (unsigned ones saturated), floats rounded half away
// from zero and saturated, missing members as 0.
Result<SearchArea> resolve_search_area(const SearchAreaRequest& request, std::uint32_t width, std::uint32_t height);

// double -> float without the undefined behaviour of converting an out-of-range value:
// magnitudes beyond the float range become infinities, as the hardware would give.
float to_float(double value);

// The scales find_image tries, in order, for a base scale: s alone, or s, 0.9s, 0.95s,
// 1.05s, 1.1s with size variation.
std::vector<float> search_scales(float base, bool allow_size_variation);

// Greedy overlap suppression over matches sorted best first: keeps a match unless its
// intersection-over-union with an already kept one is 0.25 or more; stops at `limit`.
std::vector<lumetra::Match> suppress_overlaps(std::span<const lumetra::Match> sorted, std::size_t limit);

// The first `limit` matches that survive suppress_overlaps when `hits` are ranked by
// score, best first, equal scores keeping their order in `hits`.
std::vector<lumetra::Match> best_separate_matches(std::span<const lumetra::Match> hits, std::size_t limit);

// A search that hands every hit it finds to the sink, in the order found; running it
// again gives the same hits in the same order.
using HitSearch = std::function<void(const lumetra::MatchSink&)>;

// best_separate_matches over the hits of `search`, without holding them all: only the
// best few thousand are kept at a time.
std::vector<lumetra::Match> best_separate_matches(const HitSearch& search, std::size_t limit);

// Finds `pattern` in `haystack`. Fails with the search-area errors, or when
// `enableHighDpi` meets a DPI that gives no usable scale (zero or non-finite ratio).
Result<std::vector<lumetra::Match>> find_image(const lumetra::RgbImage& haystack, double haystack_dpi,
                                               const lumetra::RgbImage& pattern, double pattern_dpi,
                                               const SearchOptions& options);

}  // namespace quorvane::cv
