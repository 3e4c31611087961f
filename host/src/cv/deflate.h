// A zlib-stream compressor made for filtered screen rows.
//
// Screens filter into long runs of zeros broken by short stretches of text and edges
// that recur at many distances. The match finder therefore tries the previous match's
// distance before anything else (a run continues at the same distance, one 258-byte match
// after another, without touching the hash chains), compares eight bytes at a time, and
// walks a short hash chain with one step of lazy matching. Each block gets its own
// Huffman tables, built once from the block's symbol counts; a block is written stored
// or with the fixed tables when that is smaller.
//
// The output is a plain zlib stream (header, deflate blocks, Adler-32) that any inflater
// reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace quorvane::cv {

// The defaults come from png_encode_bench on the desktops in testdata/screens: against
// zlib's level 6 on the same filtered rows they give files of 0.99-1.03 times the size in
// a fifth of the time or less. A chain of 32 brings the photo-like wallpaper to 1.01 times
// at a third more time; 8 costs it 2 % in size for a fifth less time.
struct DeflateTuning {
  unsigned max_chain = 16;         // hash-chain candidates examined per position, 0 = literals only
  unsigned nice_length = 128;      // a match at least this long ends the search
  unsigned lazy_length = 32;       // shorter matches are checked against the next position
  unsigned insert_limit = 128;     // positions inside longer matches are not all entered in the chains
  unsigned block_symbols = 24576;  // symbols per Huffman block (the last block may be shorter)
};

class ZlibCompressor {
 public:
  explicit ZlibCompressor(const DeflateTuning& tuning = {});
  ~ZlibCompressor();
  ZlibCompressor(const ZlibCompressor&) = delete;
  ZlibCompressor& operator=(const ZlibCompressor&) = delete;

  // Room for `n` more input bytes, to be filled by the caller and handed over with
  // commit(). Valid until the next call on the compressor.
  std::uint8_t* input_space(std::size_t n);
  // The first `n` bytes of the last input_space are input. Compresses all but a short
  // tail, which waits for more input so matches do not stop at the seam.
  void commit(std::size_t n);
  // Compresses what is left and closes the stream with the final block and the checksum.
  void finish();

  // Compressed bytes not yet taken, and taking them.
  std::span<const std::uint8_t> output() const;
  void consume_output();

 private:
  struct State;
  std::unique_ptr<State> s_;
};

// The whole of `data` as one zlib stream.
std::vector<std::uint8_t> zlib_compress(std::span<const std::uint8_t> data, const DeflateTuning& tuning = {});

// Adler-32 of `data` continued from `adler` (1 for a new stream), with SSE2 or AVX2
// where the processor has them.
std::uint32_t adler32_update(std::uint32_t adler, const std::uint8_t* data, std::size_t size);

}  // namespace quorvane::cv
