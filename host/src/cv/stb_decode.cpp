#include "cv/stb_decode.h"

#include <climits>
#include <cstring>
#include <memory>
#include <string>

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

// For a critical chunk it does not know, the decoder writes the chunk's four type bytes
// over the start of one static message, "XXXX PNG chunk not known", and reports that.
// Read as a C string it can come out empty or cut short (a zero type byte, as when the
// data ends where a chunk header should be) or as bytes that are not UTF-8. Decoding one
// such file once tells which buffer that is, so its message can be rebuilt in full.
const char* unknown_chunk_message_buffer() {
  static const char* const buffer = [] {
    static const stbi_uc probe[] = {
        0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n',                               // signature
        0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 0, 1, 0, 0, 0, 1, 8, 2, 0, 0, 0,  // 1x1 RGB
        0, 0, 0, 0,                                                              // CRC (not checked)
        0, 0, 0, 0, 'Q', 'Q', 'Q', 'Q', 0, 0, 0, 0};                             // unknown critical chunk
    int w = 0, h = 0, n = 0;
    stbi_uc* pixels = stbi_load_from_memory(probe, sizeof probe, &w, &h, &n, 3);
    stbi_image_free(pixels);
    const char* reason = stbi_failure_reason();
    return reason && std::strcmp(reason, "QQQQ PNG chunk not known") == 0 ? reason : nullptr;
  }();
  return buffer;
}

std::string failure_text(const char* reason) {
  if (!reason) return "unknown decoder failure";
  if (reason != unknown_chunk_message_buffer()) return reason;
  // The type bytes as text: letters as they are, anything else as \xNN.
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (int i = 0; i < 4; ++i) {
    const auto c = static_cast<unsigned char>(reason[i]);
    if (c > 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out + (reason + 4);
}

}  // namespace

Result<lumetra::RgbImage> stb_decode_rgb(std::span<const std::uint8_t> bytes) {
  // Finding the message buffer writes a message of its own into it, so that happens before
  // any real failure's message is there to be read.
  unknown_chunk_message_buffer();
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return error("image data too large");
  int width = 0;
  int height = 0;
  int channels_in_file = 0;
  // Asking for three channels makes stb_image expand palettes and grey, drop alpha
  // without compositing and keep the high byte of 16-bit samples.
  std::unique_ptr<stbi_uc, StbFree> pixels(stbi_load_from_memory(
      bytes.data(), static_cast<int>(bytes.size()), &width, &height, &channels_in_file, 3));
  if (!pixels) return error(failure_text(stbi_failure_reason()));
  lumetra::RgbImage image(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height));
  std::memcpy(image.pixels.data(), pixels.get(), image.pixels.size());
  return image;
}

}  // namespace quorvane::cv
