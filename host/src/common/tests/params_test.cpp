#include <gtest/gtest.h>

#include <limits>

#include "common/params.h"

namespace quorvane {
namespace {

TEST(Params, WrongTypeCountsAsAbsent) {
  json params = {{"s", "text"}, {"b", true}, {"n", 2.5}, {"o", {{"k", 1}}}};
  EXPECT_EQ(string_param(params, "s"), "text");
  EXPECT_FALSE(string_param(params, "b"));
  EXPECT_FALSE(string_param(params, "missing"));
  EXPECT_EQ(bool_param(params, "b"), true);
  EXPECT_FALSE(bool_param(params, "s"));
  EXPECT_EQ(number_param(params, "n"), 2.5);
  EXPECT_FALSE(number_param(params, "s"));
  EXPECT_NE(object_param(params, "o"), nullptr);
  EXPECT_EQ(object_param(params, "n"), nullptr);

  // A required string names the member it lacks, whether absent or of another type.
  EXPECT_EQ(*required_string(params, "s"), "text");
  EXPECT_EQ(required_string(params, "b").error(), "Missing string param 'b'");
  EXPECT_EQ(required_string(json::array(), "path").error(), "Missing string param 'path'");
}

TEST(Params, NonObjectParamsHaveNoMembers) {
  for (const json& params : {json(), json::array({1, 2}), json("s"), json(3), json(true)}) {
    EXPECT_EQ(find_param(params, "s"), nullptr);
    EXPECT_FALSE(string_param(params, "s"));
  }
}

TEST(Params, CountsAreNonNegativeIntegersOnly) {
  json params = {{"a", 5}, {"b", -1}, {"c", 5.0}, {"d", "5"}, {"e", 0}, {"f", 18446744073709551615ull}};
  EXPECT_EQ(count_param(params, "a"), 5u);
  EXPECT_FALSE(count_param(params, "b"));
  EXPECT_FALSE(count_param(params, "c"));
  EXPECT_FALSE(count_param(params, "d"));
  EXPECT_EQ(count_param(params, "e"), 0u);
  EXPECT_EQ(count_param(params, "f"), std::numeric_limits<std::uint64_t>::max());
}

TEST(Params, RoundingIsHalfAwayFromZeroAndSaturates) {
  EXPECT_EQ(round_to_i32(2.5), 3);
  EXPECT_EQ(round_to_i32(-2.5), -3);
  EXPECT_EQ(round_to_i32(2.4999), 2);
  EXPECT_EQ(round_to_i32(1e12), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(round_to_i32(-1e12), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(round_to_i32(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_EQ(round_to_i64(9.3e18), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(round_to_i64(-std::numeric_limits<double>::infinity()), std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(truncate_to_i64(-2.9), -2);
  EXPECT_EQ(truncate_to_i64(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_EQ(saturate_to_i32(std::int64_t{1} << 40), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(saturate_to_u32(std::uint64_t{1} << 40), std::numeric_limits<std::uint32_t>::max());
}

}  // namespace
}  // namespace quorvane
