// The search result object as it goes over the wire, written by the host's own JSON
// writer: member order, integer and float forms, widened scores.
#include <gtest/gtest.h>

#include <limits>

#include "common/base64.h"
#include "common/json.h"
#include "cv/search_image.h"
#include "cv/search_result.h"

namespace quorvane::cv {
namespace {

using lumetra::Match;

TEST(SearchResultText, RegionsInScoreOrderWithReadingOrderRanks) {
  std::vector<Match> matches = {{500, 10, 30, 20, 0.99f, 1.0f}, {20, 300, 30, 20, 0.9f, 1.0f}};
  EXPECT_EQ(to_json_text(build_search_result(matches)),
            R"({"containsGreenPinkBoxes":false,"errorCode":0,"regions":[)"
            R"({"matchedRect":{"height":20,"width":30,"x":500,"y":10},"order":0,"score":0.9900000095367432},)"
            R"({"matchedRect":{"height":20,"width":30,"x":20,"y":300},"order":1,"score":0.8999999761581421}]})");

  matches[0].y = 400;
  EXPECT_EQ(to_json_text(build_search_result(matches)),
            R"({"containsGreenPinkBoxes":false,"errorCode":0,"regions":[)"
            R"({"matchedRect":{"height":20,"width":30,"x":500,"y":400},"order":1,"score":0.9900000095367432},)"
            R"({"matchedRect":{"height":20,"width":30,"x":20,"y":300},"order":0,"score":0.8999999761581421}]})");

  EXPECT_EQ(to_json_text(build_search_result({})), R"({"containsGreenPinkBoxes":false,"errorCode":0,"regions":[]})");
}

TEST(SearchResultText, ScoresAreWidenedFloatsAndNonFiniteBecomesNull) {
  EXPECT_EQ(to_json_text(score_json(0.95f)), "0.949999988079071");
  EXPECT_EQ(to_json_text(score_json(1.0f)), "1.0");
  EXPECT_EQ(to_json_text(score_json(0.0f)), "0.0");
  EXPECT_EQ(to_json_text(score_json(std::numeric_limits<float>::quiet_NaN())), "null");
  EXPECT_EQ(to_json_text(score_json(-std::numeric_limits<float>::infinity())), "null");
  const std::vector<Match> odd = {{-1920, -4, 7, 8, std::numeric_limits<float>::infinity(), 1.0f}};
  EXPECT_EQ(to_json_text(build_search_result(odd)),
            R"({"containsGreenPinkBoxes":false,"errorCode":0,"regions":[)"
            R"({"matchedRect":{"height":8,"width":7,"x":-1920,"y":-4},"order":0,"score":null}]})");
}

TEST(SearchResultText, SearchImageOfAnImageInItself) {
  // A 2x2 raw image that is its own pattern: one region at the origin, score exactly 1.
  const std::uint8_t px[12] = {10, 200, 30, 250, 0, 90, 5, 5, 5, 128, 64, 32};
  const json image = {{"data", base64_encode(px, sizeof px)}, {"width", 2}, {"height", 2}};
  auto r = search_image({{"image", image}, {"pattern", image}});
  ASSERT_TRUE(r.ok()) << r.error();
  EXPECT_EQ(to_json_text(*r), R"({"containsGreenPinkBoxes":false,"errorCode":0,"regions":[)"
                              R"({"matchedRect":{"height":2,"width":2,"x":0,"y":0},"order":0,"score":1.0}]})");
}

}  // namespace
}  // namespace quorvane::cv
