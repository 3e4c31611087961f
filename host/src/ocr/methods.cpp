#include "ocr/methods.h"

namespace quorvane {

std::span<const MethodEntry> ocr_methods() { return {}; }

}  // namespace quorvane
