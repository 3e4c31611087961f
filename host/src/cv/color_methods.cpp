#include "cv/color_methods.h"

#include <lumetra/resample.h>

#include <algorithm>

#include "common/params.h"
#include "cv/search_result.h"

namespace quorvane::cv {

namespace {

// The searched part of a capture: the capture pixels [x0, x1) x [y0, y1).
struct CaptureArea {
  std::uint32_t x0 = 0;
  std::uint32_t y0 = 0;
  std::uint32_t x1 = 0;
  std::uint32_t y1 = 0;
};

// The desktop area converted to capture pixels and clamped to the capture; the whole
// capture when there is none.
CaptureArea capture_area(const std::optional<RequestRect>& area, const ScreenImage& screen) {
  const std::uint32_t w = screen.image.width, h = screen.image.height;
  if (!area) return CaptureArea{0, 0, w, h};
  auto clamp_to = [](double value, std::uint32_t limit) {
    return static_cast<std::uint32_t>(std::clamp<std::int64_t>(round_to_i64(value), 0, limit));
  };
  return CaptureArea{clamp_to(area->x - screen.origin_x, w), clamp_to(area->y - screen.origin_y, h),
                     clamp_to(area->x + area->width - screen.origin_x, w),
                     clamp_to(area->y + area->height - screen.origin_y, h)};
}

}  // namespace

Result<json> find_color_regions(const ColorRegionsRequest& request, ScreenPlatform& platform) {
  Result<ScreenImage> screen = capture_screen_rgb(platform);
  if (!screen) return std::move(screen).failure();

  json result = json::object();
  result["regions"] = json::array();
  const CaptureArea area = capture_area(request.area, *screen);
  if (area.x1 <= area.x0 || area.y1 <= area.y0) return result;

  const bool whole = area.x0 == 0 && area.y0 == 0 && area.x1 == screen->image.width && area.y1 == screen->image.height;
  lumetra::RgbImage cropped;
  if (!whole) cropped = lumetra::crop(screen->image, area.x0, area.y0, area.x1 - area.x0, area.y1 - area.y0);
  const lumetra::RgbImage& searched = whole ? screen->image : cropped;

  const std::vector<lumetra::ColorRegion> regions =
      lumetra::find_color_regions(searched.pixels, searched.width, searched.height, request.color, request.tolerance,
                                  request.min_width, request.min_height);
  const std::int64_t left = round_to_i64(screen->origin_x), top = round_to_i64(screen->origin_y);
  for (const lumetra::ColorRegion& region : regions)
    result["regions"].push_back(rectangle_json(std::int64_t{area.x0} + region.x + left,
                                               std::int64_t{area.y0} + region.y + top, region.width, region.height));
  return result;
}

Result<json> find_rectangle(const lumetra::Rgb8& color, ScreenPlatform& platform) {
  Result<ScreenImage> screen = capture_screen_rgb(platform);
  if (!screen) return std::move(screen).failure();

  std::optional<lumetra::ColorRegion> found =
      lumetra::find_rectangle(screen->image.pixels, screen->image.width, screen->image.height, color);
  if (!found) return rectangle_json(0, 0, 0, 0);
  return rectangle_json(std::int64_t{found->x} + round_to_i64(screen->origin_x),
                        std::int64_t{found->y} + round_to_i64(screen->origin_y), found->width, found->height);
}

Result<json> find_color_regions(const json& params, ScreenPlatform& platform) {
  Result<ColorRegionsRequest> request = read_find_color_regions(params);
  if (!request) return std::move(request).failure();
  return find_color_regions(*request, platform);
}

Result<json> find_rectangle(const json& params, ScreenPlatform& platform) {
  Result<lumetra::Rgb8> color = read_color(params);
  if (!color) return std::move(color).failure();
  return find_rectangle(*color, platform);
}

HandlerResult find_color_regions(std::string_view, const json& params) {
  return find_color_regions(params, system_screen_platform());
}

HandlerResult find_rectangle(std::string_view, const json& params) {
  return find_rectangle(params, system_screen_platform());
}

}  // namespace quorvane::cv
