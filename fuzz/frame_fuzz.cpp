// The request loop over a byte stream: frames are read (in pieces of any size), parsed,
// dispatched and answered. Every frame that holds valid JSON gets exactly one reply, in
// order, and each reply is a valid envelope carrying the request's id; the loop stops at
// the first frame that is not JSON or cannot be read whole.
#include <algorithm>
#include <cstring>

#include "common/json.h"
#include "fuzz_support.h"
#include "main/transport.h"

using namespace quorvane;

namespace {

class ChunkedInput final : public InputStream {
 public:
  ChunkedInput(std::string_view bytes, std::size_t chunk) : bytes_(bytes), chunk_(chunk) {}
  std::size_t read(void* buffer, std::size_t size) override {
    const std::size_t n = std::min({size, chunk_, bytes_.size()});
    std::memcpy(buffer, bytes_.data(), n);
    bytes_.remove_prefix(n);
    return n;
  }

 private:
  std::string_view bytes_;
  std::size_t chunk_;
};

class CollectingOutput final : public OutputStream {
 public:
  bool write(const void* data, std::size_t size) override {
    bytes.append(static_cast<const char*>(data), size);
    return true;
  }
  bool flush() override { return true; }
  std::string bytes;
};

std::uint32_t le32(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return std::uint32_t{u[0]} | std::uint32_t{u[1]} << 8 | std::uint32_t{u[2]} << 16 | std::uint32_t{u[3]} << 24;
}

void put_le32(char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>(v >> (8 * i));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte sets how many bytes each read returns (1 to 16, 0 meaning all).
  const std::size_t chunk = data[0] % 17 == 0 ? SIZE_MAX : data[0] % 17;
  std::string stream(fuzz::as_text(data + 1, size - 1));

  // A length beyond the end of input is cut to one byte more than what remains: the frame
  // still ends early, but the reader does not ask for gigabytes first (an allocation that
  // big is allowed and would only stop the fuzzer).
  std::vector<json> expected;
  bool replies_end = false;
  for (std::size_t pos = 0; pos + 4 <= stream.size();) {
    const std::size_t remaining = stream.size() - pos - 4;
    std::uint32_t length = le32(&stream[pos]);
    if (length > remaining) {
      length = static_cast<std::uint32_t>(remaining + 1);
      put_le32(&stream[pos], length);
      break;
    }
    if (!replies_end) {
      json request;
      if (parse_json(std::string_view(stream).substr(pos + 4, length), request)) {
        if (fuzz::carries_costly_picture(request)) return 0;
        expected.push_back(fuzz::expected_id(request));
      } else {
        replies_end = true;
      }
    }
    pos += 4 + static_cast<std::size_t>(length);
  }

  ChunkedInput in(stream, chunk);
  CollectingOutput out;
  serve_requests(in, out);

  std::string_view replies = out.bytes;
  std::size_t count = 0;
  while (!replies.empty()) {
    FUZZ_CHECK(replies.size() >= 4);
    const std::uint32_t length = le32(replies.data());
    FUZZ_CHECK(replies.size() - 4 >= length);
    json reply;
    FUZZ_CHECK(parse_json(replies.substr(4, length), reply));
    FUZZ_CHECK(count < expected.size());
    FUZZ_CHECK(fuzz::is_valid_envelope(reply, expected[count]));
    ++count;
    replies.remove_prefix(4 + static_cast<std::size_t>(length));
  }
  FUZZ_CHECK(count == expected.size());
  return 0;
}
