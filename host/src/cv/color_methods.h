// Methods find_color_regions and find_rectangle: areas and rectangles of one colour on
// the captured screen (the browser's monitor, or the primary one), in desktop coordinates.
#pragma once

#include <lumetra/color.h>

#include <string_view>

#include "common/handler.h"
#include "common/result.h"
#include "cv/capture.h"
#include "cv/requests.h"

namespace quorvane::cv {

// The methods on read requests; the overloads on params read them first (cv/requests.h).
Result<json> find_color_regions(const ColorRegionsRequest& request, ScreenPlatform& platform);
Result<json> find_rectangle(const lumetra::Rgb8& color, ScreenPlatform& platform);

Result<json> find_color_regions(const json& params, ScreenPlatform& platform);
Result<json> find_rectangle(const json& params, ScreenPlatform& platform);

HandlerResult find_color_regions(std::string_view method, const json& params);
HandlerResult find_rectangle(std::string_view method, const json& params);

}  // namespace quorvane::cv
