// Peak finding and single-scale matching, on synthetic screens.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <utility>

#include "lumetra/matching.h"
#include "lumetra/resample.h"
#include "lumetra/rounding.h"
#include "screens.h"
#include "simd.h"

namespace lumetra {
namespace {

using testing::noise_image;
using testing::render_screen;

ScoreMap make_map(std::uint32_t w, std::uint32_t h, std::vector<float> v) {
  ScoreMap m;
  m.width = w;
  m.height = h;
  m.scores = std::move(v);
  return m;
}

std::vector<Match> by_score(std::vector<Match> hits) {
  std::stable_sort(hits.begin(), hits.end(), [](const Match& a, const Match& b) { return a.score > b.score; });
  return hits;
}

TEST(FindPeaks, LocalMaximaInScanOrderWithPlateausAndOffsets) {
  // clang-format off
  const ScoreMap m = make_map(5, 4, {
      0.9f, 0.2f, 0.1f, 0.5f, 0.5f,
      0.3f, 0.2f, 0.1f, 0.1f, 0.4f,
      0.1f, 0.7f, 0.1f, 0.6f, 0.2f,
      0.1f, 0.1f, 0.1f, 0.2f, 0.95f});
  // clang-format on
  const auto hits = find_peaks(m, 7, 8, 0.5f, 100, -3, 2.0f);
  // The corner (0,0); both cells of the 0.5 plateau; (1,2). (3,2) loses to its diagonal
  // neighbour (4,3), and (4,1) is below the threshold.
  const std::vector<std::pair<int, int>> want = {{0, 0}, {3, 0}, {4, 0}, {1, 2}, {4, 3}};
  ASSERT_EQ(hits.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(hits[i].x, 100 + want[i].first);
    EXPECT_EQ(hits[i].y, -3 + want[i].second);
    EXPECT_EQ(hits[i].width, 7u);
    EXPECT_EQ(hits[i].height, 8u);
    EXPECT_EQ(hits[i].scale, 2.0f);
  }
  EXPECT_EQ(hits[0].score, 0.9f);
  // The threshold is inclusive; a NaN threshold admits nothing; offsets saturate.
  EXPECT_EQ(find_peaks(m, 1, 1, 0.95f, 0, 0, 1.0f).size(), 1u);
  EXPECT_TRUE(find_peaks(m, 1, 1, std::numeric_limits<float>::quiet_NaN(), 0, 0, 1.0f).empty());
  const auto sat = find_peaks(m, 1, 1, 0.95f, std::numeric_limits<std::int32_t>::max(), 0, 1.0f);
  ASSERT_EQ(sat.size(), 1u);
  EXPECT_EQ(sat[0].x, std::numeric_limits<std::int32_t>::max());
  EXPECT_TRUE(find_peaks(ScoreMap{}, 1, 1, 0.0f, 0, 0, 1.0f).empty());
}

TEST(MatchTemplate, DirectPathIsThePeaksOfTheFullMap) {
  const testing::Screen screen = render_screen(1920, 1080, 7);
  // 15 px of text: below the coarse-to-fine minimum even on a full-HD screen.
  const RgbImage t = crop(screen.image, 330, 150, 15, 15);
  const auto hits = match_template(screen.image, t, 1.0f, 0.8f);
  EXPECT_EQ(hits, find_peaks(score_map(screen.image, t), 15, 15, 0.8f, 0, 0, 1.0f));
  const auto best = by_score(hits);
  ASSERT_FALSE(best.empty());
  EXPECT_EQ(best[0], (Match{330, 150, 15, 15, 1.0f, 1.0f}));
  // A small haystack takes the direct path whatever the template's size.
  const RgbImage small = crop(screen.image, 900, 100, 700, 500);
  const RgbImage icon = crop(small, 100, 40, 40, 40);
  EXPECT_EQ(match_template(small, icon, 1.0f, 0.7f), find_peaks(score_map(small, icon), 40, 40, 0.7f, 0, 0, 1.0f));
}

// The coarse-to-fine rules spelt out with the public building blocks, window by window
// as separate score maps of copied windows.
std::vector<Match> coarse_to_fine_by_hand(const RgbImage& hay, const RgbImage& t, float threshold) {
  const std::uint32_t W = hay.width, H = hay.height, tw = t.width, th = t.height;
  const RgbImage ch = resize(hay, std::max(1u, W / 4), std::max(1u, H / 4), ResizeFilter::Triangle);
  const RgbImage ct = resize(t, tw / 4, th / 4, ResizeFilter::Triangle);
  auto coarse =
      by_score(find_peaks(score_map(ch, ct), ct.width, ct.height, std::max(threshold - 0.15f, 0.3f), 0, 0, 1.0f));
  if (coarse.size() > 48) coarse.resize(48);
  std::vector<Match> hits;
  for (const Match& p : coarse) {
    const std::int64_t x0 = std::max<std::int64_t>(4 * p.x - 8, 0), x1 = std::min<std::int64_t>(W, 4 * p.x + tw + 8);
    const std::int64_t y0 = std::max<std::int64_t>(4 * p.y - 8, 0), y1 = std::min<std::int64_t>(H, 4 * p.y + th + 8);
    const RgbImage win = crop(hay, static_cast<std::uint32_t>(x0), static_cast<std::uint32_t>(y0),
                              static_cast<std::uint32_t>(x1 - x0), static_cast<std::uint32_t>(y1 - y0));
    const auto found = find_peaks(score_map(win, t), tw, th, threshold, static_cast<std::int32_t>(x0),
                                  static_cast<std::int32_t>(y0), 1.0f);
    hits.insert(hits.end(), found.begin(), found.end());
  }
  return hits;
}

TEST(MatchTemplate, CoarseToFineFollowsTheRulesWindowByWindow) {
  const testing::Screen screen = render_screen(1920, 1080, 8);
  struct Cut {
    std::uint32_t x, y, w, h;
    float threshold;
    bool found;
  };
  // Text, an icon with its label, a toolbar stretch of repeated icons, a wide low pattern.
  // A 16 px patch of small text is a blur of a few pixels at quarter resolution, which
  // hundreds of places resemble more than the original does; whether it survives among
  // the 48 best coarse peaks is not for the refinement to decide.
  // Small ones have their windows scored as maps of their own, larger ones cell by cell;
  // the one at the left edge has its windows clipped.
  for (const Cut& c :
       {Cut{330, 150, 16, 16, 0.8f, false}, Cut{330, 150, 64, 64, 0.8f, true},
        Cut{screen.icons[2].x, screen.icons[2].y, 24, 24, 0.8f, true},
        Cut{screen.icons[5].x - 2, screen.icons[5].y - 3, 32, 30, 0.7f, true}, Cut{0, 40, 30, 20, 0.8f, true},
        Cut{screen.icons.back().x - 20, screen.icons.back().y, 70, 60, 0.8f, true}, Cut{58, 40, 100, 40, 0.6f, true},
        Cut{400, 1020, 130, 40, 0.9f, true}}) {
    const RgbImage t = crop(screen.image, c.x, c.y, c.w, c.h);
    const auto hits = match_template(screen.image, t, 1.0f, c.threshold);
    EXPECT_EQ(hits, coarse_to_fine_by_hand(screen.image, t, c.threshold)) << c.x << "," << c.y;
    if (!c.found) continue;
    // The toolbar stretch repeats along the toolbar, so several hits may score 1.
    const Match exact{static_cast<std::int32_t>(c.x), static_cast<std::int32_t>(c.y), c.w, c.h, 1.0f, 1.0f};
    EXPECT_NE(std::find(hits.begin(), hits.end(), exact), hits.end()) << c.x << "," << c.y;
    const auto best = by_score(hits);
    ASSERT_FALSE(best.empty());
    EXPECT_EQ(best[0].score, 1.0f);
  }
}

TEST(MatchTemplate, ThresholdsExactlyAtAScoreKeepThatHit) {
  // Cells are given up once a bound proves them below the threshold; one scoring exactly
  // the threshold must survive that, in the full map of the direct path (a 700 px
  // haystack) as well as in the refinement windows of the coarse-to-fine path.
  const testing::Screen screen = render_screen(1920, 1080, 12);
  const RgbImage small = crop(screen.image, 200, 90, 700, 400);
  const RgbImage t = crop(small, 130, 40, 24, 20);
  const auto all = by_score(find_peaks(score_map(small, t), 24, 20, 0.3f, 0, 0, 1.0f));
  ASSERT_GE(all.size(), 6u);
  for (std::size_t k : {1u, 3u, 5u}) {
    const Match& m = all[k];
    ASSERT_LT(m.score, 1.0f);
    const auto at = match_template(small, t, 1.0f, m.score);
    EXPECT_NE(std::find(at.begin(), at.end(), m), at.end()) << k;
    const auto above = match_template(small, t, 1.0f, std::nextafter(m.score, 2.0f));
    EXPECT_EQ(std::find(above.begin(), above.end(), m), above.end()) << k;
  }
  // Windows scored cell by cell (64 px) and as maps of their own (24 px).
  const testing::Screen other = render_screen(1920, 1080, 8);
  for (const std::uint32_t side : {64u, 24u}) {
    const RgbImage pattern = crop(other.image, 330, 150, side, side);
    const auto loose = by_score(coarse_to_fine_by_hand(other.image, pattern, 0.3f));
    ASSERT_GE(loose.size(), 2u);
    const float edge = loose.back().score;
    EXPECT_EQ(match_template(other.image, pattern, 1.0f, edge), coarse_to_fine_by_hand(other.image, pattern, edge))
        << side;
  }
}

// A template to look for in a haystack at a threshold.
struct SearchCase {
  const RgbImage* hay;
  RgbImage t;
  float threshold;
};

TEST(MatchTemplate, EverySimdLevelFindsTheSameHits) {
  const testing::Screen screen = render_screen(1920, 1080, 13);
  const RgbImage small = crop(screen.image, 250, 90, 400, 300);
  const RgbImage wide = crop(screen.image, 0, 30, 1000, 600);  // still coarse-to-fine
  // Scalar kernels are slow: the direct path runs on the smaller haystack.
  const SearchCase cases[] = {{&small, crop(small, 80, 60, 15, 15), 0.7f},
                              {&wide, crop(wide, 60, 10, 48, 40), 0.6f},
                              {&wide, crop(wide, 320, 110, 72, 56), 0.8f},
                              {&small, crop(small, 100, 60, 40, 24), 0.5f}};
  for (const SearchCase& c : cases) {
    std::vector<Match> want;
    cpu::for_each_level(testing::kKernelLevels, [&](cpu::Level level) {
      if (level == cpu::Level::Scalar) {
        want = match_template(*c.hay, c.t, 1.0f, c.threshold);
        EXPECT_FALSE(want.empty());
        return;
      }
      EXPECT_EQ(match_template(*c.hay, c.t, 1.0f, c.threshold), want)
          << c.t.width << "x" << c.t.height << " " << cpu::level_name(level);
    });
  }
}

TEST(MatchTemplate, RepeatedIconsAreAllFoundWithEqualScores) {
  const testing::Screen screen = render_screen(1920, 1080, 9);
  const testing::PlacedIcon first = screen.icons.front();
  const RgbImage t = crop(screen.image, first.x, first.y, screen.icon_size, screen.icon_size);
  std::set<std::pair<int, int>> want;
  // Only toolbar icons share the background that shows in the icon's rounded corners.
  for (const auto& ic : screen.icons)
    if (ic.id % 6 == first.id % 6 && ic.y == first.y) want.insert({static_cast<int>(ic.x), static_cast<int>(ic.y)});
  ASSERT_GE(want.size(), 4u);
  // At the default threshold of 0.8 the coarse pass (at 0.65) keeps copies at every
  // phase of the 4x reduction; copies two pixels off that phase score about 0.73 there.
  const auto hits = match_template(screen.image, t, 1.0f, 0.8f);
  std::set<std::pair<int, int>> exact;
  for (const Match& m : hits)
    if (m.score == 1.0f) exact.insert({m.x, m.y});
  EXPECT_EQ(exact, want);
}

TEST(MatchTemplate, OnlyTheBest48CoarsePeaksAreRefinedInScanOrderOfEqualScores) {
  // 60 copies of one icon on a plain background, every copy at the same phase of the 4x
  // reduction, so all coarse peaks score the same and the stable order decides.
  RgbImage hay(1000, 600);
  std::fill(hay.pixels.begin(), hay.pixels.end(), 235);
  std::vector<std::pair<int, int>> copies;
  for (int r = 0; r < 6; ++r)
    for (int c = 0; c < 10; ++c) {
      testing::draw_icon(hay, 20 + c * 96, 16 + r * 96, 32, 4);
      copies.push_back({20 + c * 96, 16 + r * 96});
    }
  const RgbImage t = crop(hay, 12, 8, 48, 48);  // the icon with a margin of background
  const auto hits = match_template(hay, t, 1.0f, 0.9f);
  std::vector<std::pair<int, int>> found;
  for (const Match& m : hits) {
    EXPECT_EQ(m.score, 1.0f);
    found.push_back({m.x + 8, m.y + 8});
  }
  const std::vector<std::pair<int, int>> first48(copies.begin(), copies.begin() + 48);
  EXPECT_EQ(found, first48);
}

// The template as match_template resizes it for `scale`.
RgbImage resized_for(const RgbImage& t, float scale) {
  if (std::fabs(scale - 1.0f) < 0.001f) return t;
  const std::uint32_t w = std::max(1u, round_to_u32(static_cast<float>(t.width) * scale));
  const std::uint32_t h = std::max(1u, round_to_u32(static_cast<float>(t.height) * scale));
  return resize(t, w, h, scale > 1.0f ? ResizeFilter::Lanczos3 : ResizeFilter::Triangle);
}

std::vector<Match> with_scale(std::vector<Match> hits, float scale) {
  for (Match& m : hits) m.scale = scale;
  return hits;
}

TEST(MatchTemplate, LargePatternsAtEverySizeVariationScaleGiveTheExhaustiveHits) {
  // Templates of 2048 pixels and more have most cells given up by block bounds before
  // their cross sums, in the direct path's full map and in the coarse pass's map alike.
  // At each scale size variation tries, the hits must be those of exhaustive maps.
  // The exhaustive maps are the slow part: haystacks just large enough for each path.
  const testing::Screen screen = render_screen(1920, 1080, 14);
  const RgbImage small = crop(screen.image, 300, 100, 230, 150);
  const RgbImage wide = crop(screen.image, 200, 60, 820, 280);  // the longer side decides the path
  const SearchCase cases[] = {{&small, crop(small, 150, 80, 52, 50), 0.8f},
                              {&small, crop(small, 160, 90, 61, 47), 0.5f},
                              {&wide, crop(wide, 100, 40, 232, 226), 0.9f}};
  for (const SearchCase& c : cases) {
    for (const float k : {1.0f, 0.9f, 0.95f, 1.05f, 1.1f}) {
      const RgbImage t = resized_for(c.t, k);
      if (c.hay != &small) {
        // The exhaustive windows are costly: the two extreme scales stand for the others.
        if (k != 0.9f && k != 1.1f) continue;
        // A pattern captured at 1/k of the screen's size, so that at k it matches again.
        const RgbImage captured = resized_for(c.t, 1.0f / k);
        const auto want = with_scale(coarse_to_fine_by_hand(*c.hay, resized_for(captured, k), c.threshold), k);
        EXPECT_FALSE(want.empty()) << "coarse to fine at " << k;
        EXPECT_EQ(match_template(*c.hay, captured, k, c.threshold), want) << "coarse to fine at " << k;
        continue;
      }
      // The direct path also at a threshold exactly at its best peak's score.
      const ScoreMap full = score_map(*c.hay, t);
      const auto ranked = by_score(find_peaks(full, t.width, t.height, 0.0f, 0, 0, k));
      ASSERT_GE(ranked.size(), 3u);
      for (const float threshold : {c.threshold, ranked[0].score}) {
        EXPECT_EQ(match_template(*c.hay, c.t, k, threshold), find_peaks(full, t.width, t.height, threshold, 0, 0, k))
            << c.t.width << " at " << k << ", threshold " << threshold;
      }
    }
  }
}

TEST(MatchTemplate, ScaledTemplatesAreResizedAndReportTheirScale) {
  RgbImage hay(900, 300);
  std::fill(hay.pixels.begin(), hay.pixels.end(), 240);
  testing::Rng rng(5);
  testing::draw_text(hay, 10, 10, 30, 1, {30, 30, 30}, rng);
  testing::draw_icon(hay, 400, 100, 64, 1);
  testing::draw_icon(hay, 600, 100, 32, 4);
  // A pattern captured at half the size is enlarged (Lanczos) back to the screen's size.
  const RgbImage half = resize(crop(hay, 396, 96, 72, 72), 36, 36, ResizeFilter::Triangle);
  const auto up = by_score(match_template(hay, half, 2.0f, 0.9f));
  ASSERT_FALSE(up.empty());
  EXPECT_EQ(up[0].x, 396);
  EXPECT_EQ(up[0].y, 96);
  EXPECT_EQ(up[0].width, 72u);
  EXPECT_EQ(up[0].height, 72u);
  EXPECT_EQ(up[0].scale, 2.0f);
  // One captured at double size is shrunk (triangle).
  const RgbImage twice = resize(crop(hay, 596, 96, 40, 40), 80, 80, ResizeFilter::Lanczos3);
  const auto down = by_score(match_template(hay, twice, 0.5f, 0.9f));
  ASSERT_FALSE(down.empty());
  EXPECT_EQ(std::make_pair(down[0].x, down[0].y), std::make_pair(596, 96));
  EXPECT_EQ(down[0].width, 40u);
  EXPECT_EQ(down[0].scale, 0.5f);
  // Within 0.001 of 1 the template is used as it is.
  const RgbImage icon = crop(hay, 596, 96, 40, 40);
  const auto same = by_score(match_template(hay, icon, 1.0005f, 0.99f));
  ASSERT_FALSE(same.empty());
  EXPECT_EQ(same[0], (Match{596, 96, 40, 40, 1.0f, 1.0005f}));
}

TEST(MatchTemplate, DegenerateInputsEndInAnOrderlyResult) {
  const RgbImage hay = noise_image(300, 200, 61);
  const RgbImage t = crop(hay, 50, 60, 20, 20);
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  EXPECT_TRUE(match_template(RgbImage(), t, 1.0f, 0.8f).empty());
  EXPECT_TRUE(match_template(hay, RgbImage(), 1.0f, 0.8f).empty());
  EXPECT_TRUE(match_template(hay, RgbImage(0, 5), 1.0f, 0.8f).empty());
  EXPECT_TRUE(match_template(t, hay, 1.0f, 0.8f).empty());  // pattern larger than haystack
  EXPECT_TRUE(match_template(hay, t, nan, 0.8f).empty());
  EXPECT_TRUE(match_template(hay, t, inf, 0.8f).empty());
  EXPECT_TRUE(match_template(hay, t, 1e30f, 0.8f).empty());  // would be a 2e31-pixel template
  EXPECT_TRUE(match_template(hay, t, 1.0f, nan).empty());
  EXPECT_TRUE(match_template(hay, t, 1.0f, 1.5f).empty());
  // A scale of zero or below shrinks the template to its 1x1 minimum, which is flat: zero
  // everywhere, so only a threshold of 0 or less finds anything - then every cell.
  EXPECT_TRUE(match_template(hay, t, 0.0f, 0.5f).empty());
  const auto everywhere = match_template(hay, t, -3.0f, 0.0f);
  EXPECT_EQ(everywhere.size(), 300u * 200u);
  EXPECT_EQ(everywhere.back(), (Match{299, 199, 1, 1, 0.0f, -3.0f}));
  // A flat pattern on a 1920x1080 screen: the coarse threshold never drops below 0.3, so
  // it finds nothing even at threshold -1.
  RgbImage flat(40, 40);
  std::fill(flat.pixels.begin(), flat.pixels.end(), 243);
  EXPECT_TRUE(match_template(render_screen(1920, 1080, 62).image, flat, 1.0f, -1.0f).empty());
  RgbImage broken(3, 3);
  broken.pixels.pop_back();
  EXPECT_THROW(match_template(hay, broken, 1.0f, 0.5f), std::invalid_argument);
}

TEST(MatchTemplate, HaystackExactlyAsTallAsThePatternIsStillSearched) {
  // A wide strip, as a search area around a toolbar row would give: every refinement
  // window is exactly as tall as the template, and the match must still be found.
  // Both ways of scoring a window: as a map of its own (small templates) and cell by cell.
  const testing::Screen screen = render_screen(1920, 1080, 63);
  for (const std::uint32_t side : {40u, 24u}) {
    const RgbImage strip = crop(screen.image, 0, 40 + (40 - side) / 2, 1920, side);
    const RgbImage t = crop(strip, screen.icons[3].x - 4, 0, side, side);
    const auto hits = match_template(strip, t, 1.0f, 0.9f);
    const Match exact{static_cast<std::int32_t>(screen.icons[3].x - 4), 0, side, side, 1.0f, 1.0f};
    EXPECT_NE(std::find(hits.begin(), hits.end(), exact), hits.end()) << side;
  }
}

}  // namespace
}  // namespace lumetra
