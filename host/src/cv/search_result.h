// The search result object shared by search_image, search_desktop, wait_for_image and
// search_relative:
//
//   {"containsGreenPinkBoxes": false, "errorCode": 0, "regions": [...]}
//
// with one region per match in score order. The screen methods add their own members
// (`capturePath`, `elapsedMs`, `found`) to the object that search_result() returns, and
// search_relative builds its own region objects with reading_order(), rectangle_json()
// and score_json().
#pragma once

#include <lumetra/matching.h>

#include <cstdint>
#include <span>
#include <vector>

#include "common/handler.h"

namespace quorvane::cv {

// For each match (by index), its 0-based rank when the matches are ordered by y, then x,
// ties keeping their score order.
std::vector<std::uint32_t> reading_order(std::span<const lumetra::Match> matches);

// {"height", "width", "x", "y"} as integers.
json rectangle_json(std::int64_t x, std::int64_t y, std::uint32_t width, std::uint32_t height);

// A 32-bit score widened to 64 bits (0.95f is sent as 0.949999988079071); null when not
// finite.
json score_json(float score);

// {"matchedRect", "order", "score"} for one match.
json match_region(const lumetra::Match& match, std::uint32_t order);

// The object around a finished regions array.
json search_result(json regions);

// The complete result for matches in find_image order.
json build_search_result(std::span<const lumetra::Match> matches);

// Moves matches by (dx, dy), saturating to 32 bits: capture pixels to desktop pixels.
void offset_matches(std::span<lumetra::Match> matches, std::int64_t dx, std::int64_t dy);

}  // namespace quorvane::cv
