// The input methods (send_text, send_mouse_event, send_mouse_wheel_event) played into the
// recording queue the unit tests use, since the native build has no system queue. A
// request that is refused (bad_params, bad_key) injects nothing; every outcome is a result
// or a message; the player asks the keyboard layout it was told about.
//
// Input: method (byte 0), screen size and queue behaviour (bytes 1-2), params JSON text.
#include "common/json.h"
#include "common/utf.h"
#include "fuzz_support.h"
#include "input/injection.h"
#include "recording_input_queue.h"

using namespace quorvane;
using namespace quorvane::input;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  json params;
  if (!parse_json(fuzz::as_text(data + 3, size - 3), params)) return 0;

  testing::RecordingInputQueue queue;
  static constexpr std::int32_t kExtents[] = {1920, 1, 0, -5, 65536, 3840};
  queue.width = kExtents[data[1] % 6];
  queue.height = kExtents[(data[1] / 6) % 6];
  if (data[2] & 1) queue.pointer = std::nullopt;              // the cursor cannot be read
  if (data[2] & 2) queue.inserted_on_call[data[2] >> 4] = 0;  // the system refuses a batch
  queue.pointer_follows_moves = (data[2] & 4) == 0;

  HandlerResult outcome = json();
  switch (data[0] % 3) {
    case 0:
      outcome = send_text(params, queue);
      break;
    case 1:
      outcome = send_mouse_event(params, queue);
      break;
    default:
      outcome = send_mouse_wheel_event(params, queue);
      break;
  }
  if (!outcome.ok()) {
    const std::string& message = outcome.error();
    FUZZ_CHECK(!message.empty() && is_valid_utf8(message));
    if (message.starts_with("bad_params: ") || message.starts_with("bad_key: ")) FUZZ_CHECK(queue.calls.empty());
  }
  for (const std::string& entry : queue.log) FUZZ_CHECK(entry != "wrong layout");
  return 0;
}
