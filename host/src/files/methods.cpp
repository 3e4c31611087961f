#include "files/methods.h"

#include <string>

namespace quorvane {

HandlerResult files_dispatch(std::string_view method, const json& /*params*/) {
  return HandlerResult::fail("Unknown method: " + std::string(method));
}

}  // namespace quorvane
