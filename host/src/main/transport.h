// Framing and the request loop. Frames in both directions are a 4-byte little-endian
// payload length followed by the payload (one JSON text).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

class InputStream {
 public:
  virtual ~InputStream() = default;
  // Reads up to `size` bytes; returns how many were read, 0 at end of input or on error.
  virtual std::size_t read(void* buffer, std::size_t size) = 0;
};

class OutputStream {
 public:
  virtual ~OutputStream() = default;
  // Writes all `size` bytes or reports failure.
  virtual bool write(const void* data, std::size_t size) = 0;
  virtual bool flush() = 0;
};

// The payload buffer of one frame. Memory follows the bytes that have arrived, not the
// length the header declares: room starts small and doubles as it fills, so a sender
// that announces gigabytes and sends nothing costs next to nothing. Large frames get
// their own pages straight from the system, with the address range for the whole
// declared length set aside up front so that growing never moves or copies the bytes
// already read, and so that the pages go back to the system once the frame is done.
class FrameBuffer {
 public:
  // A buffer for a payload of `size` bytes, with room for its first bytes; nullopt when
  // the memory cannot be had.
  static std::optional<FrameBuffer> for_payload(std::size_t size);

  FrameBuffer(FrameBuffer&&) noexcept = default;
  FrameBuffer& operator=(FrameBuffer&&) noexcept = default;

  char* data() { return data_.get(); }
  // The declared payload size; the bytes are all there only once read_frame has them.
  std::size_t size() const { return data_.get_deleter().size; }
  // How many bytes there is room for now (at most size()).
  std::size_t capacity() const { return capacity_; }
  // Doubles the room, up to size(). False when the memory cannot be had.
  bool grow();
  std::string_view view() const { return {data_.get(), size()}; }

  // The room a buffer starts with when its payload is larger.
  static constexpr std::size_t kInitialCapacity = 64 * 1024;

 private:
  struct Release {
    std::size_t size;
    void operator()(char* p) const;
  };
  FrameBuffer(char* data, std::size_t size, std::size_t capacity) : data_(data, Release{size}), capacity_(capacity) {}
  std::unique_ptr<char, Release> data_;
  std::size_t capacity_;
};

// Reads exactly one frame; nullopt when no complete frame could be read (end of input
// or read error before it was complete) or its buffer could not be allocated.
std::optional<FrameBuffer> read_frame(InputStream& in);

// Writes the length, then the payload, then flushes. False if any step fails or the
// payload is too long to frame.
bool write_frame(OutputStream& out, std::string_view payload);

// The request loop: read, parse, dispatch, write, until input ends, a payload is not
// valid JSON, or a reply cannot be written.
void serve_requests(InputStream& in, OutputStream& out);

}  // namespace quorvane
