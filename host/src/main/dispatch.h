// host/src/main: the program itself. main_win32.cpp starts the host; transport frames
// requests and replies on standard input and output; dispatch holds the one method table
// and wraps each handler's outcome in a reply. It may use every subsystem folder (cv,
// window, input, ocr, files) and common/; nothing else uses main/.
//
// This header: the request envelope and the method table.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "common/handler.h"

namespace quorvane {

inline constexpr std::string_view kHostVersion = "2.0.7";

// Every method this build answers, in one table. Methods that need Windows exist only in
// the Windows build; elsewhere they are unknown like any other name.
std::span<const MethodEntry> method_table();

// The handler the table lists for `method`, if any.
std::optional<Handler> find_handler(std::string_view method);

// Runs the handler for `method`; a name the table does not list is answered with
// "Unknown method: <name>".
HandlerResult call_method(std::string_view method, const json& params);

// Never fails: whatever value it is given, it returns a reply object, either
// {"id":..,"result":..} or {"error":{"message":..},"id":..}.
json dispatch_request(const json& request);

}  // namespace quorvane
