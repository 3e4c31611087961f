// Method search_image: finds a pattern image in an image sent with the request.
#pragma once

#include <string_view>

#include "common/handler.h"
#include "common/result.h"
#include "cv/requests.h"

namespace quorvane::cv {

Result<json> search_image(const SearchImageRequest& request);
// The search result object, or the first error in the order options, image, pattern,
// search.
Result<json> search_image(const json& params);
HandlerResult search_image(std::string_view method, const json& params);

}  // namespace quorvane::cv
