#include "cv/requests.h"

#include <algorithm>

#include "common/params.h"
#include "cv/capture.h"
#include "cv/errors.h"

namespace quorvane::cv {

namespace {

AreaNumber area_number(const json& area, std::string_view name) {
  const json* v = find_param(area, name);
  if (!v) return {};
  if (v->is_number_unsigned()) return v->get<std::uint64_t>();
  if (v->is_number_integer()) return v->get<std::int64_t>();
  if (v->is_number_float()) return v->get<double>();
  return {};
}

SearchAreaRequest read_search_area(const json& options) {
  SearchAreaRequest out;
  out.limit = bool_param(options, "limitSearchArea") == true;
  const json* area = find_param(options, "searchArea");
  out.given = area != nullptr;
  if (area) {
    out.x = area_number(*area, "x");
    out.y = area_number(*area, "y");
    out.width = area_number(*area, "width");
    out.height = area_number(*area, "height");
  }
  return out;
}

// The member `name` of the request, decoded as an image.
Result<DecodedImage> read_image(const json& params, std::string_view name) {
  const json* value = find_param(params, name);
  if (!value) return fail(errors::missing_param(name));
  return decode_image_param(*value, name);
}

}  // namespace

Result<SearchOptions> read_search_options(const json& params) {
  SearchOptions out;
  const json* options = object_param(params, "options");
  if (!options) return out;
  if (bool_param(*options, "enableGreenPinkBoxes") == true || bool_param(*options, "requireGreenPinkBoxes") == true)
    return fail(errors::green_pink_not_supported());
  if (const auto v = number_param(*options, "minSimilarity")) out.min_similarity = to_float(*v);
  out.allow_size_variation = bool_param(*options, "allowSizeVariation").value_or(false);
  out.high_dpi = bool_param(*options, "enableHighDpi") == true;
  out.area = read_search_area(*options);
  return out;
}

Result<ImageParam> read_image_param(const json& value, std::string_view name) {
  const auto data = string_param(value, "data");
  if (!data) return fail(errors::missing_data(name));
  ImageParam out;
  out.data = *data;
  out.dpi_x = number_param(value, "dpiX");
  out.width = static_cast<std::uint32_t>(count_param(value, "width").value_or(0));
  out.height = static_cast<std::uint32_t>(count_param(value, "height").value_or(0));
  return out;
}

Result<DecodedImage> decode_image_param(const json& value, std::string_view name) {
  const Result<ImageParam> param = read_image_param(value, name);
  if (!param) return param.failure();
  return decode_image(*param, name);
}

Result<SearchImageRequest> read_search_image(const json& params) {
  Result<SearchOptions> options = read_search_options(params);
  if (!options) return options.failure();
  Result<DecodedImage> image = read_image(params, "image");
  if (!image) return std::move(image).failure();
  Result<DecodedImage> pattern = read_image(params, "pattern");
  if (!pattern) return std::move(pattern).failure();
  return SearchImageRequest{*options, std::move(image).value(), std::move(pattern).value()};
}

Result<DesktopSearchRequest> read_search_desktop(const json& params) {
  Result<SearchOptions> options = read_search_options(params);
  if (!options) return options.failure();
  Result<DecodedImage> pattern = read_image(params, "pattern");
  if (!pattern) return std::move(pattern).failure();
  DesktopSearchRequest out{*options, std::move(pattern).value(), std::nullopt};
  if (const json* given = object_param(params, "options"); given && bool_param(*given, "saveCaptureOnDisk") == true) {
    const std::optional<std::string_view> path = string_param(*given, "capturePath");
    out.save = CaptureTarget{path ? std::optional<std::string>(*path) : std::nullopt};
  }
  return out;
}

Result<WaitRequest> read_wait_for_image(const json& params) {
  Result<SearchOptions> options = read_search_options(params);
  if (!options) return options.failure();
  Result<DecodedImage> pattern = read_image(params, "pattern");
  if (!pattern) return std::move(pattern).failure();
  WaitRequest out;
  out.options = *options;
  out.pattern = std::move(pattern).value();
  out.timeout_ms = count_param(params, "timeoutMs").value_or(kDefaultTimeoutMs);
  out.interval_ms = std::max(count_param(params, "intervalMs").value_or(kDefaultIntervalMs), kMinimumIntervalMs);
  return out;
}

Result<RelativeSearchRequest> read_search_relative(const json& params) {
  const json* offset = find_param(params, "offset");
  if (!offset) return fail(errors::missing_param("offset"));
  RelativeSearchRequest out;
  double* box[4] = {&out.offset.x, &out.offset.y, &out.offset.width, &out.offset.height};
  const char* members[4] = {"x", "y", "width", "height"};
  for (int i = 0; i < 4; ++i) {
    std::optional<double> value = number_param(*offset, members[i]);
    if (!value) return fail(errors::missing_offset_member(members[i]));
    *box[i] = *value;
  }
  if (out.offset.width <= 0 || out.offset.height <= 0) return fail(errors::offset_not_positive());

  Result<SearchOptions> options = read_search_options(params);
  if (!options) return options.failure();
  out.options = *options;
  Result<DecodedImage> pattern = read_image(params, "pattern");
  if (!pattern) return std::move(pattern).failure();
  out.pattern = std::move(pattern).value();
  if (const json* image_value = find_param(params, "image")) {
    Result<DecodedImage> image = decode_image_param(*image_value, "image");
    if (!image) return std::move(image).failure();
    out.image = std::move(image).value();
  }
  return out;
}

Result<lumetra::Rgb8> read_color(const json& params) {
  std::optional<std::string_view> text = string_param(params, "color");
  if (!text) return fail(errors::missing_param("color"));
  if (text->starts_with('#')) text->remove_prefix(1);
  if (text->size() != 6) return fail(errors::color_not_rrggbb(*text));
  auto hex_digit = [](char c) -> std::optional<std::uint8_t> {
    if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
    return std::nullopt;
  };
  std::uint8_t bytes[3];
  for (int i = 0; i < 3; ++i) {
    std::optional<std::uint8_t> high = hex_digit((*text)[2 * i]), low = hex_digit((*text)[2 * i + 1]);
    if (!high || !low) return fail(errors::color_not_hex());
    bytes[i] = static_cast<std::uint8_t>(*high << 4 | *low);
  }
  return lumetra::Rgb8{bytes[0], bytes[1], bytes[2]};
}

Result<ColorRegionsRequest> read_find_color_regions(const json& params) {
  Result<lumetra::Rgb8> color = read_color(params);
  if (!color) return color.failure();
  ColorRegionsRequest out;
  out.color = *color;
  out.tolerance =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(count_param(params, "tolerance").value_or(0), 255));
  // Higher bits are dropped, not saturated; 0 then means 1 in the library.
  out.min_width = static_cast<std::uint32_t>(count_param(params, "minWidth").value_or(3));
  out.min_height = static_cast<std::uint32_t>(count_param(params, "minHeight").value_or(3));
  if (const json* area = object_param(params, "searchArea")) {
    const std::optional<double> x = number_param(*area, "x"), y = number_param(*area, "y");
    const std::optional<double> width = number_param(*area, "width"), height = number_param(*area, "height");
    if (x && y && width && height) out.area = RequestRect{*x, *y, *width, *height};
  }
  return out;
}

CaptureTarget read_capture_desktop(const json& params) {
  const std::optional<std::string_view> given = string_param(params, "path");
  return CaptureTarget{given ? std::optional<std::string>(*given) : std::nullopt};
}

Result<std::string_view> read_get_image_info(const json& params) {
  const auto content = string_param(params, "content");
  if (!content) return fail(errors::missing_param("content"));
  return *content;
}

}  // namespace quorvane::cv
