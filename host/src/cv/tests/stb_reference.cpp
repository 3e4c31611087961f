#include "stb_reference.h"

#include <cstring>

#include "cv/stb_image_impl.h"

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
