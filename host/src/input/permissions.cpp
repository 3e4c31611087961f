#include "input/permissions.h"

#include "common/params.h"

namespace quorvane {

namespace {
constexpr const char* MISSING_KIND = "bad_params: missing 'kind' (accessibility | screenRecording)";
}

HandlerResult get_permission_status(std::string_view, const json&) {
  return HandlerResult::ok(json{{"accessibility", true}, {"screenRecording", true}});
}

HandlerResult request_permission(std::string_view, const json& params) {
  // The kind is echoed, never compared: every kind counts as granted here.
  const auto kind = string_param(params, "kind");
  if (!kind) return HandlerResult::fail(MISSING_KIND);
  return HandlerResult::ok(json{{"granted", true}, {"kind", std::string(*kind)}});
}

HandlerResult open_permission_pane(std::string_view, const json& params) {
  if (!string_param(params, "kind")) return HandlerResult::fail(MISSING_KIND);
  return HandlerResult::ok(false);
}

}  // namespace quorvane
