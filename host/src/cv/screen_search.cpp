#include "cv/screen_search.h"

#include <algorithm>
#include <cmath>
#include <thread>
#include <type_traits>
#include <variant>

#include "common/params.h"
#include "cv/find_image.h"
#include "cv/search_result.h"

namespace quorvane::cv {

namespace {

class SystemWaitClock final : public WaitClock {
 public:
  std::chrono::nanoseconds now() override {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch());
  }
  void sleep_ms(std::uint64_t milliseconds) override {
    // Slices keep every duration far inside the signed range of the clock types: a
    // count near 2^63 ms would overflow on its way to nanoseconds.
    constexpr std::uint64_t kSliceMs = 3'600'000;
    while (milliseconds > 0) {
      const std::uint64_t slice = std::min(milliseconds, kSliceMs);
      std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<std::int64_t>(slice)));
      milliseconds -= slice;
    }
  }
};

// Capture pixels to desktop pixels. Monitor origins are whole numbers; rounding only
// guards the conversion.
void to_desktop(std::vector<lumetra::Match>& matches, const ScreenImage& screen) {
  offset_matches(matches, round_to_i64(screen.origin_x), round_to_i64(screen.origin_y));
}

// Searches a capture for the pattern; the search area is given in desktop pixels.
Result<std::vector<lumetra::Match>> search_capture(const ScreenImage& screen, const DecodedImage& pattern,
                                                   SearchOptions options) {
  options.area = move_search_area(options.area, screen.origin_x, screen.origin_y);
  Result<std::vector<lumetra::Match>> matches =
      find_image(screen.image, screen.dpi, pattern.image, pattern.dpi, options);
  if (matches) to_desktop(*matches, screen);
  return matches;
}

// A JSON number of the target rectangle of search_relative; null when not finite.
json float_or_null(double value) { return std::isfinite(value) ? json(value) : json(nullptr); }

}  // namespace

WaitClock& system_wait_clock() {
  static SystemWaitClock clock;
  return clock;
}

std::optional<std::uint64_t> wait_pause_ms(std::uint64_t elapsed_ms, std::uint64_t timeout_ms,
                                           std::uint64_t interval_ms) {
  if (elapsed_ms >= timeout_ms) return std::nullopt;
  return std::min(interval_ms, timeout_ms - elapsed_ms);
}

SearchAreaRequest move_search_area(SearchAreaRequest area, double left, double top) {
  auto moved = [](const AreaNumber& value, double by) -> AreaNumber {
    return std::visit(
        [by](auto v) -> AreaNumber {
          if constexpr (std::is_same_v<decltype(v), std::monostate>)
            return v;
          else
            return static_cast<double>(v) - by;
        },
        value);
  };
  area.x = moved(area.x, left);
  area.y = moved(area.y, top);
  return area;
}

Result<json> search_desktop(const DesktopSearchRequest& request, ScreenPlatform& platform) {
  Result<ScreenImage> screen = capture_screen_rgb(platform);
  if (!screen) return std::move(screen).failure();

  std::optional<std::string> capture_path;
  if (request.save) {
    const std::filesystem::path path = request.save->path();
    if (Result<void> saved = save_capture_png(path, screen->image.pixels, screen->image.width, screen->image.height,
                                              CaptureColour::Rgb, screen->dpi);
        !saved)
      return std::move(saved).failure();
    capture_path = request.save->reply_text(path);
  }

  Result<std::vector<lumetra::Match>> matches = search_capture(*screen, request.pattern, request.options);
  if (!matches) return std::move(matches).failure();

  json result = build_search_result(*matches);
  if (capture_path) result["capturePath"] = std::move(*capture_path);
  return result;
}

