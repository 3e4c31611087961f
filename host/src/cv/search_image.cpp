#include "cv/search_image.h"

#include "common/params.h"
#include "cv/errors.h"
#include "cv/find_image.h"
#include "cv/image_input.h"
#include "cv/search_result.h"

namespace quorvane::cv {

Result<json> search_image(const json& params) {
  auto options = read_search_options(params);
  if (!options) return fail(options.error());

  const json* image_value = find_param(params, "image");
  if (!image_value) return fail(errors::missing_param("image"));
  auto image = decode_image_param(*image_value, "image");
  if (!image) return fail(image.error());

  const json* pattern_value = find_param(params, "pattern");
  if (!pattern_value) return fail(errors::missing_param("pattern"));
  auto pattern = decode_image_param(*pattern_value, "pattern");
  if (!pattern) return fail(pattern.error());

  auto matches = find_image(image->image, image->dpi, pattern->image, pattern->dpi, *options);
  if (!matches) return fail(matches.error());
  return build_search_result(*matches);
}

HandlerResult search_image(std::string_view, const json& params) {
  auto result = search_image(params);
  if (!result) return fail(std::move(result).error());
  return json(std::move(result).value());
}

}  // namespace quorvane::cv
