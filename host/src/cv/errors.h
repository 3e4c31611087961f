// Every error string of image inputs and image search, built in one place so the exact
// wording cannot drift between the methods that share it.
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
         std::to_string(x) + "," + std::to_string(y) + ") lies fully outside the " + std::to_string(image_width) +
         "x" + std::to_string(image_height) + " image";
}

// A DPI pair whose ratio is no usable scale: a zero DPI (a pHYs density below 20 pixels
// per metre rounds to 0) or a ratio beyond the float range.
inline std::string unusable_dpi_scale(double haystack_dpi, double pattern_dpi) {
  char text[160];
  std::snprintf(text, sizeof text, "bad_params: enableHighDpi cannot scale a %g DPI pattern to a %g DPI image",
                pattern_dpi, haystack_dpi);
  return text;
}

}  // namespace quorvane::cv::errors
