#include "cv/search_image.h"

#include "cv/find_image.h"
#include "cv/search_result.h"

namespace quorvane::cv {

Result<json> search_image(const SearchImageRequest& request) {
  auto matches =
      find_image(request.image.image, request.image.dpi, request.pattern.image, request.pattern.dpi, request.options);
  if (!matches) return std::move(matches).failure();
  return build_search_result(*matches);
}

Result<json> search_image(const json& params) {
  Result<SearchImageRequest> request = read_search_image(params);
  if (!request) return std::move(request).failure();
  return search_image(*request);
}

HandlerResult search_image(std::string_view, const json& params) { return search_image(params); }

}  // namespace quorvane::cv
