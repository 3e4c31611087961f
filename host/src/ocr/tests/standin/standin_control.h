// What the tests can ask the stand-in runtime classes: the calls they received and how
// many of their objects are still alive.
//
// Behaviour is scripted through the environment variable QUORVANE_OCR_STANDIN (read at
// every call, so a host process started by a test inherits it), a list of items
// separated by ';':
//   fail=<call>[@<n>][:<hex HRESULT>]  the call (every time, or only its n-th time since the
//                                      last reset) fails; default code 0x80004005
//   null=<call>[@<n>]                  the call succeeds but returns null
//   async=now|later|inline             operations finish before they are returned (now),
//                                      on another thread about 30 ms later (later), or
//                                      inside put_Completed (inline)
//   languages=<tag>,<tag>...           recognizer languages (default en-US,de-DE)
//   profile=none|<tag>                 what TryCreateFromUserProfileLanguages finds
//   maxdim=<n>                         OcrEngine.MaxImageDimension (default 10000)
//   apartment=refuse                   activation always reports CO_E_NOTINITIALIZED
// <call> is the name logged for it, e.g. DataWriter.StoreAsync, or
// DataWriter.StoreAsync.result for the operation's completion.
//
// Images are UTF-8 text that the stand-in decoder reads from the stream:
//   QVIMG <width> <height>
//   L <line text>
//   W <x> <y> <width> <height> <word text>     (a word of the last line)
//   T <full text>
// Texts may hold \uXXXX escapes for any UTF-16 unit, unpaired surrogates included.
#pragma once

#ifdef QUORVANE_OCR_STANDIN_BUILD
#define QUORVANE_OCR_STANDIN_API extern "C" __declspec(dllexport)
#else
#define QUORVANE_OCR_STANDIN_API extern "C" __declspec(dllimport)
#endif

// Calls since the last reset, one per line, in order.
QUORVANE_OCR_STANDIN_API const char* quorvane_ocr_standin_log();
// Every DllGetActivationFactory call since the DLL was loaded: "<class> <hresult>" lines.
QUORVANE_OCR_STANDIN_API const char* quorvane_ocr_standin_activation_log();
// Objects (other than factories) not yet destroyed.
QUORVANE_OCR_STANDIN_API long quorvane_ocr_standin_live_objects();
// Waits for every operation still finishing on another thread.
QUORVANE_OCR_STANDIN_API void quorvane_ocr_standin_quiesce();
// Quiesces, then clears the call log and the per-call counters.
QUORVANE_OCR_STANDIN_API void quorvane_ocr_standin_reset();
