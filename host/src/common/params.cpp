#include "common/params.h"

#include <cmath>
#include <limits>
#include <string>

namespace quorvane {

const json* find_param(const json& params, std::string_view name) {
  if (!params.is_object()) return nullptr;
  auto it = params.find(name);
  return it == params.end() ? nullptr : &*it;
}

std::optional<std::string_view> string_param(const json& params, std::string_view name) {
  const json* v = find_param(params, name);
  if (!v || !v->is_string()) return std::nullopt;
  return std::string_view(v->get_ref<const std::string&>());
}

Result<std::string_view> required_string(const json& params, std::string_view name) {
  std::optional<std::string_view> value = string_param(params, name);
  if (!value) return fail("Missing string param '" + std::string(name) + "'");
  return *value;
}

std::optional<bool> bool_param(const json& params, std::string_view name) {
  const json* v = find_param(params, name);
  if (!v || !v->is_boolean()) return std::nullopt;
  return v->get<bool>();
}

std::optional<double> number_param(const json& params, std::string_view name) {
  const json* v = find_param(params, name);
  if (!v || !v->is_number()) return std::nullopt;
  return v->get<double>();
}

std::optional<std::uint64_t> count_param(const json& params, std::string_view name) {
  const json* v = find_param(params, name);
  if (!v) return std::nullopt;
  if (v->is_number_unsigned()) return v->get<std::uint64_t>();
  // Values built in code (rather than parsed) hold non-negative integers as signed.
  if (v->is_number_integer() && v->get<std::int64_t>() >= 0) return static_cast<std::uint64_t>(v->get<std::int64_t>());
  return std::nullopt;
}

const json* object_param(const json& params, std::string_view name) {
  const json* v = find_param(params, name);
  return v && v->is_object() ? v : nullptr;
}

namespace {
template <typename T>
T saturate(double value) {
  if (std::isnan(value)) return 0;
  // The upper bound of a 64-bit integer is not representable as a double; compare
  // against 2^63 (exact) instead of the rounded max.
  constexpr double hi = static_cast<double>(std::numeric_limits<T>::max()) + 1.0;
  constexpr double lo = static_cast<double>(std::numeric_limits<T>::min());
  if (value >= hi) return std::numeric_limits<T>::max();
  if (value <= lo) return std::numeric_limits<T>::min();
  return static_cast<T>(value);
}
}  // namespace

std::int64_t round_to_i64(double value) { return saturate<std::int64_t>(std::round(value)); }
std::int32_t round_to_i32(double value) { return saturate<std::int32_t>(std::round(value)); }
std::int64_t truncate_to_i64(double value) { return saturate<std::int64_t>(std::trunc(value)); }

std::int32_t saturate_to_i32(std::int64_t value) {
  if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (value < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

std::uint32_t saturate_to_u32(std::uint64_t value) {
  return value > std::numeric_limits<std::uint32_t>::max() ? std::numeric_limits<std::uint32_t>::max()
                                                           : static_cast<std::uint32_t>(value);
}

}  // namespace quorvane
