#include "cv/stb_decode.h"

#include "cv/png.h"

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

// Pictures sent in requests are PNG; every other stb_image format is compiled out so no
// other file parser is reachable from request data.
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
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

namespace quorvane::cv {

namespace {
struct StbFree {
  void operator()(stbi_uc* p) const { stbi_image_free(p); }
};

// The decoder names an unknown critical chunk by its four raw type bytes followed by
// " PNG chunk not known", in a C string: a type holding a zero byte cuts the message
// short, leaving only the bytes before it. The chunk the decoder stopped at is the first
// critical one it does not know, so the whole message can be rebuilt from the data.
// (Bytes that are not UTF-8 stay as they are; the reply writer replaces them.)
std::string failure_text(const char* reason, std::span<const std::uint8_t> bytes) {
  static constexpr std::string_view kUnknownChunk = " PNG chunk not known";
  const std::string_view text(reason);
  if (text.size() >= 4 + kUnknownChunk.size()) return std::string(text);
  std::size_t pos = 8;  // after the signature
  while (bytes.size() >= 12 && pos <= bytes.size() - 12) {
    const std::uint8_t* chunk = bytes.data() + pos;
    const std::uint32_t length = std::uint32_t{chunk[0]} << 24 | std::uint32_t{chunk[1]} << 16 |
                                 std::uint32_t{chunk[2]} << 8 | chunk[3];
    const std::string_view type(reinterpret_cast<const char*>(chunk + 4), 4);
    const bool critical = (chunk[4] & 0x20) == 0;
    if (critical && type != "IHDR" && type != "PLTE" && type != "IDAT" && type != "IEND" && type != "CgBI") {
      // Only when the short message is this chunk's text cut at a zero byte.
      const std::size_t cut = type.find('\0');
      if (cut != std::string_view::npos && text == type.substr(0, cut)) return std::string(type) + std::string(kUnknownChunk);
      break;
    }
    if (std::uint64_t{length} + 12 > bytes.size() - pos) break;
    pos += std::size_t{length} + 12;
  }
  return std::string(text);
}

}  // namespace

Result<lumetra::RgbImage> stb_decode_rgb(std::span<const std::uint8_t> bytes) {
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return error("image data too large");
  // stb_image neither checks CRCs nor compares a chunk's declared length with the bytes
  // present before reserving memory for it; the walk does both, and the size is known
  // before a single row is inflated.
  Result<PngHeader> header = check_png(bytes);
  if (!header) return error(std::move(header).error());
  const std::uint64_t pixels_in_file = std::uint64_t{header->width} * header->height;
  if (pixels_in_file > kMaxPicturePixels)
    return error("image of " + std::to_string(header->width) + "x" + std::to_string(header->height) + " = " +
                 std::to_string(pixels_in_file) + " pixels exceeds the limit of " + std::to_string(kMaxPicturePixels) +
                 " pixels");
  int width = 0;
  int height = 0;
  int channels_in_file = 0;
  // Asking for three channels makes stb_image expand palettes and grey, drop alpha
  // without compositing and keep the high byte of 16-bit samples.
  std::unique_ptr<stbi_uc, StbFree> pixels(stbi_load_from_memory(
      bytes.data(), static_cast<int>(bytes.size()), &width, &height, &channels_in_file, 3));
  if (!pixels) {
    const char* reason = stbi_failure_reason();
    return error(reason ? failure_text(reason, bytes) : "unknown decoder failure");
  }
  lumetra::RgbImage image(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height));
  std::memcpy(image.pixels.data(), pixels.get(), image.pixels.size());
  return image;
}

}  // namespace quorvane::cv
