// Permission methods. On this platform nothing needs granting: the answers are fixed,
// and no settings pane is ever opened.
#pragma once

#include "common/handler.h"

namespace quorvane::input {

HandlerResult get_permission_status(std::string_view method, const json& params);
HandlerResult request_permission(std::string_view method, const json& params);
HandlerResult open_permission_pane(std::string_view method, const json& params);

}  // namespace quorvane::input
