// The contract between the dispatcher and every method handler.
#pragma once

#include "common/result.h"

#include <nlohmann/json.hpp>

#include <span>
#include <string>
#include <string_view>

namespace quorvane {

using json = nlohmann::json;

// What every handler returns: the method's result value, or one error string that the
// dispatcher places unchanged in the reply's error.message.
using HandlerResult = Result<json>;

// A handler sees the exact method name and the request's params value (any JSON kind).
using Handler = HandlerResult (*)(std::string_view method, const json& params);

struct MethodEntry {
  std::string_view name;
  Handler handler;
};

}  // namespace quorvane
