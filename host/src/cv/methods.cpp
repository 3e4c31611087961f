#include "cv/methods.h"

namespace quorvane {

std::span<const MethodEntry> cv_methods() { return {}; }

}  // namespace quorvane
