#include "main/dispatch.h"

#include "cv/methods.h"
#include "files/methods.h"
#include "input/methods.h"
#include "ocr/methods.h"

#include <array>
#include <utility>

namespace quorvane {

namespace {

HandlerResult get_version(std::string_view, const json&) { return json(std::string(kHostVersion)); }

constexpr MethodEntry kProtocolMethods[] = {{"get_version", &get_version}};

}  // namespace

// The method table: each subsystem lists its own methods; this is the only place that
// joins them. Lookup is a linear scan of a few dozen short names, once per request.
std::optional<Handler> find_table_handler(std::string_view method) {
  const std::array<std::span<const MethodEntry>, 4> tables = {
      std::span<const MethodEntry>(kProtocolMethods), cv_methods(), input_methods(), ocr_methods()};
  for (std::span<const MethodEntry> table : tables)
    for (const MethodEntry& entry : table)
      if (entry.name == method) return entry.handler;
  return std::nullopt;
}

HandlerResult call_method(std::string_view method, const json& params) {
  if (std::optional<Handler> handler = find_table_handler(method)) return (*handler)(method, params);
  return files_dispatch(method, params);
}

json dispatch_request(const json& request) {
  static const json kNull;
  const json* id = &kNull;
  const json* params = &kNull;
  std::string_view method;
  if (request.is_object()) {
    if (auto it = request.find("id"); it != request.end()) id = &*it;
    if (auto it = request.find("method"); it != request.end() && it->is_string())
      method = it->get_ref<const std::string&>();
    if (auto it = request.find("params"); it != request.end()) params = &*it;
  }

  HandlerResult outcome = call_method(method, *params);

  json reply = json::object();
  reply["id"] = *id;
  if (outcome.is_ok()) {
    reply["result"] = std::move(outcome).value();
  } else {
    json error = json::object();
    error["message"] = std::move(outcome).error();
    reply["error"] = std::move(error);
  }
  return reply;
}

}  // namespace quorvane
