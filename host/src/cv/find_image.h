// Search options and the multi-scale, overlap-suppressed search that every image-search
// method runs: find_image turns one pattern and one haystack into at most 16 matches,
// best score first, in haystack pixels.
#pragma once

#include "common/handler.h"
#include "common/result.h"

#include <lumetra/matching.h>
#include <lumetra/rgb_image.h>

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace quorvane::cv {

struct SearchOptions {
  std::uint32_t max_results = 16;
  float min_similarity = 0.8f;
  float scale = 1.0f;
  bool allow_size_variation = false;
  // The request's `options` object as sent (an empty object when it was missing or not
  // an object). find_image reads `enableHighDpi`, `limitSearchArea` and `searchArea`
  // from it; the screen methods move `searchArea` into capture coordinates here first.
  json options = json::object();
};

// Reads the `options` member of the request parameters. Fails only on the anchor-box
// options, which are not supported.
Result<SearchOptions> read_search_options(const json& params);

// The search area a request asked for, clipped to the haystack.
struct SearchArea {
  std::uint32_t left = 0;
  std::uint32_t top = 0;
  std::uint32_t right = 0;
  std::uint32_t bottom = 0;
};

// The area to search under `options` (the whole image without `limitSearchArea`), or
// the search-area error.
Result<SearchArea> resolve_search_area(const json& options, std::uint32_t width, std::uint32_t height);

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
