#include "input/permissions.h"

#include "common/params.h"
#include "input/errors.h"

namespace quorvane::input {

HandlerResult get_permission_status(std::string_view, const json&) {
  return json(json{{"accessibility", true}, {"screenRecording", true}});
}

HandlerResult request_permission(std::string_view, const json& params) {
  // The kind is echoed, never compared: every kind counts as granted here.
  const auto kind = string_param(params, "kind");
  if (!kind) return fail(errors::kMissingKind);
  return json(json{{"granted", true}, {"kind", std::string(*kind)}});
}

HandlerResult open_permission_pane(std::string_view, const json& params) {
  if (!string_param(params, "kind")) return fail(errors::kMissingKind);
  return json(false);
}

}  // namespace quorvane::input
