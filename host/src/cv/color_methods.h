// Methods find_color_regions and find_rectangle: areas and rectangles of one colour on
// the captured screen (the browser's monitor, or the primary one), in desktop coordinates.
#pragma once

#include "common/handler.h"
#include "cv/capture.h"
#include "common/result.h"

#include <lumetra/color.h>

#include <string_view>

namespace quorvane::cv {

// `color` of the parameters as "rrggbb", optionally after one "#".
Result<lumetra::Rgb8> parse_color_param(const json& params);

Result<json> find_color_regions(const json& params, cv::ScreenPlatform& platform);
Result<json> find_rectangle(const json& params, cv::ScreenPlatform& platform);

HandlerResult find_color_regions(std::string_view method, const json& params);
HandlerResult find_rectangle(std::string_view method, const json& params);

}  // namespace quorvane::cv
