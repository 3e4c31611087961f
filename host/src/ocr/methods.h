// The methods this subsystem adds to the method table.
#pragma once

#include <span>

#include "common/handler.h"

namespace quorvane {

std::span<const MethodEntry> ocr_methods();

}  // namespace quorvane
