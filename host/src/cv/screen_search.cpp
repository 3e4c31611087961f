#include "cv/screen_search.h"

#include "common/params.h"
#include "cv/errors.h"
#include "cv/find_image.h"
#include "cv/image_input.h"
#include "cv/search_result.h"

#include <algorithm>
#include <cmath>
#include <thread>

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

Result<DecodedImage> read_pattern(const json& params) {
  const json* value = find_param(params, "pattern");
  if (!value) return fail(errors::missing_param("pattern"));
  return decode_image_param(*value, "pattern");
}

// Capture pixels to desktop pixels. Monitor origins are whole numbers; rounding only
// guards the conversion.
void to_desktop(std::vector<lumetra::Match>& matches, const ScreenImage& screen) {
  offset_matches(matches, round_to_i64(screen.origin_x), round_to_i64(screen.origin_y));
}

// One capture and search of the screen, matches in desktop coordinates.
Result<std::vector<lumetra::Match>> search_screen_once(ScreenPlatform& platform, const DecodedImage& pattern,
                                                       const SearchOptions& options) {
  Result<ScreenImage> screen = capture_screen_rgb(platform);
  if (!screen) return fail(std::move(screen).error());
  SearchOptions moved = options;
  move_search_area(moved.options, screen->origin_x, screen->origin_y);
  Result<std::vector<lumetra::Match>> matches = find_image(screen->image, screen->dpi, pattern.image, pattern.dpi, moved);
  if (!matches) return matches;
  to_desktop(*matches, *screen);
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

void move_search_area(json& options, double left, double top) {
  if (!options.is_object()) return;
  auto area = options.find("searchArea");
  if (area == options.end() || !area->is_object()) return;
  if (auto x = area->find("x"); x != area->end() && x->is_number()) *x = x->get<double>() - left;
  if (auto y = area->find("y"); y != area->end() && y->is_number()) *y = y->get<double>() - top;
}

Result<json> search_desktop(const json& params, ScreenPlatform& platform) {
  Result<SearchOptions> options = read_search_options(params);
  if (!options) return fail(std::move(options).error());
  Result<DecodedImage> pattern = read_pattern(params);
  if (!pattern) return fail(std::move(pattern).error());

  Result<ScreenImage> screen = capture_screen_rgb(platform);
  if (!screen) return fail(std::move(screen).error());
  move_search_area(options->options, screen->origin_x, screen->origin_y);

  std::optional<std::string> capture_path;
  if (std::optional<bool> save = bool_param(options->options, "saveCaptureOnDisk"); save && *save) {
    std::optional<std::string_view> given = string_param(options->options, "capturePath");
    const std::filesystem::path path = given ? path_from_text(*given) : default_capture_path();
    if (std::optional<std::string> failure = save_capture_png(path, screen->image.pixels, screen->image.width,
                                                              screen->image.height, CaptureColour::Rgb, screen->dpi))
      return fail(std::move(*failure));
    capture_path = given ? std::string(*given) : path_text(path);
  }

  Result<std::vector<lumetra::Match>> matches =
      find_image(screen->image, screen->dpi, pattern->image, pattern->dpi, *options);
  if (!matches) return fail(std::move(matches).error());
  to_desktop(*matches, *screen);

  json result = build_search_result(*matches);
  if (capture_path) result["capturePath"] = std::move(*capture_path);
  return result;
}

Result<json> wait_for_image(const json& params, ScreenPlatform& platform, WaitClock& clock) {
  Result<SearchOptions> options = read_search_options(params);
  if (!options) return fail(std::move(options).error());
  Result<DecodedImage> pattern = read_pattern(params);
  if (!pattern) return fail(std::move(pattern).error());
  const std::uint64_t timeout_ms = count_param(params, "timeoutMs").value_or(kDefaultTimeoutMs);
  const std::uint64_t interval_ms = std::max(count_param(params, "intervalMs").value_or(kDefaultIntervalMs),
                                             kMinimumIntervalMs);

  const std::chrono::nanoseconds start = clock.now();
  while (true) {
    Result<std::vector<lumetra::Match>> matches = search_screen_once(platform, *pattern, *options);
    if (!matches) return fail(std::move(matches).error());

    const std::chrono::nanoseconds waited = clock.now() - start;
    const std::uint64_t elapsed_ms =
        waited.count() <= 0 ? 0 : static_cast<std::uint64_t>(waited.count()) / 1'000'000u;
    const bool found = !matches->empty();
    const std::optional<std::uint64_t> pause = found ? std::nullopt : wait_pause_ms(elapsed_ms, timeout_ms, interval_ms);
    if (!pause) {
      json result = build_search_result(*matches);
      result["elapsedMs"] = elapsed_ms;
      result["found"] = found;
      return result;
    }
    clock.sleep_ms(*pause);
  }
}

Result<json> search_relative(const json& params, ScreenPlatform& platform) {
  const json* offset = find_param(params, "offset");
  if (!offset) return fail(errors::missing_param("offset"));
  double box[4];
  const char* members[4] = {"x", "y", "width", "height"};
  for (int i = 0; i < 4; ++i) {
    std::optional<double> value = number_param(*offset, members[i]);
    if (!value) return fail("bad_params: missing numeric 'offset." + std::string(members[i]) + "'");
    box[i] = *value;
  }
  if (box[2] <= 0 || box[3] <= 0) return fail("bad_params: offset.width/height must be positive");

  Result<SearchOptions> options = read_search_options(params);
  if (!options) return fail(std::move(options).error());
  Result<DecodedImage> pattern = read_pattern(params);
  if (!pattern) return fail(std::move(pattern).error());

  // The search area is not moved here: it is given in pixels of the image searched.
  std::int64_t origin_x = 0, origin_y = 0;
  auto search = [&]() -> Result<std::vector<lumetra::Match>> {
    if (const json* image_value = find_param(params, "image")) {
      Result<DecodedImage> image = decode_image_param(*image_value, "image");
      if (!image) return fail(std::move(image).error());
      return find_image(image->image, image->dpi, pattern->image, pattern->dpi, *options);
    }
    Result<ScreenImage> screen = capture_screen_rgb(platform);
    if (!screen) return fail(std::move(screen).error());
    origin_x = round_to_i32(screen->origin_x);
    origin_y = round_to_i32(screen->origin_y);
    return find_image(screen->image, screen->dpi, pattern->image, pattern->dpi, *options);
  };
  Result<std::vector<lumetra::Match>> matches = search();
  if (!matches) return fail(std::move(matches).error());
  offset_matches(*matches, origin_x, origin_y);

  const std::vector<std::uint32_t> order = reading_order(*matches);
  json regions = json::array();
  for (std::size_t i = 0; i < matches->size(); ++i) {
    const lumetra::Match& anchor = (*matches)[i];
    const double s = static_cast<double>(anchor.scale);
    json target = json::object();
    target["height"] = float_or_null(std::round(box[3] * s));
    target["width"] = float_or_null(std::round(box[2] * s));
    target["x"] = float_or_null(std::round(box[0] * s + anchor.x));
    target["y"] = float_or_null(std::round(box[1] * s + anchor.y));
    json region = json::object();
    region["anchorRect"] = rectangle_json(anchor.x, anchor.y, anchor.width, anchor.height);
    region["matchedRect"] = std::move(target);
    region["order"] = order[i];
    region["score"] = score_json(anchor.score);
    regions.push_back(std::move(region));
  }
  return search_result(std::move(regions));
}

namespace {
HandlerResult to_handler_result(Result<json> result) {
  if (!result) return fail(std::move(result).error());
  return json(std::move(result).value());
}
}  // namespace

HandlerResult search_desktop(std::string_view, const json& params) {
  return to_handler_result(search_desktop(params, system_screen_platform()));
}

HandlerResult wait_for_image(std::string_view, const json& params) {
  return to_handler_result(wait_for_image(params, system_screen_platform(), system_wait_clock()));
}

HandlerResult search_relative(std::string_view, const json& params) {
  return to_handler_result(search_relative(params, system_screen_platform()));
}

}  // namespace quorvane::cv
