#include "cv/find_image.h"

#include <lumetra/resample.h>
#include <lumetra/rounding.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "common/params.h"
#include "cv/errors.h"

namespace quorvane::cv {

float to_float(double value) {
  if (value > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
  if (value < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

namespace {

// An area member as a whole number of pixels.
std::int64_t area_member(const AreaNumber& value) {
  if (const auto* u = std::get_if<std::uint64_t>(&value))
    return *u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
               ? std::numeric_limits<std::int64_t>::max()
               : static_cast<std::int64_t>(*u);
  if (const auto* i = std::get_if<std::int64_t>(&value)) return *i;
  if (const auto* f = std::get_if<double>(&value)) return round_to_i64(*f);
  return 0;
}

std::int64_t saturating_add(std::int64_t a, std::int64_t b) {
  std::int64_t sum = 0;
  if (!__builtin_add_overflow(a, b, &sum)) return sum;
  return b > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
}

std::uint32_t clamp_to(std::int64_t value, std::uint32_t limit) {
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(value, 0, limit));
}

std::int32_t add_origin(std::int32_t value, std::uint32_t origin) {
  return saturate_to_i32(std::int64_t{value} + origin);
}

// A hit found on a haystack shrunk by k, brought back to haystack pixels.
lumetra::Match scaled_back(lumetra::Match m, float k) {
  m.x = lumetra::round_to_i32(static_cast<float>(m.x) * k);
  m.y = lumetra::round_to_i32(static_cast<float>(m.y) * k);
  m.width = lumetra::round_to_u32(static_cast<float>(m.width) * k);
  m.height = lumetra::round_to_u32(static_cast<float>(m.height) * k);
  m.scale = k;
  return m;
}

// The best `capacity` hits of a stream, ranked by score and then by arrival, as a heap
// with the worst of them on top.
class BestHits {
 public:
  explicit BestHits(std::size_t capacity) : capacity_(capacity) {}

  void add(const lumetra::Match& m) {
    const Entry e{m, seen_++};
    if (heap_.size() < capacity_) {
      heap_.push_back(e);
      std::push_heap(heap_.begin(), heap_.end(), better);
    } else if (capacity_ > 0 && better(e, heap_.front())) {
      std::pop_heap(heap_.begin(), heap_.end(), better);
      heap_.back() = e;
      std::push_heap(heap_.begin(), heap_.end(), better);
    }
  }
  std::uint64_t seen() const { return seen_; }
  // The kept hits, best first.
  std::vector<lumetra::Match> ranked() {
    std::sort_heap(heap_.begin(), heap_.end(), better);
    std::vector<lumetra::Match> out;
    out.reserve(heap_.size());
    for (const Entry& e : heap_) out.push_back(e.m);
    return out;
  }

 private:
  struct Entry {
    lumetra::Match m;
    std::uint64_t order;
  };
  // Higher score first; of equal scores, the earlier hit. As a heap comparator this puts
  // the worst entry on top.
  static bool better(const Entry& a, const Entry& b) {
    return a.m.score > b.m.score || (a.m.score == b.m.score && a.order < b.order);
  }
  std::size_t capacity_;
  std::uint64_t seen_ = 0;
  std::vector<Entry> heap_;
};

}  // namespace

Result<SearchArea> resolve_search_area(const SearchAreaRequest& request, std::uint32_t width, std::uint32_t height) {
  if (!request.limit) return SearchArea{0, 0, width, height};
  if (!request.given) return fail(errors::no_search_area());
  const std::int64_t x = area_member(request.x);
  const std::int64_t y = area_member(request.y);
  const std::int64_t w = area_member(request.width);
  const std::int64_t h = area_member(request.height);
  SearchArea out;
  out.left = clamp_to(x, width);
  out.top = clamp_to(y, height);
  // The far edges start from the unclipped corner, so an area hanging over the left
  // edge keeps only its visible part.
  out.right = clamp_to(saturating_add(x, w), width);
  out.bottom = clamp_to(saturating_add(y, h), height);
  if (out.left >= out.right || out.top >= out.bottom)
    return fail(errors::search_area_outside(x, y, w, h, width, height));
  return out;
}

std::vector<float> search_scales(float base, bool allow_size_variation) {
  if (!allow_size_variation) return {base};
  return {base, 0.9f * base, 0.95f * base, 1.05f * base, 1.1f * base};
}

std::vector<lumetra::Match> suppress_overlaps(std::span<const lumetra::Match> sorted, std::size_t limit) {
  std::vector<lumetra::Match> kept;
  for (const lumetra::Match& c : sorted) {
    if (kept.size() >= limit) break;
    bool suppressed = false;
    for (const lumetra::Match& k : kept) {
      // Edges in 64 bits: a hit near the 32-bit limit must not wrap into an overlap.
      const std::int64_t ix = std::min<std::int64_t>(std::int64_t{c.x} + c.width, std::int64_t{k.x} + k.width) -
                              std::max<std::int64_t>(c.x, k.x);
      const std::int64_t iy = std::min<std::int64_t>(std::int64_t{c.y} + c.height, std::int64_t{k.y} + k.height) -
                              std::max<std::int64_t>(c.y, k.y);
      if (ix <= 0 || iy <= 0) continue;
      using u128 = unsigned __int128;
      const u128 inter = static_cast<u128>(ix) * static_cast<u128>(iy);
      const u128 uni = u128{c.width} * c.height + u128{k.width} * k.height - inter;
      if (4 * inter >= uni) {
        suppressed = true;
        break;
      }
    }
    if (!suppressed) kept.push_back(c);
  }
  return kept;
}

std::vector<lumetra::Match> best_separate_matches(std::span<const lumetra::Match> hits, std::size_t limit) {
  // Ranking by score, then by position in `hits`, is exactly the stable sort's order.
  auto before = [hits](std::uint32_t a, std::uint32_t b) {
    return hits[a].score > hits[b].score || (hits[a].score == hits[b].score && a < b);
  };
  std::vector<std::uint32_t> ranked(hits.size());
  std::iota(ranked.begin(), ranked.end(), 0u);
  // A low threshold on a flat screen makes every position a hit, millions of them, while
  // suppression usually settles within the first few dozen: rank a growing prefix only.
  std::size_t prefix = std::min<std::size_t>(ranked.size(), 1024);
  for (;;) {
    std::partial_sort(ranked.begin(), ranked.begin() + static_cast<std::ptrdiff_t>(prefix), ranked.end(), before);
    std::vector<lumetra::Match> candidates;
    candidates.reserve(prefix);
    for (std::size_t i = 0; i < prefix; ++i) candidates.push_back(hits[ranked[i]]);
    std::vector<lumetra::Match> kept = suppress_overlaps(candidates, limit);
    // Greedy suppression of a prefix is a prefix of the suppression of the whole list.
    if (kept.size() >= limit || prefix == ranked.size()) return kept;
    prefix = std::min(ranked.size(), prefix * 8);
  }
}

std::vector<lumetra::Match> best_separate_matches(const HitSearch& search, std::size_t limit) {
  // Greedy suppression of the best hits is the beginning of the suppression of all of
  // them, so once the best few thousand yield `limit` separate matches the rest cannot
  // matter. Only when they do not (many hits overlapping the same few places) is the
  // search run again, keeping more.
  for (std::size_t capacity = 4096;; capacity *= 16) {
    BestHits best(capacity);
    search([&best](const lumetra::Match& m) { best.add(m); });
    std::vector<lumetra::Match> kept = suppress_overlaps(best.ranked(), limit);
    if (kept.size() >= limit || best.seen() <= capacity) return kept;
  }
}

Result<std::vector<lumetra::Match>> find_image(const lumetra::RgbImage& haystack, double haystack_dpi,
                                               const lumetra::RgbImage& pattern, double pattern_dpi,
                                               const SearchOptions& options) {
  const auto area = resolve_search_area(options.area, haystack.width, haystack.height);
  if (!area) return area.failure();
  float base = options.scale;
  if (options.high_dpi) {
    base = to_float(haystack_dpi / pattern_dpi);
    // A zero DPI gives a scale of 0 or infinity, and neither names a size to search at:
    // 0 would shrink the pattern to one flat pixel that "matches" everywhere.
    if (!std::isfinite(base) || !(base > 0.0f)) return fail(errors::unusable_dpi_scale(haystack_dpi, pattern_dpi));
  }

  const bool whole =
      area->left == 0 && area->top == 0 && area->right == haystack.width && area->bottom == haystack.height;
  lumetra::RgbImage cropped;
  if (!whole)
    cropped = lumetra::crop(haystack, area->left, area->top, area->right - area->left, area->bottom - area->top);
  const lumetra::RgbImage& hay = whole ? haystack : cropped;

  // Scores never exceed 1, and NaN compares false: no position could qualify.
  const bool searchable = !hay.empty() && !pattern.empty() && options.min_similarity <= 1.0f;
  const std::vector<float> scales = search_scales(base, options.allow_size_variation);
  // The quarter-size haystack of the coarse pass is the same at every scale below 1.25.
  const lumetra::SearchHaystack prepared(hay);
  auto search = [&](const lumetra::MatchSink& sink) {
    if (!searchable) return;
    // Neighbouring scales of a small pattern often round to the same size (0.9 and 0.95
    // of 14 pixels are both 13). Such a scale searches with the very template of the one
    // before and finds the same hits at the same places and scores, each of which comes
    // after its twin in the ranking and so is always suppressed by it, or by whatever
    // suppressed the twin: it cannot change the result and is not searched again.
    std::vector<lumetra::TemplateAtScale> searched;
    for (const float k : scales) {
      if (!std::isfinite(k) || !(k > 0.0f)) continue;
      if (k >= 1.25f) {
        // Shrinking the screen instead of enlarging the pattern cuts the positions to
        // score by k squared and keeps the pattern's own pixels.
        const std::uint32_t i = std::max(1u, lumetra::round_to_u32(static_cast<float>(hay.width) / k));
        const std::uint32_t j = std::max(1u, lumetra::round_to_u32(static_cast<float>(hay.height) / k));
        if (i >= pattern.width && j >= pattern.height) {
          const lumetra::RgbImage reduced = lumetra::resize(hay, i, j, lumetra::ResizeFilter::Triangle);
          lumetra::match_template(lumetra::SearchHaystack(reduced), pattern, 1.0f, options.min_similarity,
                                  [&sink, k](const lumetra::Match& m) { sink(scaled_back(m, k)); });
          continue;
        }
      }
      const lumetra::TemplateAtScale at = lumetra::template_at_scale(pattern, k);
      if (std::find(searched.begin(), searched.end(), at) != searched.end()) continue;
      searched.push_back(at);
      lumetra::match_template(prepared, pattern, k, options.min_similarity, sink);
    }
  };

  std::vector<lumetra::Match> kept = best_separate_matches(search, options.max_results);
  for (lumetra::Match& m : kept) {
    m.x = add_origin(m.x, area->left);
    m.y = add_origin(m.y, area->top);
  }
  return kept;
}

}  // namespace quorvane::cv
