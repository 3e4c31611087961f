#include "input/methods.h"

namespace quorvane {

std::span<const MethodEntry> input_methods() { return {}; }

}  // namespace quorvane
