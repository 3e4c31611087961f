// The file-access entry point: the dispatcher's last stop. Every method name that no
// other subsystem takes comes here; names it does not know get "Unknown method: <name>".
#pragma once

#include "common/handler.h"

#include <string_view>

namespace quorvane {

HandlerResult files_dispatch(std::string_view method, const json& params);

}  // namespace quorvane
