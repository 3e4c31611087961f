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

// The payload buffer of one frame. Large frames get their own pages straight from the
// system so that they are returned to it (not kept committed) once the frame is done.
class FrameBuffer {
public:
  // nullopt when the memory cannot be had.
  static std::optional<FrameBuffer> allocate(std::size_t size);

  FrameBuffer(FrameBuffer&&) noexcept = default;
  FrameBuffer& operator=(FrameBuffer&&) noexcept = default;

  char* data() { return data_.get(); }
  std::size_t size() const { return size_; }
  std::string_view view() const { return {data_.get(), size_}; }

private:
  struct Release {
    std::size_t size;
    void operator()(char* p) const;
  };
  FrameBuffer(char* data, std::size_t size) : data_(data, Release{size}), size_(size) {}
  std::unique_ptr<char, Release> data_;
  std::size_t size_;
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
