#include "cv/search_result.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "common/params.h"

namespace quorvane::cv {

std::vector<std::uint32_t> reading_order(std::span<const lumetra::Match> matches) {
  std::vector<std::uint32_t> ranked(matches.size());
  std::iota(ranked.begin(), ranked.end(), 0u);
  std::stable_sort(ranked.begin(), ranked.end(), [&](std::uint32_t a, std::uint32_t b) {
    if (matches[a].y != matches[b].y) return matches[a].y < matches[b].y;
    return matches[a].x < matches[b].x;
  });
  std::vector<std::uint32_t> order(matches.size());
  for (std::uint32_t rank = 0; rank < ranked.size(); ++rank) order[ranked[rank]] = rank;
  return order;
}

json rectangle_json(std::int64_t x, std::int64_t y, std::uint32_t width, std::uint32_t height) {
  json rect = json::object();
  rect["height"] = height;
  rect["width"] = width;
  rect["x"] = x;
  rect["y"] = y;
  return rect;
}

json score_json(float score) {
  if (!std::isfinite(score)) return nullptr;
  return static_cast<double>(score);
}

json match_region(const lumetra::Match& match, std::uint32_t order) {
  json region = json::object();
  region["matchedRect"] = rectangle_json(match.x, match.y, match.width, match.height);
  region["order"] = order;
  region["score"] = score_json(match.score);
  return region;
}

json search_result(json regions) {
  json result = json::object();
  result["containsGreenPinkBoxes"] = false;
  result["errorCode"] = 0;
  result["regions"] = std::move(regions);
  return result;
}

json build_search_result(std::span<const lumetra::Match> matches) {
  const std::vector<std::uint32_t> order = reading_order(matches);
  json regions = json::array();
  for (std::size_t i = 0; i < matches.size(); ++i) regions.push_back(match_region(matches[i], order[i]));
  return search_result(std::move(regions));
}

void offset_matches(std::span<lumetra::Match> matches, std::int64_t dx, std::int64_t dy) {
  // Any offset beyond 2^33 saturates every coordinate anyway; clamping keeps the sum
  // inside 64 bits.
  constexpr std::int64_t kReach = std::int64_t{1} << 33;
  dx = std::clamp(dx, -kReach, kReach);
  dy = std::clamp(dy, -kReach, kReach);
  for (lumetra::Match& m : matches) {
    m.x = saturate_to_i32(m.x + dx);
    m.y = saturate_to_i32(m.y + dy);
  }
}

}  // namespace quorvane::cv
