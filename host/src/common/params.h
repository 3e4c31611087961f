// Parameter readers shared by every handler. They implement the request conventions
// once: params that are not an object have no members; a member of the wrong JSON type
// counts as absent; counts and sizes are non-negative JSON integers only.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "common/handler.h"

namespace quorvane {

// The member `name` of `params`, or nullptr when params is not an object or lacks it.
const json* find_param(const json& params, std::string_view name);

std::optional<std::string_view> string_param(const json& params, std::string_view name);
// A string member the method cannot do without, or the reply's "Missing string param
// '<name>'" text when it is absent or not a string.
Result<std::string_view> required_string(const json& params, std::string_view name);
std::optional<bool> bool_param(const json& params, std::string_view name);
// Any JSON number, as a double.
std::optional<double> number_param(const json& params, std::string_view name);
// A count or size: only a non-negative JSON integer qualifies (1.0, -1 and "3" do not).
std::optional<std::uint64_t> count_param(const json& params, std::string_view name);
// An object member, for nested option objects.
const json* object_param(const json& params, std::string_view name);

// Rounds half away from zero, then saturates to the target range; NaN becomes 0.
std::int64_t round_to_i64(double value);
std::int32_t round_to_i32(double value);
// Truncates toward zero, then saturates; NaN becomes 0.
std::int64_t truncate_to_i64(double value);
std::int32_t saturate_to_i32(std::int64_t value);
std::uint32_t saturate_to_u32(std::uint64_t value);

}  // namespace quorvane
