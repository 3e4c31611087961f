// The block-mean bound gives up cells before their cross sums: every cell it gives up must
// truly score below the threshold, and every other cell must hold its exact score, at
// every SIMD level (its last step runs in the prune kernel).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "block_bound.h"
#include "lumetra/matching.h"
#include "lumetra/resample.h"
#include "score.h"
#include "screens.h"
#include "simd.h"

namespace lumetra {
namespace {

using testing::noise_image;
using testing::render_screen;

struct Case {
  std::string name;
  RgbImage image, templ;
};

// Templates of both parities in each direction (the leftover row and column form a block
// of their own), on content the bound handles very differently: flat panels, text, icons,
// a photo-like area, noise, and a blurred copy whose cells sit near any threshold.
std::vector<Case> cases() {
  std::vector<Case> out;
  const testing::Screen screen = render_screen(400, 260, 21);
  const RgbImage s = crop(screen.image, 40, 20, 200, 140);
  out.push_back({"screen / 47x45 odd both ways", s, crop(s, 120, 80, 47, 45)});
  out.push_back({"screen / 33x70 tall", s, crop(s, 150, 10, 33, 70)});
  // Copies in the last column and row of cells, where the block sums run to the image's edge.
  out.push_back({"screen / 49x47 bottom-right corner", s, crop(s, 200 - 49, 140 - 47, 49, 47)});
  out.push_back({"screen / 50x46 bottom-right corner", s, crop(s, 200 - 50, 140 - 46, 50, 46)});
  // Smooth noise: random content with most of its energy between the blocks.
  auto smooth = [](std::uint32_t w, std::uint32_t h, std::uint64_t seed) {
    return resize(noise_image(w / 4, h / 4, seed), w, h, ResizeFilter::Lanczos3);
  };
  out.push_back({"smooth noise / smooth noise 52x52", smooth(140, 100, 22), smooth(52, 52, 23)});
  const RgbImage blurred = resize(resize(s, 100, 70, ResizeFilter::Triangle), 200, 140, ResizeFilter::Triangle);
  out.push_back({"blurred screen / sharp 52x49", blurred, crop(s, 110, 60, 52, 49)});
  return out;
}

// The map score_full leaves for finding peaks at `threshold`, checked cell by cell against
// the full map; returns how many cells the bound gave up.
std::size_t check_pruned_map(const Case& c, const ScoreMap& full, float threshold, const std::string& what) {
  const detail::PreparedTemplate t = detail::prepare_template(c.templ);
  EXPECT_TRUE(detail::BlockBound(c.image, t, threshold, 2).usable()) << what << ": the bound would test nothing";
  ScoreMap map;
  map.width = full.width;
  map.height = full.height;
  map.scores.assign(full.scores.size(), 0.0f);
  detail::score_full(c.image, t, map, threshold);
  std::size_t given_up = 0, bad = 0;
  for (std::size_t i = 0; i < full.scores.size(); ++i) {
    const float got = map.scores[i], want = full.scores[i];
    const bool ok = got == detail::kBelowThreshold ? !(want >= threshold) : std::memcmp(&got, &want, sizeof got) == 0;
    given_up += got == detail::kBelowThreshold;
    if (!ok && ++bad <= 5)
      ADD_FAILURE() << what << ": cell " << i % full.width << "," << i / full.width << " got " << got << " want "
                    << want;
  }
  EXPECT_EQ(bad, 0u) << what;
  EXPECT_EQ(find_peaks(map, c.templ.width, c.templ.height, threshold, 0, 0, 1.0f),
            find_peaks(full, c.templ.width, c.templ.height, threshold, 0, 0, 1.0f))
      << what;
  return given_up;
}

TEST(BlockBound, GivesUpOnlyCellsBelowTheThresholdAtEverySimdLevel) {
  for (const Case& c : cases()) {
    const ScoreMap full = score_map(c.image, c.templ);
    // Thresholds exactly at scores the map holds (the best, the eighth best and one from
    // the middle), and low ones where flat windows (score 0) must survive.
    std::vector<float> sorted = full.scores;
    std::sort(sorted.begin(), sorted.end(), std::greater<>());
    std::vector<float> thresholds = {sorted[0], sorted[7], sorted[sorted.size() / 3], 0.0f, -0.4f};
    std::size_t given_up = 0;
    cpu::for_each_level(testing::kKernelLevels, [&](cpu::Level level) {
      // The narrower levels (slow, the scalar one above all) at the hardest threshold.
      for (const float th : level == cpu::detected_level() ? thresholds : std::vector<float>{sorted[1]}) {
        given_up += check_pruned_map(c, full, th, c.name + " at " + std::to_string(th) + ", " + cpu::level_name(level));
      }
    });
    EXPECT_GT(given_up, 0u) << c.name << ": nothing was pruned, so nothing was tested";
  }
}

}  // namespace
}  // namespace lumetra
