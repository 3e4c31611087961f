// The image-search methods that look at the screen: search_desktop, wait_for_image and
// search_relative. Each captures the monitor that shows the browser (or the primary
// one), searches the capture and reports desktop coordinates.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

#include "common/handler.h"
#include "common/result.h"
#include "cv/capture.h"
#include "cv/requests.h"

namespace quorvane::cv {

// The time source and the pause of wait_for_image, replaceable so tests need not wait.
class WaitClock {
 public:
  virtual ~WaitClock() = default;
  virtual std::chrono::nanoseconds now() = 0;  // monotonic
  virtual void sleep_ms(std::uint64_t milliseconds) = 0;
};

WaitClock& system_wait_clock();

// After an attempt that found nothing, `elapsed_ms` into a wait of `timeout_ms`: how
// long to pause before the next attempt, or nothing when the time is up. The pause is
// the interval, cut to what is left of the time-out, so the last attempt comes when the
// time-out ends and no interval, however large, holds the host beyond it.
std::optional<std::uint64_t> wait_pause_ms(std::uint64_t elapsed_ms, std::uint64_t timeout_ms,
                                           std::uint64_t interval_ms);

// The search area with `x` and `y` (those given) moved from desktop into capture
// coordinates, as floating-point values.
SearchAreaRequest move_search_area(SearchAreaRequest area, double left, double top);

// The methods on read requests; the overloads on params read them first (cv/requests.h).
Result<json> search_desktop(const DesktopSearchRequest& request, ScreenPlatform& platform);
Result<json> wait_for_image(const WaitRequest& request, ScreenPlatform& platform, WaitClock& clock);
Result<json> search_relative(const RelativeSearchRequest& request, ScreenPlatform& platform);

Result<json> search_desktop(const json& params, ScreenPlatform& platform);
Result<json> wait_for_image(const json& params, ScreenPlatform& platform, WaitClock& clock);
Result<json> search_relative(const json& params, ScreenPlatform& platform);

HandlerResult search_desktop(std::string_view method, const json& params);
HandlerResult wait_for_image(std::string_view method, const json& params);
HandlerResult search_relative(std::string_view method, const json& params);

}  // namespace quorvane::cv
