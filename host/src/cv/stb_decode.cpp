#include "cv/stb_decode.h"

#include <climits>
#include <cstring>
#include <memory>
#include <string>

#include "cv/png.h"

// Pictures sent in requests are PNG; every other stb_image format is compiled out.
#include "cv/stb_image_impl.h"

namespace quorvane::cv {

namespace {
struct StbFree {
  void operator()(stbi_uc* p) const { stbi_image_free(p); }
};

}  // namespace

Result<lumetra::RgbImage> stb_decode_rgb(std::span<const std::uint8_t> bytes) {
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return fail("image data too large");
  // stb_image neither checks CRCs nor compares a chunk's declared length with the bytes
  // present before reserving memory for it; the walk does both, and the size is known
  // before a single row is inflated.
  Result<PngHeader> header = check_png(bytes);
  if (!header) return fail(std::move(header).error());
  const std::uint64_t pixels_in_file = std::uint64_t{header->width} * header->height;
  if (pixels_in_file > kMaxPicturePixels)
    return fail("image of " + std::to_string(header->width) + "x" + std::to_string(header->height) + " = " +
                std::to_string(pixels_in_file) + " pixels exceeds the limit of " + std::to_string(kMaxPicturePixels) +
                " pixels");
  int width = 0;
  int height = 0;
  int channels_in_file = 0;
  // Asking for three channels makes stb_image expand palettes and grey, drop alpha
  // without compositing and keep the high byte of 16-bit samples.
  std::unique_ptr<stbi_uc, StbFree> pixels(
      stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()), &width, &height, &channels_in_file, 3));
  if (!pixels) {
    // The walk above has refused every chunk the decoder would quote by its raw type
    // bytes, so what remains are the decoder's own fixed ASCII reasons.
    const char* reason = stbi_failure_reason();
    return fail(reason ? reason : "unknown decoder failure");
  }
  lumetra::RgbImage image(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height));
  std::memcpy(image.pixels.data(), pixels.get(), image.pixels.size());
  return image;
}

}  // namespace quorvane::cv
