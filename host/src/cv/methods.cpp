#include "cv/methods.h"

#include "cv/capture.h"
#include "cv/display.h"
#include "cv/image_input.h"
#include "cv/screen_search.h"
#include "cv/search_image.h"

#include <array>

namespace quorvane {

namespace {
constexpr std::array kMethods = {
    MethodEntry{"get_image_info", cv::get_image_info},
    MethodEntry{"search_image", cv::handle_search_image},
    MethodEntry{"get_display_list", cv::handle_get_display_list},
    MethodEntry{"get_desktop_dpi", cv::handle_get_desktop_dpi},
    MethodEntry{"get_screen_backing_scale_factor", cv::handle_get_screen_backing_scale_factor},
    MethodEntry{"capture_desktop", cv::handle_capture_desktop},
    MethodEntry{"search_desktop", cv::handle_search_desktop},
    MethodEntry{"wait_for_image", cv::handle_wait_for_image},
    MethodEntry{"search_relative", cv::handle_search_relative},
};
}  // namespace

std::span<const MethodEntry> cv_methods() { return kMethods; }

}  // namespace quorvane
