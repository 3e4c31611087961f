// The readers of request options: search options and the search area, the colour text of
// the colour methods, the listing extension filter and the ranged-read start. Each turns
// any params value into a typed value or an error text; a resolved search area always
// lies inside the image and is not empty, and a colour is accepted exactly when it is six
// hex digits after at most one '#'.
//
// Input: two bytes of image width and height, then the JSON text of the params.
#include "common/json.h"
#include "cv/requests.h"
#include "files/content.h"
#include "files/listing.h"
#include "fuzz_support.h"

using namespace quorvane;

namespace {

bool is_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool is_colour_text(std::string_view text) {
  if (text.starts_with('#')) text.remove_prefix(1);
  if (text.size() != 6) return false;
  for (char c : text)
    if (!is_hex(c)) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint32_t width = data[0];
  const std::uint32_t height = data[1];
  json params;
  if (!parse_json(fuzz::as_text(data + 2, size - 2), params)) return 0;

  quorvane::Result<cv::SearchOptions> options = cv::read_search_options(params);
  if (options) {
    const quorvane::Result<cv::SearchArea> area = cv::resolve_search_area(options->area, width, height);
    if (area) {
      // Without a requested area the whole image is searched, even an empty one.
      FUZZ_CHECK(area->left <= area->right && area->right <= width);
      FUZZ_CHECK(area->top <= area->bottom && area->bottom <= height);
      if (width > 0 && height > 0) FUZZ_CHECK(area->left < area->right && area->top < area->bottom);
    } else {
      FUZZ_CHECK(!area.error().empty());
    }
    for (float s : cv::search_scales(options->scale, options->allow_size_variation)) FUZZ_CHECK(s > 0.0f);
  } else {
    FUZZ_CHECK(!options.error().empty());
  }

  const quorvane::Result<lumetra::Rgb8> colour = cv::read_color(params);
  const json* text = params.is_object() && params.contains("color") ? &params["color"] : nullptr;
  const bool valid = text && text->is_string() && is_colour_text(text->get_ref<const std::string&>());
  FUZZ_CHECK(colour.ok() == valid);
  if (!colour) FUZZ_CHECK(colour.error().starts_with("bad_params: "));

  const std::vector<std::string> filter = files::extension_filter(params);
  for (const std::string& extension : filter) {
    FUZZ_CHECK(!extension.starts_with('.'));
    FUZZ_CHECK(files::passes_extension_filter("name." + extension, filter));
  }

  const std::uint64_t start = files::range_start_param(params);
  const json* given = params.is_object() && params.contains("rangeStart") ? &params["rangeStart"] : nullptr;
  if (!given || !given->is_number_unsigned())
    FUZZ_CHECK(start == 0);
  else
    FUZZ_CHECK(start == given->get<std::uint64_t>());
  return 0;
}
