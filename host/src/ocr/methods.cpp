#include "ocr/methods.h"

#include "ocr/ocr.h"

namespace quorvane {

#ifdef _WIN32
namespace {
constexpr MethodEntry kOcrMethods[] = {
    {"ocr_image", &ocr_image},
    {"ocr_language_list", &ocr_language_list},
};
}  // namespace

std::span<const MethodEntry> ocr_methods() { return kOcrMethods; }
#else
std::span<const MethodEntry> ocr_methods() { return {}; }
#endif

}  // namespace quorvane
