// Shared pieces of the matching benchmarks: synthetic screens with patterns cut from
// them, the two OpenCV baselines, and a runner that times every contender on every case
// with Google Benchmark and then prints the ratios and whether the best matches agree.
//
// To compare another matcher (for example the host's multi-scale search), add a
// Contender whose `run` returns its best match for a case, and call run_comparison.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "lumetra/matching.h"
#include "lumetra/rgb_image.h"

namespace lumetra::bench {

struct Case {
  std::string name;  // content kind and pattern size, e.g. "icon+label 32x32"
  std::shared_ptr<const RgbImage> screen;
  RgbImage pattern;
  std::uint32_t cut_x = 0, cut_y = 0;  // where the pattern was cut from the screen
  float min_similarity = 0.8f;
};

struct Best {
  bool found = false;
  int x = 0;
  int y = 0;
  float score = 0.0f;
};

struct Contender {
  std::string name;
  std::function<Best(const Case&)> run;
  // False for cases the contender does not handle (the OpenCV coarse-to-fine baseline
  // only where our matcher goes coarse-to-fine too).
  std::function<bool(const Case&)> applies = [](const Case&) { return true; };
};

// Full-HD screens with text, panels, icons and a photo; patterns of 15, 16, 32, 64 and
// 128 pixels cut around a few kinds of content, at minSimilarity 0.8.
std::vector<Case> standard_cases();

// The highest-scoring match; the first of equals.
Best best_of(const std::vector<Match>& hits);

// Whether match_template takes its coarse-to-fine path for this case.
bool goes_coarse_to_fine(const Case& c);

// OpenCV, one thread: matchTemplate(TM_CCOEFF_NORMED) over the whole screen and its
// maximum; and the same coarse-to-fine scheme as ours, built from OpenCV's resize
// (INTER_AREA) and matchTemplate: coarse map at a quarter, local maxima at
// max(t - 0.15, 0.3), the best 48 refined in windows of +-8 pixels.
Contender opencv_full();
Contender opencv_coarse_to_fine();

// Registers one benchmark per case and contender, runs them (honouring the usual Google
// Benchmark flags), then prints a table of times, ratios against the two baselines (the
// first two contenders) and agreement of the best matches. Returns the process status.
int run_comparison(int argc, char** argv, const std::vector<Case>& cases, const std::vector<Contender>& contenders);

}  // namespace lumetra::bench