Result<json> wait_for_image(const WaitRequest& request, ScreenPlatform& platform, WaitClock& clock) {
  const std::chrono::nanoseconds start = clock.now();
  while (true) {
    Result<ScreenImage> screen = capture_screen_rgb(platform);
    if (!screen) return std::move(screen).failure();
    Result<std::vector<lumetra::Match>> matches = search_capture(*screen, request.pattern, request.options);
    if (!matches) return std::move(matches).failure();

    const std::chrono::nanoseconds waited = clock.now() - start;
    const std::uint64_t elapsed_ms = waited.count() <= 0 ? 0 : static_cast<std::uint64_t>(waited.count()) / 1'000'000u;
    const bool found = !matches->empty();
    const std::optional<std::uint64_t> pause =
        found ? std::nullopt : wait_pause_ms(elapsed_ms, request.timeout_ms, request.interval_ms);
    if (!pause) {
      json result = build_search_result(*matches);
      result["elapsedMs"] = elapsed_ms;
      result["found"] = found;
      return result;
    }
    clock.sleep_ms(*pause);
  }
}

Result<json> search_relative(const RelativeSearchRequest& request, ScreenPlatform& platform) {
  // The search area is not moved here: it is given in pixels of the image searched.
  std::int64_t origin_x = 0, origin_y = 0;
  auto search = [&]() -> Result<std::vector<lumetra::Match>> {
    const DecodedImage& pattern = request.pattern;
    if (request.image)
      return find_image(request.image->image, request.image->dpi, pattern.image, pattern.dpi, request.options);
    Result<ScreenImage> screen = capture_screen_rgb(platform);
    if (!screen) return std::move(screen).failure();
    origin_x = round_to_i32(screen->origin_x);
    origin_y = round_to_i32(screen->origin_y);
    return find_image(screen->image, screen->dpi, pattern.image, pattern.dpi, request.options);
  };
  Result<std::vector<lumetra::Match>> matches = search();
  if (!matches) return std::move(matches).failure();
  offset_matches(*matches, origin_x, origin_y);

  const RequestRect& box = request.offset;
  const std::vector<std::uint32_t> order = reading_order(*matches);
  json regions = json::array();
  for (std::size_t i = 0; i < matches->size(); ++i) {
    const lumetra::Match& anchor = (*matches)[i];
    const double s = static_cast<double>(anchor.scale);
    json target = json::object();
    target["height"] = float_or_null(std::round(box.height * s));
    target["width"] = float_or_null(std::round(box.width * s));
    target["x"] = float_or_null(std::round(box.x * s + anchor.x));
    target["y"] = float_or_null(std::round(box.y * s + anchor.y));
    json region = json::object();
    region["anchorRect"] = rectangle_json(anchor.x, anchor.y, anchor.width, anchor.height);
    region["matchedRect"] = std::move(target);
    region["order"] = order[i];
    region["score"] = score_json(anchor.score);
    regions.push_back(std::move(region));
  }
  return search_result(std::move(regions));
}

Result<json> search_desktop(const json& params, ScreenPlatform& platform) {
  Result<DesktopSearchRequest> request = read_search_desktop(params);
  if (!request) return std::move(request).failure();
  return search_desktop(*request, platform);
}

Result<json> wait_for_image(const json& params, ScreenPlatform& platform, WaitClock& clock) {
  Result<WaitRequest> request = read_wait_for_image(params);
  if (!request) return std::move(request).failure();
  return wait_for_image(*request, platform, clock);
}

Result<json> search_relative(const json& params, ScreenPlatform& platform) {
  Result<RelativeSearchRequest> request = read_search_relative(params);
  if (!request) return std::move(request).failure();
  return search_relative(*request, platform);
}

HandlerResult search_desktop(std::string_view, const json& params) {
  return search_desktop(params, system_screen_platform());
}

HandlerResult wait_for_image(std::string_view, const json& params) {
  return wait_for_image(params, system_screen_platform(), system_wait_clock());
}

HandlerResult search_relative(std::string_view, const json& params) {
  return search_relative(params, system_screen_platform());
}

}  // namespace quorvane::cv
