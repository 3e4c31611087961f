#include "cv/color_methods.h"

#include "common/params.h"

#include <algorithm>
#include <cstring>

namespace quorvane::cv {

namespace {

std::optional<std::uint8_t> hex_digit(char c) {
  if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
  return std::nullopt;
}

// The searched part of a capture: the capture pixels [x0, x1) x [y0, y1).
struct CaptureArea {
  std::uint32_t x0 = 0;
  std::uint32_t y0 = 0;
  std::uint32_t x1 = 0;
  std::uint32_t y1 = 0;
};

// `searchArea` in desktop coordinates, converted to capture pixels and clamped to the
// capture; the whole capture when it is missing or any member is not a number.
CaptureArea capture_area(const json& params, const cv::ScreenImage& screen) {
  const std::uint32_t w = screen.image.width, h = screen.image.height;
  const json* area = object_param(params, "searchArea");
  std::optional<double> x, y, width, height;
  if (area) {
    x = number_param(*area, "x");
    y = number_param(*area, "y");
    width = number_param(*area, "width");
    height = number_param(*area, "height");
  }
  if (!x || !y || !width || !height) return CaptureArea{0, 0, w, h};
  auto clamp_to = [](double value, std::uint32_t limit) {
    return static_cast<std::uint32_t>(std::clamp<std::int64_t>(round_to_i64(value), 0, limit));
  };
  return CaptureArea{clamp_to(*x - screen.origin_x, w), clamp_to(*y - screen.origin_y, h),
                     clamp_to(*x + *width - screen.origin_x, w), clamp_to(*y + *height - screen.origin_y, h)};
}

lumetra::RgbImage crop(const lumetra::RgbImage& image, const CaptureArea& area) {
  lumetra::RgbImage out(area.x1 - area.x0, area.y1 - area.y0);
  for (std::uint32_t row = 0; row < out.height; ++row)
    std::memcpy(out.row(row), image.at(area.x0, area.y0 + row), out.stride());
  return out;
}

json box_json(std::int64_t x, std::int64_t y, std::uint32_t width, std::uint32_t height) {
  json box = json::object();
  box["height"] = height;
  box["width"] = width;
  box["x"] = x;
  box["y"] = y;
  return box;
}

HandlerResult to_handler_result(Result<json> result) {
  if (!result) return fail(std::move(result).error());
  return json(std::move(result).value());
}

}  // namespace

Result<lumetra::Rgb8> parse_color_param(const json& params) {
  std::optional<std::string_view> text = string_param(params, "color");
  if (!text) return fail("bad_params: missing 'color'");
  if (text->starts_with('#')) text->remove_prefix(1);
  if (text->size() != 6) return fail("bad_params: color '" + std::string(*text) + "' is not rrggbb");
  std::uint8_t bytes[3];
  for (int i = 0; i < 3; ++i) {
    std::optional<std::uint8_t> high = hex_digit((*text)[2 * i]), low = hex_digit((*text)[2 * i + 1]);
    if (!high || !low) return fail("bad_params: color is not hex");
    bytes[i] = static_cast<std::uint8_t>(*high << 4 | *low);
  }
  return lumetra::Rgb8{bytes[0], bytes[1], bytes[2]};
}

Result<json> find_color_regions(const json& params, cv::ScreenPlatform& platform) {
  Result<lumetra::Rgb8> color = parse_color_param(params);
  if (!color) return fail(std::move(color).error());
  const std::uint32_t tolerance =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(count_param(params, "tolerance").value_or(0), 255));
  // Higher bits are dropped, not saturated; 0 then means 1 in the library.
  const std::uint32_t min_width = static_cast<std::uint32_t>(count_param(params, "minWidth").value_or(3));
  const std::uint32_t min_height = static_cast<std::uint32_t>(count_param(params, "minHeight").value_or(3));

  Result<cv::ScreenImage> screen = cv::capture_screen_rgb(platform);
  if (!screen) return fail(std::move(screen).error());

  json result = json::object();
  result["regions"] = json::array();
  const CaptureArea area = capture_area(params, *screen);
  if (area.x1 <= area.x0 || area.y1 <= area.y0) return result;

  const bool whole = area.x0 == 0 && area.y0 == 0 && area.x1 == screen->image.width && area.y1 == screen->image.height;
  lumetra::RgbImage cropped;
  if (!whole) cropped = crop(screen->image, area);
  const lumetra::RgbImage& searched = whole ? screen->image : cropped;

  const std::vector<lumetra::ColorRegion> regions = lumetra::find_color_regions(
      searched.pixels, searched.width, searched.height, *color, tolerance, min_width, min_height);
  const std::int64_t left = round_to_i64(screen->origin_x), top = round_to_i64(screen->origin_y);
  for (const lumetra::ColorRegion& region : regions)
    result["regions"].push_back(box_json(std::int64_t{area.x0} + region.x + left, std::int64_t{area.y0} + region.y + top,
                                         region.width, region.height));
  return result;
}

Result<json> find_rectangle(const json& params, cv::ScreenPlatform& platform) {
  Result<lumetra::Rgb8> color = parse_color_param(params);
  if (!color) return fail(std::move(color).error());
  Result<cv::ScreenImage> screen = cv::capture_screen_rgb(platform);
  if (!screen) return fail(std::move(screen).error());

  std::optional<lumetra::ColorRegion> found =
      lumetra::find_rectangle(screen->image.pixels, screen->image.width, screen->image.height, *color);
  if (!found) return box_json(0, 0, 0, 0);
  return box_json(std::int64_t{found->x} + round_to_i64(screen->origin_x),
                  std::int64_t{found->y} + round_to_i64(screen->origin_y), found->width, found->height);
}

HandlerResult find_color_regions(std::string_view, const json& params) {
  return to_handler_result(find_color_regions(params, cv::system_screen_platform()));
}

HandlerResult find_rectangle(std::string_view, const json& params) {
  return to_handler_result(find_rectangle(params, cv::system_screen_platform()));
}

}  // namespace quorvane::cv
