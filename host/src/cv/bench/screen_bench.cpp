// The host's own share of a 1920x1080 capture, without the screen: the BGRA to RGBA swap
// with the alpha fix-up, and the whole capture_screen_rgb around a copy that only fills
// the buffer (so what remains is the conversion into the searched image).
#include <benchmark/benchmark.h>

#include <cstring>

#include "cv/capture.h"

namespace {

using namespace quorvane::cv;
using quorvane::Result;

constexpr std::uint32_t kWidth = 1920;
constexpr std::uint32_t kHeight = 1080;

void BM_BgraToRgba(benchmark::State& state) {
  std::vector<std::uint8_t> pixels(std::size_t{kWidth} * kHeight * 4);
  for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint8_t>(i * 31 + (i >> 12));
  for (auto _ : state) {
    bgra_to_rgba_in_place(pixels, 7601);
    benchmark::DoNotOptimize(pixels.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(pixels.size()));
}
BENCHMARK(BM_BgraToRgba)->Unit(benchmark::kMillisecond);

// A screen whose copy is a plain fill: the rest is the host's conversion work.
class FillScreen final : public ScreenPlatform {
 public:
  Result<std::vector<MonitorHandle>> enumerate_monitors() override { return std::vector<MonitorHandle>{1}; }
  Result<DisplayMode> monitor_display_mode(MonitorHandle) override { return DisplayMode{0, 0, kWidth, kHeight}; }
  Result<float> monitor_scale_factor(MonitorHandle) override { return 1.0f; }
  Result<MonitorInfo> monitor_info(MonitorHandle) override {
    MonitorInfo info;
    info.flags = MONITORINFOF_PRIMARY_FLAG;
    return info;
  }
  std::optional<std::vector<DisplayConfigPath>> active_display_paths() override { return std::nullopt; }
  std::optional<std::array<char16_t, 32>> source_gdi_name(const DisplayConfigPath&) override { return std::nullopt; }
  std::optional<std::array<char16_t, 64>> target_friendly_name(const DisplayConfigPath&) override {
    return std::nullopt;
  }
  std::uint32_t system_dpi() override { return 96; }
  std::optional<FrameBounds> foreground_browser_frame() override { return std::nullopt; }
  Result<void> copy_screen_pixels(const DisplayMode&, std::span<std::uint8_t> bgra) override {
    std::memset(bgra.data(), 0x5a, bgra.size());
    return {};
  }
  std::optional<std::string> build_number_text() override { return std::string("7601"); }
};

void BM_CaptureScreenRgbWithoutTheScreen(benchmark::State& state) {
  FillScreen screen;
  for (auto _ : state) {
    Result<ScreenImage> shot = capture_screen_rgb(screen);
    benchmark::DoNotOptimize(shot.ok());
  }
}
BENCHMARK(BM_CaptureScreenRgbWithoutTheScreen)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
