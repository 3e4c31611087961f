// The contract between the dispatcher and every method handler.
#pragma once

#include <nlohmann/json.hpp>

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace quorvane {

using json = nlohmann::json;

// What every handler returns: the method's result value, or one error string that the
// dispatcher places unchanged in the reply's error.message.
class HandlerResult {
public:
  static HandlerResult ok(json value) { return HandlerResult(std::move(value)); }
  static HandlerResult fail(std::string message) { return HandlerResult(std::move(message)); }

  HandlerResult(json value) : state_(std::in_place_index<0>, std::move(value)) {}
  HandlerResult(std::string message) : state_(std::in_place_index<1>, std::move(message)) {}

  bool is_ok() const { return state_.index() == 0; }
  const json& value() const& { return std::get<0>(state_); }
  json&& value() && { return std::get<0>(std::move(state_)); }
  const std::string& error() const& { return std::get<1>(state_); }
  std::string&& error() && { return std::get<1>(std::move(state_)); }

private:
  std::variant<json, std::string> state_;
};

// A handler sees the exact method name and the request's params value (any JSON kind).
using Handler = HandlerResult (*)(std::string_view method, const json& params);

struct MethodEntry {
  std::string_view name;
  Handler handler;
};

}  // namespace quorvane
