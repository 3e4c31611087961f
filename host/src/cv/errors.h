// Every error text cv answers with, built in one place so the exact wording cannot drift
// between the methods that share it. What follows a prefix such as "capture_failed: " is
// either written here or is a reason from below: a system error text, or the PNG reader's
// and picture decoder's own reason (cv/png.cpp, cv/stb_decode.cpp), quoted as they give it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace quorvane::cv::errors {

inline std::string missing_param(std::string_view name) { return "bad_params: missing '" + std::string(name) + "'"; }

inline std::string missing_data(std::string_view name) {
  return "bad_params: missing '" + std::string(name) + ".data'";
}

inline std::string raw_size_mismatch(std::string_view name) {
  return "bad_image: raw size mismatch for " + std::string(name);
}

inline std::string not_decodable(std::string_view name, std::uint32_t width, std::uint32_t height,
                                 std::string_view reason) {
  return "bad_image: " + std::string(name) + " is neither raw RGB of " + std::to_string(width) + "x" +
         std::to_string(height) + "x3 bytes nor decodable: " + std::string(reason);
}

inline std::string not_a_png(std::string_view reason) {
  return "bad_image: not a decodable PNG: " + std::string(reason);
}

inline std::string green_pink_not_supported() {
  return "green_pink_not_supported: tarvik2 dropped the green/pink anchor-box system; use the explicit "
         "anchor+offset relative search (or the legacy Tarvik for old macros)";
}

inline std::string no_search_area() { return "bad_params: limitSearchArea set but no searchArea"; }

inline std::string search_area_outside(std::int64_t x, std::int64_t y, std::int64_t width, std::int64_t height,
                                       std::uint32_t image_width, std::uint32_t image_height) {
  return "bad_params: searchArea " + std::to_string(width) + "x" + std::to_string(height) + " at (" +
         std::to_string(x) + "," + std::to_string(y) + ") lies fully outside the " + std::to_string(image_width) + "x" +
         std::to_string(image_height) + " image";
}

// A DPI pair whose ratio is no usable scale: a zero DPI (a pHYs density below 20 pixels
// per metre rounds to 0) or a ratio beyond the float range.
inline std::string unusable_dpi_scale(double haystack_dpi, double pattern_dpi) {
  char text[160];
  std::snprintf(text, sizeof text, "bad_params: enableHighDpi cannot scale a %g DPI pattern to a %g DPI image",
                pattern_dpi, haystack_dpi);
  return text;
}

inline std::string missing_offset_member(std::string_view member) {
  return "bad_params: missing numeric 'offset." + std::string(member) + "'";
}

inline std::string offset_not_positive() { return "bad_params: offset.width/height must be positive"; }

inline std::string color_not_rrggbb(std::string_view text) {
  return "bad_params: color '" + std::string(text) + "' is not rrggbb";
}

inline std::string color_not_hex() { return "bad_params: color is not hex"; }

// Capture: `reason` is the monitor enumeration's, the display mode's or the copy's text.
inline std::string capture_failed(std::string_view reason) { return "capture_failed: " + std::string(reason); }
inline std::string no_monitors() { return "capture_failed: no monitors"; }
// The reason of every screen call in a build without a screen.
inline constexpr std::string_view kNoScreen = "screen access is only available on Windows";
// The copy's text of the system's screen when the pixels cannot be read.
inline std::string_view rgba_data_failed() { return "Get RGBA data failed"; }

inline std::string display_list_failed(std::string_view reason) {
  return "display_list_failed: " + std::string(reason);
}

// Capture files. `reason` is the encoder's or the file system's text; the path is the
// file's, as replies report paths.
inline std::string save_failed(std::string_view reason) { return "save_failed: " + std::string(reason); }
inline std::string save_failed(std::string_view reason, std::string_view path) {
  return "save_failed: " + std::string(reason) + " (" + std::string(path) + ")";
}
inline std::string short_pixel_buffer(std::size_t bytes, std::uint32_t width, std::uint32_t height, unsigned channels) {
  return "save_failed: pixel buffer of " + std::to_string(bytes) + " bytes does not hold " + std::to_string(width) +
         "x" + std::to_string(height) + "x" + std::to_string(channels) + " samples";
}
// A write that the system accepted without taking a single byte.
inline std::string_view short_write() { return "failed to write whole buffer"; }

}  // namespace quorvane::cv::errors
