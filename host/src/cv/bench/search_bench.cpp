// find_image with size variation and on the inputs that used to blow up, next to the way
// it was done before (every scale searched on its own haystack, every hit collected and
// ranked; find_rectangle comparing each rectangle with its whole row), in one run:
//
//   search_bench [repeats [section]]   repeats: default 5, the best CPU time is shown;
//                                      section: variation, flat, rectangle or huge
//                                      (huge-once: one 8000x6000 search, for a profiler)
//
// Prints CPU milliseconds of this thread, the ratios asked about (size variation against
// one scale; flat pattern against a normal search) and the peak of heap memory in use
// above what was held before the call. "same" says whether the result equals the old way's.
#include <lumetra/color.h>
#include <lumetra/resample.h>
#include <lumetra/rounding.h>
#include <malloc.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <new>
#include <optional>
#include <string>

#include "../tests/synthetic_screen.h"
#include "cv/find_image.h"
#include "cv/stb_decode.h"

// Heap accounting: bytes in use now and the most since the last reset.
namespace {
std::atomic<std::size_t> g_in_use{0};
std::atomic<std::size_t> g_peak{0};

void* counted_alloc(std::size_t n) {
  void* p = std::malloc(n == 0 ? 1 : n);
  if (!p) throw std::bad_alloc();
  const std::size_t now = g_in_use += malloc_usable_size(p);
  std::size_t peak = g_peak.load();
  while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
  }
  return p;
}
void counted_free(void* p) {
  if (!p) return;
  g_in_use -= malloc_usable_size(p);
  std::free(p);
}
}  // namespace

void* operator new(std::size_t n) { return counted_alloc(n); }
void* operator new[](std::size_t n) { return counted_alloc(n); }
void operator delete(void* p) noexcept { counted_free(p); }
void operator delete[](void* p) noexcept { counted_free(p); }
void operator delete(void* p, std::size_t) noexcept { counted_free(p); }
void operator delete[](void* p, std::size_t) noexcept { counted_free(p); }

