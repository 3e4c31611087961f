#include "files/content.h"

#include "common/base64.h"
#include "common/params.h"

namespace quorvane::files {

std::uint64_t range_start_param(const json& params) { return count_param(params, "rangeStart").value_or(0); }

json range_result(std::uint64_t start, std::string_view bytes) {
  json out = json::object();
  out["buffer"] = base64_encode(bytes);
  out["rangeEnd"] = start + bytes.size();
  out["rangeStart"] = start;
  return out;
}

json content_success(std::string content) {
  json out = json::object();
  out["content"] = std::move(content);
  out["errorCode"] = 0;
  return out;
}

json content_failure() {
  json out = json::object();
  out["content"] = "";
  out["errorCode"] = 1;
  return out;
}

HandlerResult get_max_file_range(std::string_view, const json&) { return json(kMaxFileRange); }

}  // namespace quorvane::files
