#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "lumetra/resample.h"
#include "screens.h"

namespace lumetra::bench {
namespace {

cv::Mat as_mat(const RgbImage& img) {
  return cv::Mat(static_cast<int>(img.height), static_cast<int>(img.width), CV_8UC3,
                 const_cast<std::uint8_t*>(img.pixels.data()));
}

Best full_best(const cv::Mat& hay, const cv::Mat& tpl) {
  cv::Mat result;
  cv::matchTemplate(hay, tpl, result, cv::TM_CCOEFF_NORMED);
  double max_val = 0;
  cv::Point max_loc;
  cv::minMaxLoc(result, nullptr, &max_val, nullptr, &max_loc);
  return Best{true, max_loc.x, max_loc.y, static_cast<float>(max_val)};
}

}  // namespace

std::vector<Case> standard_cases() {
  const testing::Screen screen = testing::render_screen(1920, 1080, 20240611);
  auto img = std::make_shared<const RgbImage>(screen.image);
  const testing::PlacedIcon grid_icon = screen.icons.back();
  // Centres of a few kinds of content on this layout. Every pattern is unique on the
  // screen, so that "the best match" is one place: the icon+label cuts are centred on the
  // start of the label under a grid icon (the icons themselves repeat), the button cuts
  // on the start of the first button's caption.
  struct Anchor {
    const char* kind;
    int x, y;
  };
  const Anchor anchors[] = {
      {"icon+label", static_cast<int>(grid_icon.x) - 12, static_cast<int>(grid_icon.y) + 43},
      {"heading", 304 + 60, 111},
      {"text", 304 + 300, 175},
      {"button", 304 + 22, 1080 - 43},
      {"photo", 304 + 240, 560},
  };
  std::vector<Case> cases;
  for (std::uint32_t size : {15u, 16u, 32u, 64u, 128u}) {
    for (const Anchor& a : anchors) {
      Case c;
      c.name = std::string(a.kind) + " " + std::to_string(size) + "x" + std::to_string(size);
      c.screen = img;
      c.cut_x = static_cast<std::uint32_t>(
          std::clamp<int>(a.x - static_cast<int>(size) / 2, 0, 1920 - static_cast<int>(size)));
      c.cut_y = static_cast<std::uint32_t>(
          std::clamp<int>(a.y - static_cast<int>(size) / 2, 0, 1080 - static_cast<int>(size)));
      c.pattern = crop(*img, c.cut_x, c.cut_y, size, size);
      cases.push_back(std::move(c));
    }
  }
  return cases;
}

Best best_of(const std::vector<Match>& hits) {
  Best b;
  for (const Match& m : hits) {
    if (!b.found || m.score > b.score) b = Best{true, m.x, m.y, m.score};
  }
  return b;
}

bool goes_coarse_to_fine(const Case& c) {
  return c.pattern.width >= 16 && c.pattern.height >= 16 && std::max(c.screen->width, c.screen->height) >= 800;
}

Contender opencv_full() {
  return Contender{"opencv full", [](const Case& c) { return full_best(as_mat(*c.screen), as_mat(c.pattern)); }};
}

Contender opencv_coarse_to_fine() {
  Contender k;
  k.name = "opencv c2f";
  k.applies = goes_coarse_to_fine;
  k.run = [](const Case& c) {
    const cv::Mat hay = as_mat(*c.screen), tpl = as_mat(c.pattern);
    cv::Mat ch, ct, map, dilated;
    cv::resize(hay, ch, cv::Size(std::max(1, hay.cols / 4), std::max(1, hay.rows / 4)), 0, 0, cv::INTER_AREA);
    cv::resize(tpl, ct, cv::Size(tpl.cols / 4, tpl.rows / 4), 0, 0, cv::INTER_AREA);
    cv::matchTemplate(ch, ct, map, cv::TM_CCOEFF_NORMED);
    cv::dilate(map, dilated, cv::Mat::ones(3, 3, CV_8U));
    const float coarse_t = std::max(c.min_similarity - 0.15f, 0.3f);
    struct Peak {
      int x, y;
      float s;
    };
    std::vector<Peak> peaks;
    for (int y = 0; y < map.rows; ++y) {
      const float* m = map.ptr<float>(y);
      const float* d = dilated.ptr<float>(y);
      for (int x = 0; x < map.cols; ++x)
        if (m[x] >= coarse_t && m[x] >= d[x]) peaks.push_back({x, y, m[x]});
    }
    std::stable_sort(peaks.begin(), peaks.end(), [](const Peak& a, const Peak& b) { return a.s > b.s; });
    if (peaks.size() > 48) peaks.resize(48);
    Best best;
    for (const Peak& p : peaks) {
      const int x0 = std::max(4 * p.x - 8, 0), x1 = std::min(hay.cols, 4 * p.x + tpl.cols + 8);
      const int y0 = std::max(4 * p.y - 8, 0), y1 = std::min(hay.rows, 4 * p.y + tpl.rows + 8);
      if (x1 - x0 < tpl.cols || y1 - y0 < tpl.rows) continue;
      Best b = full_best(hay(cv::Rect(x0, y0, x1 - x0, y1 - y0)), tpl);
      if (b.score >= c.min_similarity && (!best.found || b.score > best.score))
        best = Best{true, b.x + x0, b.y + y0, b.score};
    }
    return best;
  };
  return k;
}

namespace {

// Collects the per-iteration CPU time of every run, in milliseconds, by registered name.
// CPU time rather than wall time: every contender runs on this one thread, and on a
// shared machine the wall clock also counts the time others held the core.
class Collector : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> ms;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type == Run::RT_Iteration && r.iterations > 0 && !r.error_occurred) {
        ms[r.run_name.function_name] = r.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(r.time_unit) * 1e3;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

std::string key(const Case& c, const Contender& k) { return c.name + " / " + k.name; }

// Same best match, or both found nothing.
bool same_place(const Best& a, const Best& b) { return a.found == b.found && (!a.found || (a.x == b.x && a.y == b.y)); }

}  // namespace

int run_comparison(int argc, char** argv, const std::vector<Case>& cases, const std::vector<Contender>& contenders) {
  cv::setNumThreads(0);  // sequential: every contender on one thread
  benchmark::Initialize(&argc, argv);
  // Best matches first, outside the timing.
  std::map<std::string, Best> best;
  for (const Case& c : cases)
    for (const Contender& k : contenders)
      if (k.applies(c)) best[key(c, k)] = k.run(c);

  for (const Case& c : cases) {
    for (const Contender& k : contenders) {
      if (!k.applies(c)) continue;
      benchmark::RegisterBenchmark(key(c, k).c_str(), [&c, &k](benchmark::State& state) {
        for (auto _ : state) benchmark::DoNotOptimize(k.run(c));
      })->Unit(benchmark::kMillisecond);
    }
  }
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  benchmark::Shutdown();

  const Contender& full = contenders.at(0);
  const Contender& c2f = contenders.at(1);
  std::printf("\nOne thread, %zu cases. CPU ms per search; =full / =c2f: same best-match position as the baseline.\n",
              cases.size());
  for (std::size_t i = 2; i < contenders.size(); ++i) {
    const Contender& k = contenders[i];
    std::printf("\n%-22s %9s %9s %9s %8s %8s  %-5s %-5s %s\n", ("[" + k.name + "] case").c_str(), "ours", "cv full",
                "cv c2f", "/full", "/c2f", "=full", "=c2f", "best x,y score: ours | cv full | cv c2f");
    for (const Case& c : cases) {
      if (!k.applies(c)) continue;
      const auto t = collector.ms.find(key(c, k));
      const auto tf = collector.ms.find(key(c, full));
      const auto tc = collector.ms.find(key(c, c2f));
      if (t == collector.ms.end() || tf == collector.ms.end()) continue;
      const bool has_c2f = c2f.applies(c) && tc != collector.ms.end();
      const Best& b = best[key(c, k)];
      const Best& bf = best[key(c, full)];
      char c2f_ms[16] = "-", c2f_ratio[16] = "-", c2f_same[16] = "-";
      if (has_c2f) {
        std::snprintf(c2f_ms, sizeof c2f_ms, "%.2f", tc->second);
        std::snprintf(c2f_ratio, sizeof c2f_ratio, "%.3f", t->second / tc->second);
        std::snprintf(c2f_same, sizeof c2f_same, "%s", same_place(b, best[key(c, c2f)]) ? "yes" : "NO");
      }
      auto where = [](const Best& x) {
        char buf[48] = "none";
        if (x.found) std::snprintf(buf, sizeof buf, "%d,%d %.4f", x.x, x.y, x.score);
        return std::string(buf);
      };
      const std::string c2f_best = has_c2f ? where(best[key(c, c2f)]) : "-";
      std::printf("%-22s %9.2f %9.2f %9s %8.3f %8s  %-5s %-5s %s | %s | %s (cut at %u,%u)\n", c.name.c_str(), t->second,
                  tf->second, c2f_ms, t->second / tf->second, c2f_ratio, same_place(b, bf) ? "yes" : "NO", c2f_same,
                  where(b).c_str(), where(bf).c_str(), c2f_best.c_str(), c.cut_x, c.cut_y);
    }
  }
  return 0;
}

}  // namespace lumetra::bench
