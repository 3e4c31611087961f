#include "main/transport.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "common/json.h"
#include "main/dispatch.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace quorvane {

namespace {

// Below this a frame comes from the ordinary heap; above it, from fresh system pages.
[[maybe_unused]] constexpr std::size_t kDirectPagesThreshold = 1 << 20;  // Windows only

bool read_exactly(InputStream& in, char* buffer, std::size_t size) {
  while (size > 0) {
    std::size_t got = in.read(buffer, size);
    if (got == 0) return false;
    buffer += got;
    size -= got;
  }
  return true;
}

std::string too_large_reply(const json& reply, std::size_t size) {
  json refusal = json::object();
  refusal["id"] = reply.contains("id") ? reply["id"] : json();
  refusal["error"] = {{"message", "reply_too_large: the reply of " + std::to_string(size) +
                                      " bytes exceeds the largest frame of 4294967295 bytes"}};
  return to_json_text(refusal);
}

#ifdef _WIN32
bool uses_system_pages(std::size_t size) { return size >= kDirectPagesThreshold; }
#endif

}  // namespace

void FrameBuffer::Release::operator()(char* p) const {
#ifdef _WIN32
  if (uses_system_pages(size)) {
    VirtualFree(p, 0, MEM_RELEASE);
    return;
  }
#endif
  std::free(p);
}

std::optional<FrameBuffer> FrameBuffer::for_payload(std::size_t size) {
  const std::size_t capacity = std::min(size, kInitialCapacity);
#ifdef _WIN32
  if (uses_system_pages(size)) {
    // Setting the address range aside commits no memory; only the first pages are.
    auto* p = static_cast<char*>(VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS));
    if (!p) return std::nullopt;
    FrameBuffer frame(p, size, 0);
    if (!VirtualAlloc(p, capacity, MEM_COMMIT, PAGE_READWRITE)) return std::nullopt;
    frame.capacity_ = capacity;
    return frame;
  }
#endif
  auto* p = static_cast<char*>(std::malloc(capacity == 0 ? 1 : capacity));
  if (!p) return std::nullopt;
  return FrameBuffer(p, size, capacity);
}

bool FrameBuffer::grow() {
  const std::size_t total = size();
  if (capacity_ >= total) return capacity_ == total;
  const std::size_t wanted = capacity_ > total / 2 ? total : capacity_ * 2;
#ifdef _WIN32
  if (uses_system_pages(total)) {
    if (!VirtualAlloc(data_.get(), wanted, MEM_COMMIT, PAGE_READWRITE)) return false;
    capacity_ = wanted;
    return true;
  }
#endif
  auto* p = static_cast<char*>(std::realloc(data_.get(), wanted));
  if (!p) return false;
  (void)data_.release();
  data_.reset(p);
  capacity_ = wanted;
  return true;
}

std::optional<FrameBuffer> read_frame(InputStream& in) {
  unsigned char header[4];
  if (!read_exactly(in, reinterpret_cast<char*>(header), 4)) return std::nullopt;
  std::size_t length = static_cast<std::size_t>(header[0]) | (static_cast<std::size_t>(header[1]) << 8) |
                       (static_cast<std::size_t>(header[2]) << 16) | (static_cast<std::size_t>(header[3]) << 24);
  std::optional<FrameBuffer> frame = FrameBuffer::for_payload(length);
  if (!frame) return std::nullopt;
  // Never ask for more than there is room for: the room grows only as bytes come in.
  std::size_t filled = 0;
  while (filled < length) {
    if (filled == frame->capacity() && !frame->grow()) return std::nullopt;
    const std::size_t got = in.read(frame->data() + filled, frame->capacity() - filled);
    if (got == 0) return std::nullopt;
    filled += got;
  }
  return frame;
}

bool write_frame(OutputStream& out, std::string_view payload) {
  if (payload.size() > std::numeric_limits<std::uint32_t>::max()) return false;
  auto length = static_cast<std::uint32_t>(payload.size());
  const unsigned char header[4] = {static_cast<unsigned char>(length), static_cast<unsigned char>(length >> 8),
                                   static_cast<unsigned char>(length >> 16), static_cast<unsigned char>(length >> 24)};
  return out.write(header, 4) && out.write(payload.data(), payload.size()) && out.flush();
}

void serve_requests(InputStream& in, OutputStream& out) {
  for (;;) {
    std::string text;
    {
      std::optional<FrameBuffer> frame = read_frame(in);
      if (!frame) return;
      json reply;
      {
        json request;
        if (!parse_json(frame->view(), request)) return;
        // The payload is no longer needed once parsed; hand its pages back before the
        // handler allocates its own working memory.
        frame.reset();
        reply = dispatch_request(request);
      }
      text.reserve(128);
      write_json(reply, text);
      if (text.size() > std::numeric_limits<std::uint32_t>::max()) {
        std::size_t size = text.size();
        std::string().swap(text);
        text = too_large_reply(reply, size);
      }
    }
    if (!write_frame(out, text)) return;
  }
}

}  // namespace quorvane
