// common/: what every subsystem shares, and nothing subsystem-specific. The handler
// contract (this header), Result (result.h), the JSON codec (json.h), request parameter
// readers (params.h), UTF-8 and UTF-16 (utf.h), Base64 (base64.h), the error texts more
// than one subsystem writes (error_text.h) and the Win32 handle owners (win32_handle.h).
// Uses only the standard library, nlohmann/json and the system.
//
// The contract between the dispatcher and every method handler.
#pragma once

#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <string_view>

#include "common/result.h"

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