namespace quorvane::cv {
namespace {

using lumetra::Match;
using lumetra::RgbImage;

int g_repeats = 5;

double cpu_ms() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

struct Measured {
  double ms = 0;       // best of the repeats
  double peak_mb = 0;  // heap peak above the start, of the first run
};

template <typename F>
Measured measure(F&& f, int repeats = g_repeats) {
  Measured m;
  for (int i = 0; i < repeats; ++i) {
    const std::size_t base = g_in_use.load();
    g_peak = base;
    const double t0 = cpu_ms();
    f();
    const double t = cpu_ms() - t0;
    if (i == 0) {
      m.ms = t;
      m.peak_mb = static_cast<double>(g_peak.load() - base) / (1024.0 * 1024.0);
    }
    m.ms = std::min(m.ms, t);
  }
  return m;
}

// The search as it was: every scale on its own (the quarter-size haystack rebuilt each
// time), every hit held, then ranked and suppressed.
std::vector<Match> old_find_image(const RgbImage& hay, const RgbImage& pattern, float threshold, bool variation) {
  std::vector<Match> hits;
  for (const float k : search_scales(1.0f, variation)) {
    std::vector<Match> found = lumetra::match_template(hay, pattern, k, threshold);
    hits.insert(hits.end(), found.begin(), found.end());
  }
  return best_separate_matches(hits, 16);
}

std::vector<Match> new_find_image(const RgbImage& hay, const RgbImage& pattern, float threshold, bool variation) {
  SearchOptions options;
  options.min_similarity = threshold;
  options.allow_size_variation = variation;
  return find_image(hay, 96.0, pattern, 96.0, options).value();
}

// find_rectangle as it was: each new rectangle compared with every one found in its row.
std::optional<lumetra::ColorRegion> old_find_rectangle(const RgbImage& img, lumetra::Rgb8 color) {
  using lumetra::ColorRegion;
  const std::uint32_t width = img.width, height = img.height;
  const std::vector<std::uint8_t> mask = lumetra::color_mask(img.pixels, width, height, color, 5);
  auto set = [&](std::int64_t x, std::int64_t y) {
    return x >= 0 && y >= 0 && x < width && y < height && mask[static_cast<std::size_t>(y) * width + x] != 0;
  };
  auto run = [&](std::int64_t x, std::int64_t y, int dx, int dy) {
    std::uint32_t n = 0;
    for (; set(x, y); x += dx, y += dy) ++n;
    return n;
  };
  std::vector<ColorRegion> list;
  std::vector<std::size_t> alive;
  std::vector<std::int32_t> diff(static_cast<std::size_t>(width) + 1);
  for (std::uint32_t r = 0; r < height; ++r) {
    std::fill(diff.begin(), diff.end(), 0);
    std::erase_if(alive, [&](std::size_t i) { return std::uint64_t{list[i].y} + list[i].height <= r; });
    for (std::size_t i : alive) {
      diff[list[i].x] += 1;
      diff[list[i].x + list[i].width] -= 1;
    }
    std::int32_t depth = 0;
    std::uint64_t row_end = 0;
    const std::size_t first_new = list.size();
    for (std::uint32_t c = 0; c < width; ++c) {
      depth += diff[c];
      if (!set(c, r) || depth > 0 || c < row_end) continue;
      auto add = [&](ColorRegion rect) {
        for (std::size_t i = first_new; i < list.size(); ++i)
          if (list[i] == rect) return;
        list.push_back(rect);
        row_end = std::max<std::uint64_t>(row_end, std::uint64_t{rect.x} + rect.width);
      };
      {
        const std::uint32_t k = run(c, r, 1, 0), j = run(c + k - 1, r, 0, 1);
        const std::uint32_t l = run(c + k - 1, r + j - 1, -1, 0), m = run(c, r + j - 1, 0, -1);
        if (l != 0 && m != 0) add(ColorRegion{c, r, std::min(l, k), std::min(j, m)});
      }
      {
        const std::uint32_t i = run(c, r, 0, 1), n = run(c, r + i - 1, 1, 0);
        const std::uint32_t m = run(c + n - 1, r + i - 1, 0, -1), v = run(c + n - 1, r, -1, 0);
        if (m != 0 && v != 0) add(ColorRegion{c, r, std::min(n, v), std::min(m, i)});
      }
    }
    for (std::size_t i = first_new; i < list.size(); ++i)
      if (list[i].height > 1) alive.push_back(i);
  }
  if (list.empty()) return std::nullopt;
  std::size_t best = 0;
  for (std::size_t i = 1; i < list.size(); ++i)
    if (std::uint64_t{list[i].width} * list[i].height >= std::uint64_t{list[best].width} * list[best].height) best = i;
  return list[best];
}

RgbImage load_screen(const char* name) {
  std::ifstream in(std::string(QUORVANE_TESTDATA_DIR) + "/screens/" + name, std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  auto img = stb_decode_rgb(bytes);
  if (!img.ok()) {
    std::fprintf(stderr, "%s: %s\n", name, img.error().c_str());
    std::exit(1);
  }
  return std::move(img).value();
}

// 8000x6000 of the two real desktops, side by side and mirrored by turns.
RgbImage huge_screen(const RgbImage& a, const RgbImage& b) {
  RgbImage out(8000, 6000);
  for (std::uint32_t y = 0; y < out.height; ++y) {
    const std::uint32_t ty = y / 1080;
    for (std::uint32_t x = 0; x < out.width; ++x) {
      const std::uint32_t tx = x / 1920;
      const RgbImage& src = (tx + ty) % 2 == 0 ? a : b;
      const std::uint32_t sx = ty % 2 == 0 ? x % 1920 : 1919 - x % 1920;
      std::copy_n(src.at(sx, y % 1080), 3, out.pixels.data() + (static_cast<std::size_t>(y) * out.width + x) * 3);
    }
  }
  return out;
}

void size_variation(const char* name, const RgbImage& screen, std::uint32_t x, std::uint32_t y) {
  std::printf("\nSize variation on %s (pattern cut at %u,%u; minSimilarity 0.8)\n", name, x, y);
  std::printf("%6s %10s %10s %10s %9s %9s %8s %5s\n", "size", "1 scale", "5 scales", "old 5", "5/1", "old 5/1",
              "old/new", "same");
  for (const std::uint32_t size : {12u, 14u, 15u, 16u, 24u, 32u, 64u, 128u}) {
    const RgbImage pattern = lumetra::crop(screen, x, y, size, size);
    const Measured one = measure([&] { new_find_image(screen, pattern, 0.8f, false); });
    const Measured five = measure([&] { new_find_image(screen, pattern, 0.8f, true); });
    const Measured old = measure([&] { old_find_image(screen, pattern, 0.8f, true); });
    const bool same = new_find_image(screen, pattern, 0.8f, true) == old_find_image(screen, pattern, 0.8f, true);
    std::printf("%6u %10.2f %10.2f %10.2f %9.2f %9.2f %8.2f %5s\n", size, one.ms, five.ms, old.ms, five.ms / one.ms,
                old.ms / one.ms, old.ms / five.ms, same ? "yes" : "NO");
  }
}

void flat_pattern(const RgbImage& screen) {
  std::printf("\nFlat pattern, every position a hit (1920x1080 screen; peak = heap in use above the start)\n");
  std::printf("%-26s %10s %10s %10s %10s %10s %9s %5s\n", "case", "ms", "peak MB", "old ms", "old MB", "normal ms",
              "ms/normal", "same");
  for (const std::uint32_t size : {8u, 15u}) {
    RgbImage flat(size, size);
    std::fill(flat.pixels.begin(), flat.pixels.end(), std::uint8_t{128});
    const RgbImage normal = lumetra::crop(screen, 1100, 600, size, size);
    for (const float threshold : {0.0f, -1.0f}) {
      for (const bool variation : {false, true}) {
        const Measured now = measure([&] { new_find_image(screen, flat, threshold, variation); }, 2);
        const Measured old = measure([&] { old_find_image(screen, flat, threshold, variation); }, 1);
        const Measured base = measure([&] { new_find_image(screen, normal, 0.8f, variation); }, 2);
        const bool same =
            new_find_image(screen, flat, threshold, variation) == old_find_image(screen, flat, threshold, variation);
        char name[64];
        std::snprintf(name, sizeof name, "%upx at %.0f%s", size, threshold, variation ? " +variation" : "");
        std::printf("%-26s %10.2f %10.2f %10.2f %10.2f %10.2f %9.2f %5s\n", name, now.ms, now.peak_mb, old.ms,
                    old.peak_mb, base.ms, now.ms / base.ms, same ? "yes" : "NO");
      }
    }
  }
}

void checkerboard_rectangle() {
  std::printf("\nfind_rectangle on a 1-pixel checkerboard of the colour\n");
  std::printf("%-12s %10s %10s %8s %5s\n", "image", "ms", "old ms", "old/new", "same");
  for (const std::uint32_t h : {540u, 1080u}) {
    const std::uint32_t w = h * 16 / 9;
    RgbImage img(w, h);
    for (std::uint32_t y = 0; y < h; ++y)
      for (std::uint32_t x = 0; x < w; ++x)
        if ((x + y) % 2 == 0) img.pixels[(static_cast<std::size_t>(y) * w + x) * 3] = 255;
    const lumetra::Rgb8 red{255, 0, 0};
    const Measured now = measure([&] { lumetra::find_rectangle(img.pixels, w, h, red); });
    const Measured old = measure([&] { old_find_rectangle(img, red); }, 1);
    const bool same = lumetra::find_rectangle(img.pixels, w, h, red) == old_find_rectangle(img, red);
    char name[32];
    std::snprintf(name, sizeof name, "%ux%u", w, h);
    std::printf("%-12s %10.2f %10.2f %8.1f %5s\n", name, now.ms, old.ms, old.ms / now.ms, same ? "yes" : "NO");
  }
}

void huge(const RgbImage& dark, const RgbImage& light) {
  std::printf("\n8000x6000 image, 400px pattern (cut at 2400,1500), minSimilarity 0.8\n");
  std::printf("%-14s %10s %10s %10s %10s %8s %5s\n", "case", "ms", "peak MB", "old ms", "old MB", "old/new", "same");
  const RgbImage screen = huge_screen(dark, light);
  const RgbImage pattern = lumetra::crop(screen, 2400, 1500, 400, 400);
  for (const bool variation : {false, true}) {
    const Measured now = measure([&] { new_find_image(screen, pattern, 0.8f, variation); }, 1);
    const Measured old = measure([&] { old_find_image(screen, pattern, 0.8f, variation); }, 1);
    const bool same =
        new_find_image(screen, pattern, 0.8f, variation) == old_find_image(screen, pattern, 0.8f, variation);
    std::printf("%-14s %10.2f %10.2f %10.2f %10.2f %8.2f %5s\n", variation ? "+variation" : "1 scale", now.ms,
                now.peak_mb, old.ms, old.peak_mb, old.ms / now.ms, same ? "yes" : "NO");
  }
}

}  // namespace
}  // namespace quorvane::cv

int main(int argc, char** argv) {
  using namespace quorvane::cv;
  if (argc > 1) g_repeats = std::max(1, std::atoi(argv[1]));
  const std::string only = argc > 2 ? argv[2] : "";
  auto wanted = [&only](const char* section) { return only.empty() || only == section; };
  std::printf("search_bench: one thread, CPU ms (best of %d; the slow old cases once)\n", g_repeats);
  const RgbImage dark = load_screen("desktop_dark.png");
  const RgbImage light = load_screen("desktop_light.png");
  if (wanted("variation")) {
    size_variation("the panel screen", testing::make_panel_screen(), 1100, 600);
    size_variation("desktop_dark.png", dark, 400, 800);
    size_variation("desktop_light.png", light, 1200, 300);
  }
  if (wanted("flat")) flat_pattern(light);
  if (wanted("rectangle")) checkerboard_rectangle();
  if (wanted("huge")) huge(dark, light);
  if (only == "huge-once") {  // one search, for profiling
    const RgbImage screen = huge_screen(dark, light);
    new_find_image(screen, lumetra::crop(screen, 2400, 1500, 400, 400), 0.8f, false);
  }
  return 0;
}
