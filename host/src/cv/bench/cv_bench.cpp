// Image inputs and find_image on screen-sized images.
//
//   cv_bench --benchmark_counters_tabular=true
//
// Decode: a 1920x1080 screenshot sent as PNG and as raw RGB, each through
// decode_image_param (Base64 included), as a search request would carry it.
// (Capture-file encoding has its own benchmark on real desktops: png_encode_bench.)
// Search: find_image on a 1920x1080 screen for patterns of 15..128 pixels, with and
// without allowSizeVariation.
#include <benchmark/benchmark.h>

#include <string>

#include "../tests/synthetic_screen.h"
#include "common/base64.h"
#include "cv/find_image.h"
#include "cv/png.h"
#include "cv/requests.h"

namespace quorvane::cv {
namespace {

using lumetra::RgbImage;

enum Screen { kDesktop = 0, kDocument = 1 };
const char* const kScreenNames[] = {"desktop", "document"};

const RgbImage& screen(int which) {
  static const RgbImage desktop = testing::make_desktop_screen(1920, 1080, 1);
  static const RgbImage document = testing::make_document_screen(1920, 1080, 1);
  return which == kDesktop ? desktop : document;
}

// ---------------------------------------------------------------------------------------

void BM_DecodePngParam(benchmark::State& state) {
  const RgbImage& img = screen(static_cast<int>(state.range(0)));
  const auto png = encode_png(img.pixels.data(), img.width, img.height, 3, 96.0);
  const json param = {{"data", base64_encode(png->data(), png->size())}};
  for (auto _ : state) {
    auto decoded = decode_image_param(param, "image");
    benchmark::DoNotOptimize(decoded);
  }
  state.SetLabel(kScreenNames[state.range(0)]);
  state.counters["png_bytes"] = static_cast<double>(png->size());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * img.pixels.size()));
}
BENCHMARK(BM_DecodePngParam)->Arg(kDesktop)->Arg(kDocument)->Unit(benchmark::kMillisecond);

void BM_DecodeRawParam(benchmark::State& state) {
  const RgbImage& img = screen(kDesktop);
  const json param = {
      {"data", base64_encode(img.pixels.data(), img.pixels.size())}, {"width", img.width}, {"height", img.height}};
  for (auto _ : state) {
    auto decoded = decode_image_param(param, "image");
    benchmark::DoNotOptimize(decoded);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * img.pixels.size()));
}
BENCHMARK(BM_DecodeRawParam)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------------

// The panel screen, made once.
const RgbImage& search_screen() {
  static const RgbImage img = testing::make_panel_screen();
  return img;
}

void BM_FindImage(benchmark::State& state) {
  const auto size = static_cast<std::uint32_t>(state.range(0));
  const bool variation = state.range(1) != 0;
  const RgbImage pattern = testing::crop(search_screen(), 1100, 600, size, size);
  SearchOptions options;
  options.allow_size_variation = variation;
  std::size_t found = 0;
  bool exact = false;
  for (auto _ : state) {
    auto matches = find_image(search_screen(), 96.0, pattern, 96.0, options);
    found = matches->size();
    exact = found > 0 && (*matches)[0].x == 1100 && (*matches)[0].y == 600;
    benchmark::DoNotOptimize(matches);
  }
  state.SetLabel(std::to_string(size) + "px" + (variation ? " +variation" : ""));
  state.counters["matches"] = static_cast<double>(found);
  state.counters["first_at_cut"] = exact ? 1 : 0;
}
BENCHMARK(BM_FindImage)->ArgsProduct({{15, 16, 24, 32, 48, 64, 96, 128}, {0, 1}})->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorvane::cv

BENCHMARK_MAIN();
