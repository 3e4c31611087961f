// The methods this subsystem adds to the method table.
#pragma once

#include "common/handler.h"

#include <span>

namespace quorvane {

std::span<const MethodEntry> input_methods();

}  // namespace quorvane
