// The text-recognition methods. They exist only in the Windows build: without the
// Windows Runtime there is no engine to ask.
#pragma once

#include <string_view>

#include "common/handler.h"

namespace quorvane::ocr {

#ifdef _WIN32
// Recognises the text of one image (Base64 `content` or a file `path`, optional `language`).
HandlerResult ocr_image(std::string_view method, const json& params);
// The language tags the OCR engine can recognise on this machine.
HandlerResult ocr_language_list(std::string_view method, const json& params);
#endif

}  // namespace quorvane::ocr
