#include "stb_reference.h"

#include <cstring>

#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

namespace quorvane::cv::testing {

std::optional<DecodedRgba> reference_decode_rgba(const std::vector<std::uint8_t>& png) {
  DecodedRgba out;
  int channels = 0;
  stbi_uc* p = stbi_load_from_memory(png.data(), static_cast<int>(png.size()), &out.width, &out.height, &channels, 4);
  if (!p) return std::nullopt;
  out.rgba.assign(p, p + static_cast<std::size_t>(out.width) * out.height * 4);
  stbi_image_free(p);
  return out;
}

}  // namespace quorvane::cv::testing
