// The request envelope: routes a parsed request to its handler and wraps the outcome.
#pragma once

#include "common/handler.h"

#include <optional>
#include <string_view>

namespace quorvane {

inline constexpr std::string_view kHostVersion = "2.0.7";

// Never fails: whatever value it is given, it returns a reply object, either
// {"id":..,"result":..} or {"error":{"message":..},"id":..}.
json dispatch_request(const json& request);

// Runs the handler that the method table routes `method` to. Names that no subsystem
// takes end at the file-access entry point, which answers "Unknown method: <name>".
HandlerResult call_method(std::string_view method, const json& params);

// The handler registered for `method` in the subsystem tables, if any (the file-access
// entry point is not a table and is not consulted).
std::optional<Handler> find_table_handler(std::string_view method);

}  // namespace quorvane
