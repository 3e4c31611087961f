// Soak and timing of the screen capture on the real screen.
//
// Prints the median time of one capture and of one search_desktop (capture plus search),
// then polls wait_for_image for exactly 200 attempts and writes 200 capture files, and
// prints the handle count, GDI and USER object counts and memory of the process before
// and after: a capture that left anything behind would show as growth. The same is done
// through the real host, measured from outside.
//
//   screen_soak [--rounds N] [--timing-only]
#include "host_process.h"

#include "common/base64.h"
#include "common/utf.h"
#include "cv/capture.h"
#include "cv/screen_search.h"
#include "cv/tests/process_counters_win32.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

using quorvane::json;
using namespace quorvane::cv;
using quorvane::testing::ProcessCounters;
using quorvane::testing::read_counters;

// Shows that the counters see what they are meant to: five more events and five more
// bitmaps while they exist.
void check_counters() {
  const ProcessCounters before = read_counters(GetCurrentProcess());
  std::vector<HANDLE> events;
  std::vector<HBITMAP> bitmaps;
  HDC screen = GetDC(nullptr);
  for (int i = 0; i < 5; ++i) {
    events.push_back(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    bitmaps.push_back(CreateCompatibleBitmap(screen, 8, 8));
  }
  const ProcessCounters during = read_counters(GetCurrentProcess());
  for (HANDLE e : events) CloseHandle(e);
  for (HBITMAP b : bitmaps) DeleteObject(b);
  ReleaseDC(nullptr, screen);
  const ProcessCounters after = read_counters(GetCurrentProcess());
  std::printf("counter check (5 events and 5 bitmaps made, then freed): handles %+ld/%+ld, gdi %+ld/%+ld\n",
              static_cast<long>(during.handles) - static_cast<long>(before.handles),
              static_cast<long>(after.handles) - static_cast<long>(during.handles),
              static_cast<long>(during.gdi) - static_cast<long>(before.gdi),
              static_cast<long>(after.gdi) - static_cast<long>(during.gdi));
}

void print_counters(const char* label, const ProcessCounters& c) {
  std::printf("  %-36s handles %5lu  gdi %4lu  user %4lu  working set %7.1f MiB  private %7.1f MiB\n", label,
              static_cast<unsigned long>(c.handles), static_cast<unsigned long>(c.gdi),
              static_cast<unsigned long>(c.user), c.working_set / 1048576.0, c.private_bytes / 1048576.0);
}

double median_ms(int rounds, const std::function<void()>& work) {
  std::vector<double> times;
  for (int i = 0; i < rounds; ++i) {
    auto start = std::chrono::steady_clock::now();
    work();
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "screen_soak: %s\n", what.c_str());
  std::exit(1);
}

// Counts the captures a wait makes.
class CountingScreen final : public ScreenPlatform {
public:
  explicit CountingScreen(ScreenPlatform& inner) : inner_(inner) {}
  int copies = 0;

  Result<std::vector<MonitorHandle>> enumerate_monitors() override { return inner_.enumerate_monitors(); }
  Result<DisplayMode> monitor_display_mode(MonitorHandle m) override { return inner_.monitor_display_mode(m); }
  Result<float> monitor_scale_factor(MonitorHandle m) override { return inner_.monitor_scale_factor(m); }
  Result<MonitorInfo> monitor_info(MonitorHandle m) override { return inner_.monitor_info(m); }
  std::optional<std::vector<DisplayConfigPath>> active_display_paths() override { return inner_.active_display_paths(); }
  std::optional<std::array<char16_t, 32>> source_gdi_name(const DisplayConfigPath& p) override {
    return inner_.source_gdi_name(p);
  }
  std::optional<std::array<char16_t, 64>> target_friendly_name(const DisplayConfigPath& p) override {
    return inner_.target_friendly_name(p);
  }
  std::uint32_t system_dpi() override { return inner_.system_dpi(); }
  std::optional<FrameBounds> foreground_browser_frame() override { return inner_.foreground_browser_frame(); }
  std::optional<std::string> copy_screen_pixels(const DisplayMode& mode, std::span<std::uint8_t> bgra) override {
    ++copies;
    return inner_.copy_screen_pixels(mode, bgra);
  }
  std::optional<std::string> build_number_text() override { return inner_.build_number_text(); }

private:
  ScreenPlatform& inner_;
};

// Sleeps for real, but measures time in attempts: each pause advances the clock by exactly
// its length, so a time-out of 199 intervals ends the wait after exactly 200 attempts
// however long a capture takes.
class AttemptClock final : public WaitClock {
public:
  std::chrono::nanoseconds now() override { return elapsed_; }
  void sleep_ms(std::uint64_t ms) override {
    Sleep(static_cast<DWORD>(ms));
    elapsed_ += std::chrono::milliseconds(ms);
  }

private:
  std::chrono::nanoseconds elapsed_{0};
};

// A raw RGB pattern cut out of a capture.
json pattern_from(const ScreenImage& screen, std::uint32_t x, std::uint32_t y, std::uint32_t w, std::uint32_t h,
                  bool flip) {
  std::string rgb;
  for (std::uint32_t row = 0; row < h; ++row) {
    const std::uint32_t source_row = flip ? y + h - 1 - row : y + row;
    rgb.append(reinterpret_cast<const char*>(screen.image.at(x, source_row)), static_cast<std::size_t>(w) * 3);
  }
  return {{"data", quorvane::base64_encode(rgb)}, {"width", w}, {"height", h}};
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 31;
  bool timing_only = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
    if (std::strcmp(argv[i], "--timing-only") == 0) timing_only = true;
  }
  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);

  ScreenPlatform& screen = system_screen_platform();
  Result<ScreenImage> first = capture_screen_rgb(screen);
  if (!first) fail(first.error());
  std::printf("screen %ux%u at %.0f DPI, origin (%.0f, %.0f)\n", first->image.width, first->image.height, first->dpi,
              first->origin_x, first->origin_y);
  if (first->image.width < 800 || first->image.height < 600) fail("the screen is too small for the soak");

  const json present = pattern_from(*first, first->image.width / 2 - 32, first->image.height / 2 - 24, 64, 48, false);
  const json absent = pattern_from(*first, first->image.width / 2 - 32, first->image.height / 2 - 24, 64, 48, true);
  const json search_params = {{"pattern", present}};

  std::printf("\nmedian of %d rounds:\n", rounds);
  Result<DisplayMode> mode = screen.monitor_display_mode(screen.enumerate_monitors()->front());
  std::vector<std::uint8_t> bgra(static_cast<std::size_t>(mode->width) * mode->height * 4);
  std::printf("  GDI copy (BitBlt + GetDIBits)       %8.2f ms\n", median_ms(rounds, [&] {
                if (screen.copy_screen_pixels(*mode, bgra)) fail("copy failed");
              }));
  std::printf("  capture (capture_screen_rgb)        %8.2f ms\n", median_ms(rounds, [&] {
                if (!capture_screen_rgb(screen)) fail("capture failed");
              }));
  json last;
  std::printf("  search_desktop (capture + search)   %8.2f ms\n", median_ms(rounds, [&] {
                Result<json> r = search_desktop(search_params, screen);
                if (!r) fail(r.error());
                last = std::move(*r);
              }));
  std::printf("    (last search: %zu region(s), best at %s)\n", last["regions"].size(),
              last["regions"].empty() ? "-" : last["regions"][0]["matchedRect"].dump().c_str());
  const std::filesystem::path file = std::filesystem::temp_directory_path() / "screen_soak_capture.png";
  const json capture_params = {{"path", path_text(file)}};
  std::printf("  capture_desktop (capture + PNG)     %8.2f ms\n", median_ms(rounds, [&] {
                Result<json> r = capture_desktop(screen, capture_params);
                if (!r) fail(r.error());
              }));

  if (timing_only) return 0;

  std::printf("\n");
  check_counters();
  std::printf("this process:\n");
  const ProcessCounters before = read_counters(GetCurrentProcess());
  print_counters("before", before);

  CountingScreen counting(screen);
  AttemptClock clock;
  Result<json> waited =
      wait_for_image({{"pattern", absent}, {"timeoutMs", 199 * 20}, {"intervalMs", 20}}, counting, clock);
  if (!waited) fail(waited.error());
  print_counters(("after wait_for_image, " + std::to_string(counting.copies) + " attempts").c_str(),
                 read_counters(GetCurrentProcess()));

  for (int i = 0; i < 200; ++i)
    if (Result<json> r = capture_desktop(screen, capture_params); !r) fail(r.error());
  print_counters("after 200 x capture_desktop", read_counters(GetCurrentProcess()));

  std::printf("\nthe host process:\n");
  quorvane::standin::HostProcess host;
  // One of each first, so that what the system sets up on first use is not counted.
  host.call("wait_for_image", {{"pattern", absent}, {"timeoutMs", 0}});
  host.call("capture_desktop", capture_params);
  const ProcessCounters host_before = read_counters(host.process_handle());
  print_counters("before", host_before);
  for (int i = 0; i < 200; ++i) {
    json reply = host.call("wait_for_image", {{"pattern", absent}, {"timeoutMs", 0}});
    if (!reply.contains("result")) fail(reply.dump());
  }
  print_counters("after 200 x wait_for_image (1 try)", read_counters(host.process_handle()));
  for (int i = 0; i < 200; ++i) {
    json reply = host.call("capture_desktop", capture_params);
    if (!reply.contains("result")) fail(reply.dump());
  }
  print_counters("after 200 x capture_desktop", read_counters(host.process_handle()));
  // Again, to tell a heap that settles from one that keeps growing.
  for (int i = 0; i < 200; ++i) {
    json reply = host.call("wait_for_image", {{"pattern", absent}, {"timeoutMs", 0}});
    if (!reply.contains("result")) fail(reply.dump());
  }
  print_counters("after 200 x wait_for_image again", read_counters(host.process_handle()));
  std::filesystem::remove(file);
  return 0;
}
