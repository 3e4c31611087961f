#include "lumetra/matching.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "checks.h"
#include "lumetra/resample.h"
#include "lumetra/rounding.h"
#include "score.h"

namespace lumetra {
namespace {

// Below these sizes a full-resolution map is cheap enough, and a 4x reduction would leave
// too little of the template to recognise.
constexpr std::uint32_t kCoarseMinTemplateSide = 16;
constexpr std::uint32_t kCoarseMinHaystackSide = 800;
constexpr std::uint32_t kCoarseFactor = 4;
constexpr std::size_t kMaxCoarsePeaks = 48;
// Slack around a coarse peak's full-resolution position: a quarter-resolution cell covers
// four pixels, and the reduction blurs the peak by about as much again.
constexpr std::int64_t kRefineMargin = 8;
// Up to this many template pixels a refinement window costs less as a score map of its
// own, every cell summed in full a row of cells at a time, than cell by cell with bounds:
// the cross sums of a small template are cheap next to the bookkeeping that would spare
// most of them.
constexpr std::uint64_t kWholeWindowMaxPixels = 32 * 32;
constexpr float kCoarseThresholdDrop = 0.15f;
constexpr float kCoarseThresholdFloor = 0.3f;

std::int32_t saturate_i32(std::int64_t v) {
  return static_cast<std::int32_t>(
      std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

ScoreMap empty_map_for(const RgbImage& image, const RgbImage& templ) {
  ScoreMap map;
  if (image.empty() || templ.empty() || templ.width > image.width || templ.height > image.height) return map;
  map.width = image.width - templ.width + 1;
  map.height = image.height - templ.height + 1;
  map.scores.assign(static_cast<std::size_t>(map.width) * map.height, 0.0f);
  return map;
}

// A score map good for finding peaks at `threshold`: cells proven to stay below it may
// hold a placeholder instead of their score (see score_full).
ScoreMap map_for_peaks(const RgbImage& image, const RgbImage& templ, float threshold) {
  ScoreMap map = empty_map_for(image, templ);
  if (map.scores.empty()) return map;
  const detail::PreparedTemplate t = detail::prepare_template(templ);
  detail::score_full(image, t, map, threshold);
  return map;
}

}  // namespace

ScoreMap score_map(const RgbImage& image, const RgbImage& templ) {
  detail::require_well_formed(image, "score_map image");
  detail::require_well_formed(templ, "score_map template");
  ScoreMap map = empty_map_for(image, templ);
  if (map.scores.empty()) return map;
  const detail::PreparedTemplate t = detail::prepare_template(templ);
  detail::score_full(image, t, map, -1.0f);
  return map;
}

namespace {

// find_peaks, handing each hit to `sink`.
template <typename Sink>
void for_each_peak(const ScoreMap& map, std::uint32_t width, std::uint32_t height, float threshold,
                   std::int32_t offset_x, std::int32_t offset_y, float scale, Sink&& sink) {
  const std::uint32_t W = map.width, H = map.height;
  if (map.scores.size() != static_cast<std::size_t>(W) * H) {
    throw std::invalid_argument("find_peaks: score buffer does not match width x height");
  }
  for (std::uint32_t y = 0; y < H; ++y) {
    const float* row = map.scores.data() + static_cast<std::size_t>(y) * W;
    for (std::uint32_t x = 0; x < W; ++x) {
      const float v = row[x];
      if (!(v >= threshold)) continue;  // NaN threshold: nothing qualifies
      bool peak = true;
      const std::uint32_t ylo = y > 0 ? y - 1 : 0, yhi = y + 1 < H ? y + 1 : y;
      const std::uint32_t xlo = x > 0 ? x - 1 : 0, xhi = x + 1 < W ? x + 1 : x;
      for (std::uint32_t ny = ylo; ny <= yhi && peak; ++ny) {
        const float* nrow = map.scores.data() + static_cast<std::size_t>(ny) * W;
        for (std::uint32_t nx = xlo; nx <= xhi; ++nx) {
          if (nrow[nx] > v) {
            peak = false;
            break;
          }
        }
      }
      if (!peak) continue;
      sink(Match{saturate_i32(static_cast<std::int64_t>(offset_x) + x),
                 saturate_i32(static_cast<std::int64_t>(offset_y) + y), width, height, v, scale});
    }
  }
}

}  // namespace

std::vector<Match> find_peaks(const ScoreMap& map, std::uint32_t width, std::uint32_t height, float threshold,
                              std::int32_t offset_x, std::int32_t offset_y, float scale) {
  std::vector<Match> hits;
  for_each_peak(map, width, height, threshold, offset_x, offset_y, scale,
                [&hits](const Match& m) { hits.push_back(m); });
  return hits;
}

SearchHaystack::SearchHaystack(const RgbImage& image) : image_(&image) {}

const RgbImage& SearchHaystack::coarse() const {
  if (!coarse_) {
    coarse_ = resize(*image_, std::max<std::uint32_t>(1, image_->width / kCoarseFactor),
                     std::max<std::uint32_t>(1, image_->height / kCoarseFactor), ResizeFilter::Triangle);
  }
  return *coarse_;
}

TemplateAtScale template_at_scale(const RgbImage& templ, float scale) {
  TemplateAtScale at{templ.width, templ.height, false, false};
  if (std::fabs(scale - 1.0f) < 0.001f) return at;
  at.resized = true;
  at.enlarged = scale > 1.0f;
  at.width = std::max<std::uint32_t>(1, round_to_u32(static_cast<float>(templ.width) * scale));
  at.height = std::max<std::uint32_t>(1, round_to_u32(static_cast<float>(templ.height) * scale));
  return at;
}

std::vector<Match> match_template(const RgbImage& haystack, const RgbImage& templ, float scale, float threshold) {
  return match_template(SearchHaystack(haystack), templ, scale, threshold);
}

std::vector<Match> match_template(const SearchHaystack& haystack, const RgbImage& templ, float scale, float threshold) {
  std::vector<Match> hits;
  match_template(haystack, templ, scale, threshold, [&hits](const Match& m) { hits.push_back(m); });
  return hits;
}

void match_template(const SearchHaystack& prepared_haystack, const RgbImage& templ, float scale, float threshold,
                    const MatchSink& sink) {
  const RgbImage& haystack = prepared_haystack.image();
  detail::require_well_formed(haystack, "match_template haystack");
  detail::require_well_formed(templ, "match_template template");
  if (!std::isfinite(scale) || std::isnan(threshold) || haystack.empty() || templ.empty()) return;

  const TemplateAtScale at = template_at_scale(templ, scale);
  const std::uint32_t tw = at.width, th = at.height;
  const std::uint32_t W = haystack.width, H = haystack.height;
  // Checked before resizing, so that no scale, however large, makes us build a template
  // that could never fit.
  if (W < tw || H < th) return;

  std::optional<RgbImage> resized;
  if (at.resized) resized = resize(templ, tw, th, at.enlarged ? ResizeFilter::Lanczos3 : ResizeFilter::Triangle);
  const RgbImage& t = resized ? *resized : templ;

  if (th < kCoarseMinTemplateSide || tw < kCoarseMinTemplateSide || std::max(W, H) < kCoarseMinHaystackSide) {
    for_each_peak(map_for_peaks(haystack, t, threshold), tw, th, threshold, 0, 0, scale, sink);
    return;
  }

  // Coarse pass at quarter resolution.
  const RgbImage& coarse_hay = prepared_haystack.coarse();
  const RgbImage coarse_t = resize(t, tw / kCoarseFactor, th / kCoarseFactor, ResizeFilter::Triangle);
  const float coarse_threshold = std::max(threshold - kCoarseThresholdDrop, kCoarseThresholdFloor);
  std::vector<Match> coarse = find_peaks(map_for_peaks(coarse_hay, coarse_t, coarse_threshold), coarse_t.width,
                                         coarse_t.height, coarse_threshold, 0, 0, scale);
  std::stable_sort(coarse.begin(), coarse.end(), [](const Match& a, const Match& b) { return a.score > b.score; });
  if (coarse.size() > kMaxCoarsePeaks) coarse.resize(kMaxCoarsePeaks);

  // Fine pass around each coarse peak, best first.
  const detail::PreparedTemplate prepared = detail::prepare_template(t);
  detail::ScoreCache cache(W - tw + 1, H - th + 1);
  detail::WindowScratch scratch;
  for (const Match& peak : coarse) {
    const std::int64_t cx = static_cast<std::int64_t>(peak.x) * kCoarseFactor;
    const std::int64_t cy = static_cast<std::int64_t>(peak.y) * kCoarseFactor;
    const std::int64_t x0 = std::max<std::int64_t>(cx - kRefineMargin, 0);
    const std::int64_t x1 = std::min<std::int64_t>(W, cx + tw + kRefineMargin);
    const std::int64_t y0 = std::max<std::int64_t>(cy - kRefineMargin, 0);
    const std::int64_t y1 = std::min<std::int64_t>(H, cy + th + kRefineMargin);
    // A window just as large as the template still holds one position, and on a haystack
    // exactly as tall (or wide) as the template every window is that size; it is scored.
    if (x1 - x0 < tw || y1 - y0 < th) continue;
    const auto left = static_cast<std::uint32_t>(x0), top = static_cast<std::uint32_t>(y0);
    const auto right = static_cast<std::uint32_t>(x1), bottom = static_cast<std::uint32_t>(y1);
    ScoreMap window;
    if (static_cast<std::uint64_t>(tw) * th <= kWholeWindowMaxPixels) {
      const RgbImage part = crop(haystack, left, top, right - left, bottom - top);
      window = empty_map_for(part, t);
      detail::score_full(part, prepared, window, threshold);
    } else {
      window = detail::score_window(haystack, prepared, left, top, right, bottom, threshold, cache, scratch);
    }
    for_each_peak(window, tw, th, threshold, static_cast<std::int32_t>(x0), static_cast<std::int32_t>(y0), scale, sink);
  }
}

}  // namespace lumetra
