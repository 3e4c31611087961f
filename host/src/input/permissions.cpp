#include "input/permissions.h"

#include "common/params.h"

namespace quorvane::input {

namespace {
constexpr const char* MISSING_KIND = "bad_params: missing 'kind' (accessibility | screenRecording)";
}

HandlerResult get_permission_status(std::string_view, const json&) {
  return json(json{{"accessibility", true}, {"screenRecording", true}});
}

HandlerResult request_permission(std::string_view, const json& params) {
  // The kind is echoed, never compared: every kind counts as granted here.
  const auto kind = string_param(params, "kind");
  if (!kind) return fail(MISSING_KIND);
  return json(json{{"granted", true}, {"kind", std::string(*kind)}});
}

HandlerResult open_permission_pane(std::string_view, const json& params) {
  if (!string_param(params, "kind")) return fail(MISSING_KIND);
  return json(false);
}

}  // namespace quorvane::input
