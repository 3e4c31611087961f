// ocr/: text recognition through the Windows Runtime's engine, called over its raw ABI
// (winrt_abi_win32.h, winrt_runtime_win32.h). ocr_core.h is the portable half, tested
// natively: the request, every answer text, the size limit and the shape of the result.
// Uses common/, and files/ for the path rules every file method follows.
//
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
