#include "cv/deflate.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "cv/png_kernels.h"

namespace quorvane::cv {

namespace {

constexpr std::uint32_t kWindow = 32768;
constexpr std::uint32_t kMinMatch = 4;  // the chains hash four bytes
// Three-byte matches come from a table of one position per hash, and only this near:
// further away, a length-3 match costs about as many bits as its three literals.
constexpr std::uint32_t kShortMatchReach = 4096;
constexpr std::uint32_t kMaxMatch = 258;
constexpr unsigned kHashBits = 15;
// A block keeps its input in the buffer so it can still be written stored; past this
// much input it is closed whatever its symbol count (long runs make few symbols).
constexpr std::uint64_t kMaxBlockInput = 1u << 20;
constexpr unsigned kLitLenSymbols = 286;
constexpr unsigned kDistSymbols = 30;
constexpr unsigned kEndOfBlock = 256;

inline std::uint32_t load32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

inline std::uint64_t load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

inline std::uint32_t hash4(const std::uint8_t* p) { return (load32(p) * 0x9E3779B1u) >> (32 - kHashBits); }
inline std::uint32_t hash3(const std::uint8_t* p) {
  return ((load32(p) & 0xFFFFFFu) * 0x9E3779B1u) >> (32 - kHashBits);
}

// Length of the common prefix of a and b, at most `max` bytes.
inline std::uint32_t common_length(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t max) {
  std::uint32_t len = 0;
  while (len + 8 <= max) {
    const std::uint64_t x = load64(a + len) ^ load64(b + len);
    if (x != 0) return len + static_cast<std::uint32_t>(__builtin_ctzll(x) >> 3);
    len += 8;
  }
  while (len < max && a[len] == b[len]) ++len;
  return len;
}

// The deflate alphabets' extra bits and bases.
struct Alphabets {
  std::array<std::uint8_t, kMaxMatch + 1> length_symbol{};  // length -> 0..28
  std::array<std::uint16_t, 29> length_base{};
  std::array<std::uint8_t, 29> length_extra{};
  std::array<std::uint16_t, 30> dist_base{};  // distance - 1
  std::array<std::uint8_t, 30> dist_extra{};

  Alphabets() {
    unsigned length = 3;
    for (unsigned s = 0; s < 28; ++s) {
      length_extra[s] = static_cast<std::uint8_t>(s < 8 ? 0 : (s - 4) / 4);
      length_base[s] = static_cast<std::uint16_t>(length);
      for (unsigned i = 0; i < (1u << length_extra[s]); ++i) length_symbol[length++] = static_cast<std::uint8_t>(s);
    }
    // 258 has a symbol of its own, although 227 + 31 could say it with symbol 27.
    length_extra[28] = 0;
    length_base[28] = 258;
    length_symbol[258] = 28;
    unsigned dist = 0;
    for (unsigned s = 0; s < 30; ++s) {
      dist_extra[s] = static_cast<std::uint8_t>(s < 4 ? 0 : (s - 2) / 2);
      dist_base[s] = static_cast<std::uint16_t>(dist);
      dist += 1u << dist_extra[s];
    }
  }
};
const Alphabets kAlphabets;

// distance - 1 (0..32767) -> distance symbol.
inline unsigned dist_symbol(std::uint32_t d) {
  if (d < 4) return d;
  const unsigned top = 31u - static_cast<unsigned>(__builtin_clz(d));
  return 2 * top + ((d >> (top - 1)) & 1u);
}

// Items of a block: a literal is its byte; a match is length << 16 | (distance - 1).
inline bool is_match(std::uint32_t item) { return item >= (1u << 16); }

// Code lengths for `n` symbols with the given counts, no longer than `limit` bits. Codes
// are always complete: with fewer than two used symbols, unused ones are given a count of
// one, so every inflater accepts the table.
void build_lengths(const std::uint32_t* freq_in, unsigned n, unsigned limit, std::uint8_t* lengths) {
  std::array<std::uint32_t, 320> freq{};
  std::copy(freq_in, freq_in + n, freq.begin());
  unsigned used = 0;
  for (unsigned i = 0; i < n; ++i) used += freq[i] != 0;
  for (unsigned i = 0; used < 2 && i < n; ++i)
    if (freq[i] == 0) {
      freq[i] = 1;
      ++used;
    }

  // Symbols by ascending count; the stable order makes the tables deterministic.
  std::array<std::uint32_t, 320> order{};
  unsigned m = 0;
  for (unsigned i = 0; i < n; ++i)
    if (freq[i] != 0) order[m++] = i;
  std::stable_sort(order.begin(), order.begin() + m,
                   [&](std::uint32_t a, std::uint32_t b) { return freq[a] < freq[b]; });

  // Minimum-redundancy lengths in place over the sorted counts (Moffat and Katajainen):
  // the first pass builds the tree's parent links, the next two turn them into depths.
  std::array<std::uint32_t, 320> a{};
  for (unsigned i = 0; i < m; ++i) a[i] = freq[order[i]];
  {
    unsigned root = 0, leaf = 2;
    a[0] += a[1];
    for (unsigned next = 1; next < m - 1; ++next) {
      if (leaf >= m || a[root] < a[leaf]) {
        a[next] = a[root];
        a[root++] = next;
      } else {
        a[next] = a[leaf++];
      }
      if (leaf >= m || (root < next && a[root] < a[leaf])) {
        a[next] += a[root];
        a[root++] = next;
      } else {
        a[next] += a[leaf++];
      }
    }
    a[m - 2] = 0;
    for (int next = static_cast<int>(m) - 3; next >= 0; --next) a[next] = a[a[next]] + 1;
    int avail = 1, used_nodes = 0, depth = 0, root_i = static_cast<int>(m) - 2, next = static_cast<int>(m) - 1;
    while (avail > 0) {
      while (root_i >= 0 && static_cast<int>(a[root_i]) == depth) {
        ++used_nodes;
        --root_i;
      }
      while (avail > used_nodes) {
        a[next--] = static_cast<std::uint32_t>(depth);
        --avail;
      }
      avail = 2 * used_nodes;
      ++depth;
      used_nodes = 0;
    }
  }

  // Count lengths, fold the too-long ones into the limit, then restore the Kraft sum by
  // moving leaves down from shorter lengths (each step removes one unit of overflow).
  std::array<std::uint32_t, 33> count{};
  for (unsigned i = 0; i < m; ++i) ++count[std::min<std::uint32_t>(a[i], 32)];
  for (unsigned len = limit + 1; len <= 32; ++len) {
    count[limit] += count[len];
    count[len] = 0;
  }
  std::uint64_t total = 0;
  for (unsigned len = 1; len <= limit; ++len) total += std::uint64_t{count[len]} << (limit - len);
  while (total > (std::uint64_t{1} << limit)) {
    --count[limit];
    for (unsigned len = limit - 1; len > 0; --len) {
      if (count[len] != 0) {
        --count[len];
        count[len + 1] += 2;
        break;
      }
    }
    --total;
  }

  std::fill(lengths, lengths + n, std::uint8_t{0});
  unsigned i = 0;  // least frequent first, so they get the longest codes
  for (unsigned len = limit; len >= 1; --len)
    for (std::uint32_t k = 0; k < count[len]; ++k) lengths[order[i++]] = static_cast<std::uint8_t>(len);
}

// Canonical codes, bit-reversed because deflate sends Huffman codes from their top bit.
void build_codes(const std::uint8_t* lengths, unsigned n, std::uint16_t* codes) {
  std::array<std::uint16_t, 16> count{};
  for (unsigned i = 0; i < n; ++i) ++count[lengths[i]];
  count[0] = 0;
  std::array<std::uint16_t, 16> next{};
  std::uint16_t code = 0;
  for (unsigned bits = 1; bits < 16; ++bits) {
    code = static_cast<std::uint16_t>((code + count[bits - 1]) << 1);
    next[bits] = code;
  }
  for (unsigned i = 0; i < n; ++i) {
    const unsigned len = lengths[i];
    if (len == 0) {
      codes[i] = 0;
      continue;
    }
    unsigned c = next[len]++;
    unsigned r = 0;
    for (unsigned b = 0; b < len; ++b, c >>= 1) r = (r << 1) | (c & 1u);
    codes[i] = static_cast<std::uint16_t>(r);
  }
}

struct Table {
  std::array<std::uint8_t, 288> lit_len{};
  std::array<std::uint16_t, 288> lit_code{};
  std::array<std::uint8_t, 32> dist_len{};
  std::array<std::uint16_t, 32> dist_code{};
};

const Table& fixed_table() {
  static const Table table = [] {
    Table t;
    for (unsigned i = 0; i < 288; ++i) t.lit_len[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    for (unsigned i = 0; i < 32; ++i) t.dist_len[i] = 5;
    build_codes(t.lit_len.data(), 288, t.lit_code.data());
    build_codes(t.dist_len.data(), 32, t.dist_code.data());
    return t;
  }();
  return table;
}

constexpr std::array<std::uint8_t, 19> kCodeLengthOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                           11, 4,  12, 3, 13, 2, 14, 1, 15};

// Writes bits LSB first into memory the caller has made large enough (flush() stores
// eight bytes at a time).
struct BitWriter {
  std::uint8_t* p;
  std::uint64_t bits = 0;
  unsigned count = 0;

  // count + n must stay below 64: callers flush at least every 56 bits.
  void put(std::uint64_t value, unsigned n) {
    bits |= value << count;
    count += n;
  }
  void flush() {
    std::memcpy(p, &bits, 8);
    p += count >> 3;
    bits >>= (count & ~7u);
    count &= 7u;
  }
  void align() {
    flush();
    if (count > 0) {
      count = 8;
      flush();
    }
  }
};

}  // namespace

struct ZlibCompressor::State {
  DeflateTuning tuning;

  // Input: buf[0] is absolute position `base`; data runs to `end`. Positions below
  // `parsed` have been turned into items; below `inserted`, into hash chains.
  std::vector<std::uint8_t> buf;
  std::uint64_t base = 0;
  std::uint64_t end = 0;
  std::uint64_t parsed = 0;
  std::uint64_t inserted = 0;
  std::uint64_t block_start = 0;

  // Chains hold positions modulo 2^32; a candidate is valid when its distance is 1..32768,
  // and stale entries that alias into the window only cost a failed comparison.
  std::vector<std::uint32_t> head = std::vector<std::uint32_t>(std::size_t{1} << kHashBits, 0);
  std::vector<std::uint32_t> prev = std::vector<std::uint32_t>(kWindow, 0);
  std::vector<std::uint32_t> head3 = std::vector<std::uint32_t>(std::size_t{1} << kHashBits, 0);
  std::uint32_t last_dist = 0;

  std::vector<std::uint32_t> items;
  std::array<std::uint32_t, 288> lit_freq{};
  std::array<std::uint32_t, 32> dist_freq{};

  std::uint32_t adler = 1;
  std::vector<std::uint8_t> out;
  std::uint64_t bits = 0;  // bits not yet in `out`
  unsigned bit_count = 0;
  bool finished = false;

  explicit State(const DeflateTuning& t) : tuning(t) {
    tuning.nice_length = std::clamp(tuning.nice_length, kMinMatch, kMaxMatch);
    // insert_range keeps eight positions at each end of a long match.
    tuning.insert_limit = std::max(tuning.insert_limit, 16u);
    tuning.block_symbols = std::clamp(tuning.block_symbols, 1024u, 1u << 20);
    items.reserve(tuning.block_symbols + 2);
    out.push_back(0x78);  // 32 KiB window, deflate
    out.push_back(0x5E);  // no dictionary, "fast" hint; header % 31 == 0
  }

  const std::uint8_t* at(std::uint64_t pos) const { return buf.data() + (pos - base); }

  void insert(const std::uint8_t* p, std::uint32_t pos) {
    const std::uint32_t h = hash4(p);
    prev[pos & (kWindow - 1)] = head[h];
    head[h] = pos;
    head3[hash3(p)] = pos;
  }

  struct Match {
    std::uint32_t length = 0;
    std::uint32_t dist = 0;
  };

  // The longest match at p (absolute `abs`), found at most `max_len` bytes long. Enters p
  // in the chains.
  Match find(const std::uint8_t* p, std::uint64_t abs, std::uint32_t max_len) {
    const std::uint32_t pos = static_cast<std::uint32_t>(abs);
    const std::uint32_t max_dist = abs < kWindow ? static_cast<std::uint32_t>(abs) : kWindow;
    const std::uint32_t head4 = load32(p);

    // Runs of one byte value (flat areas, after filtering) repeat at distance 1, the
    // cheapest distance to code; a long enough run is taken without a search.
    std::uint32_t run_length = 0;
    if (max_dist >= 1 && load32(p - 1) == head4) run_length = common_length(p, p - 1, max_len);
    // A repeated pattern continues at the previous distance. That is taken without a
    // search only when long and longer than the run: the same bytes are usually found
    // nearer too, and near distances cost fewer bits.
    std::uint32_t rep_length = 0;
    if (last_dist > 1 && last_dist <= max_dist && load32(p - last_dist) == head4)
      rep_length = common_length(p, p - last_dist, max_len);

    const std::uint32_t h = hash4(p);
    std::uint32_t cand = head[h];
    head[h] = pos;
    prev[pos & (kWindow - 1)] = cand;
    const std::uint32_t h3 = hash3(p);
    const std::uint32_t short_cand = head3[h3];
    head3[h3] = pos;
    inserted = abs + 1;
    if (run_length >= tuning.nice_length || run_length >= max_len) return {run_length, 1};
    if (rep_length > run_length && (rep_length >= tuning.nice_length || rep_length >= max_len))
      return {rep_length, last_dist};

    Match best;
    best.length = kMinMatch - 1;
    if (run_length > best.length) best = {run_length, 1};

    std::uint32_t prev_dist = 0;
    for (unsigned depth = tuning.max_chain; depth > 0; --depth) {
      const std::uint32_t d = pos - cand;
      if (d <= prev_dist || d > max_dist) break;
      const std::uint8_t* c = p - d;
      if (c[best.length] == p[best.length] && load32(c) == head4) {
        const std::uint32_t len = common_length(p, c, max_len);
        if (len > best.length) {
          best.length = len;
          best.dist = d;
          if (len >= tuning.nice_length || len >= max_len) break;
        }
      }
      prev_dist = d;
      cand = prev[cand & (kWindow - 1)];
    }
    if (rep_length > best.length) return {rep_length, last_dist};
    if (best.dist == 0) {
      best.length = 0;
      const std::uint32_t d = pos - short_cand;
      if (d != 0 && d <= kShortMatchReach && d <= max_dist && ((load32(p - d) ^ head4) & 0xFFFFFFu) == 0) {
        best.length = 3;
        best.dist = d;
      }
    }
    return best;
  }

  void literal(std::uint8_t byte) {
    items.push_back(byte);
    ++lit_freq[byte];
  }

  void match(std::uint32_t length, std::uint32_t dist) {
    items.push_back((length << 16) | (dist - 1));
    ++lit_freq[257 + kAlphabets.length_symbol[length]];
    ++dist_freq[dist_symbol(dist - 1)];
  }

  // Enters positions [from, to) in the chains; a long stretch only in part (its two ends),
  // since inside a long match every position predicts the same thing.
  void insert_range(std::uint64_t from, std::uint64_t to) {
    if (to + 3 > end) to = end >= 3 ? end - 3 : 0;  // a hash reads four bytes
    if (from >= to) return;
    if (to - from > tuning.insert_limit) {
      const std::uint64_t keep = 8;
      for (std::uint64_t q = from; q < from + keep; ++q) insert(at(q), static_cast<std::uint32_t>(q));
      from = to - keep;
    }
    for (std::uint64_t q = from; q < to; ++q) insert(at(q), static_cast<std::uint32_t>(q));
    inserted = to;
  }

  // Turns input up to `limit` into items, closing blocks as they fill.
  void parse(std::uint64_t limit) {
    std::uint64_t pos = parsed;
    while (pos < limit) {
      const std::uint8_t* p = at(pos);
      const std::uint64_t avail = end - pos;
      if (avail < kMinMatch || tuning.max_chain == 0) {
        literal(*p);
        ++pos;
      } else {
        const std::uint32_t max_len = static_cast<std::uint32_t>(std::min<std::uint64_t>(avail, kMaxMatch));
        Match m = find(p, pos, max_len);
        if (m.length == 0) {
          literal(*p);
          ++pos;
        } else {
          // One step of lazy evaluation: a longer match one byte on is worth a literal.
          while (m.length < tuning.lazy_length && pos + 1 < limit && end - (pos + 1) >= kMinMatch) {
            const std::uint32_t next_max =
                static_cast<std::uint32_t>(std::min<std::uint64_t>(end - pos - 1, kMaxMatch));
            const Match next = find(p + 1, pos + 1, next_max);
            if (next.length <= m.length) break;
            literal(*p);
            ++pos;
            ++p;
            m = next;
          }
          match(m.length, m.dist);
          last_dist = m.dist;
          insert_range(std::max(inserted, pos + 1), pos + m.length);
          pos += m.length;
        }
      }
      if (items.size() >= tuning.block_symbols || pos - block_start >= kMaxBlockInput) {
        parsed = pos;
        write_block(false);
      }
    }
    parsed = pos;
  }

  void reserve_out(std::size_t bytes) {
    if (out.capacity() - out.size() < bytes) out.reserve(std::max(out.size() + bytes, out.capacity() * 2));
  }

  // Appends the pending bits to `out` after a BitWriter finished with them.
  BitWriter writer(std::size_t room) {
    reserve_out(room + 16);
    const std::size_t size = out.size();
    out.resize(size + room + 16);  // capacity is reserved; resize only moves the end
    BitWriter w{out.data() + size};
    w.bits = bits;
    w.count = bit_count;
    return w;
  }
  void done(const BitWriter& w) {
    out.resize(static_cast<std::size_t>(w.p - out.data()));
    bits = w.bits;
    bit_count = w.count;
  }

  std::uint64_t data_bits(const Table& t) const {
    std::uint64_t total = 0;
    for (unsigned s = 0; s < kLitLenSymbols; ++s) total += std::uint64_t{lit_freq[s]} * t.lit_len[s];
    for (unsigned s = 0; s < 29; ++s) total += std::uint64_t{lit_freq[257 + s]} * kAlphabets.length_extra[s];
    for (unsigned s = 0; s < kDistSymbols; ++s)
      total += std::uint64_t{dist_freq[s]} * (t.dist_len[s] + kAlphabets.dist_extra[s]);
    return total;
  }

  void write_items(BitWriter& w, const Table& t) {
    for (const std::uint32_t item : items) {
      if (!is_match(item)) {
        w.put(t.lit_code[item], t.lit_len[item]);
      } else {
        const std::uint32_t length = item >> 16;
        const std::uint32_t d = item & 0xFFFFu;
        const unsigned ls = kAlphabets.length_symbol[length];
        w.put(t.lit_code[257 + ls], t.lit_len[257 + ls]);
        w.put(length - kAlphabets.length_base[ls], kAlphabets.length_extra[ls]);
        const unsigned ds = dist_symbol(d);
        w.put(t.dist_code[ds], t.dist_len[ds]);
        w.put(d - kAlphabets.dist_base[ds], kAlphabets.dist_extra[ds]);
      }
      w.flush();
    }
    w.put(t.lit_code[kEndOfBlock], t.lit_len[kEndOfBlock]);
    w.flush();
  }

  // Closes the current block at `parsed` as the cheapest of dynamic, fixed and stored.
  void write_block(bool final) {
    lit_freq[kEndOfBlock] = 1;

    Table dyn;
    build_lengths(lit_freq.data(), kLitLenSymbols, 15, dyn.lit_len.data());
    build_lengths(dist_freq.data(), kDistSymbols, 15, dyn.dist_len.data());
    build_codes(dyn.lit_len.data(), kLitLenSymbols, dyn.lit_code.data());
    build_codes(dyn.dist_len.data(), kDistSymbols, dyn.dist_code.data());

    unsigned hlit = kLitLenSymbols;
    while (hlit > 257 && dyn.lit_len[hlit - 1] == 0) --hlit;
    unsigned hdist = kDistSymbols;
    while (hdist > 1 && dyn.dist_len[hdist - 1] == 0) --hdist;

    // The two length lists, run-length coded with symbols 16 (repeat previous), 17 and 18
    // (runs of zeros); runs may cross from one list into the other.
    std::array<std::uint8_t, 320> lens{};
    std::copy(dyn.lit_len.begin(), dyn.lit_len.begin() + hlit, lens.begin());
    std::copy(dyn.dist_len.begin(), dyn.dist_len.begin() + hdist, lens.begin() + hlit);
    const unsigned total = hlit + hdist;
    std::array<std::uint8_t, 320> cl_sym{};
    std::array<std::uint8_t, 320> cl_extra{};
    unsigned ncl = 0;
    std::array<std::uint32_t, 19> cl_freq{};
    auto emit = [&](unsigned sym, unsigned extra) {
      cl_sym[ncl] = static_cast<std::uint8_t>(sym);
      cl_extra[ncl++] = static_cast<std::uint8_t>(extra);
      ++cl_freq[sym];
    };
    for (unsigned i = 0; i < total;) {
      const unsigned v = lens[i];
      unsigned run = 1;
      while (i + run < total && lens[i + run] == v) ++run;
      i += run;
      if (v == 0) {
        while (run >= 11) {
          const unsigned r = std::min(run, 138u);
          emit(18, r - 11);
          run -= r;
        }
        if (run >= 3) {
          emit(17, run - 3);
          run = 0;
        }
      } else {
        emit(v, 0);
        --run;
        while (run >= 3) {
          const unsigned r = std::min(run, 6u);
          emit(16, r - 3);
          run -= r;
        }
      }
      for (; run > 0; --run) emit(v, 0);
    }
    std::array<std::uint8_t, 19> cl_len{};
    std::array<std::uint16_t, 19> cl_code{};
    build_lengths(cl_freq.data(), 19, 7, cl_len.data());
    build_codes(cl_len.data(), 19, cl_code.data());
    unsigned hclen = 19;
    while (hclen > 4 && cl_len[kCodeLengthOrder[hclen - 1]] == 0) --hclen;

    std::uint64_t header_bits = 5 + 5 + 4 + 3 * hclen;
    for (unsigned s = 0; s < 19; ++s) header_bits += std::uint64_t{cl_freq[s]} * cl_len[s];
    header_bits += 2 * cl_freq[16] + 3 * cl_freq[17] + 7 * cl_freq[18];
    const std::uint64_t dynamic_bits = 3 + header_bits + data_bits(dyn);
    const Table& fixed = fixed_table();
    const std::uint64_t fixed_bits = 3 + data_bits(fixed);

    // Stored: each piece of up to 65535 bytes costs a 3-bit header, padding to a byte and
    // four length bytes. Possible only while the block's input is still in the buffer.
    const std::uint64_t raw = parsed - block_start;
    const bool raw_kept = block_start >= base;
    std::uint64_t stored_bits = ~std::uint64_t{0};
    if (raw_kept) {
      const std::uint64_t pieces = raw == 0 ? 1 : (raw + 65534) / 65535;
      stored_bits = pieces * (3 + 7 + 32) + raw * 8;
    }

    if (stored_bits < dynamic_bits && stored_bits < fixed_bits) {
      const std::uint8_t* data = at(block_start);
      std::uint64_t left = raw;
      do {
        const std::uint32_t piece = static_cast<std::uint32_t>(std::min<std::uint64_t>(left, 65535));
        left -= piece;
        BitWriter w = writer(piece + 16);
        w.put((final && left == 0) ? 1 : 0, 3);
        w.align();
        w.put(piece | (std::uint64_t{~piece & 0xFFFFu} << 16), 32);
        w.flush();
        if (piece > 0) std::memcpy(w.p, data, piece);
        w.p += piece;
        data += piece;
        done(w);
      } while (left > 0);
    } else {
      BitWriter w = writer(items.size() * 7 + 400);
      if (fixed_bits <= dynamic_bits) {
        w.put(final ? 3 : 2, 3);
        write_items(w, fixed);
      } else {
        w.put(final ? 5 : 4, 3);
        w.put(hlit - 257, 5);
        w.put(hdist - 1, 5);
        w.put(hclen - 4, 4);
        w.flush();
        for (unsigned i = 0; i < hclen; ++i) {
          w.put(cl_len[kCodeLengthOrder[i]], 3);
          w.flush();
        }
        static constexpr std::array<std::uint8_t, 19> kExtraBits = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                                    0, 0, 0, 0, 0, 0, 2, 3, 7};
        for (unsigned i = 0; i < ncl; ++i) {
          w.put(cl_code[cl_sym[i]], cl_len[cl_sym[i]]);
          w.put(cl_extra[i], kExtraBits[cl_sym[i]]);
          w.flush();
        }
        write_items(w, dyn);
      }
      done(w);
    }

    items.clear();
    lit_freq.fill(0);
    dist_freq.fill(0);
    block_start = parsed;
  }

  std::uint8_t* input_space(std::size_t n) {
    std::size_t used = static_cast<std::size_t>(end - base);
    if (used + n > buf.size()) {
      // Keep the window before the next position to parse, and the open block's input
      // when that costs little.
      std::uint64_t keep = parsed > kWindow ? parsed - kWindow : 0;
      if (block_start < keep && keep - block_start <= 2 * kWindow) keep = block_start;
      keep = std::max(keep, base);
      if (end > keep) std::memmove(buf.data(), buf.data() + (keep - base), static_cast<std::size_t>(end - keep));
      base = keep;
      used = static_cast<std::size_t>(end - base);
      if (used + n > buf.size()) buf.resize(used + n);
    }
    return buf.data() + used;
  }

  void commit(std::size_t n) {
    adler = adler32_update(adler, buf.data() + (end - base), n);
    end += n;
    // The tail waits for the next input so that its matches can run their full length.
    if (end > parsed + kMaxMatch) parse(end - kMaxMatch);
  }

  void finish() {
    if (finished) return;
    parse(end);
    write_block(true);
    BitWriter w = writer(8);
    w.align();
    done(w);
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(adler >> shift));
    finished = true;
  }
};

ZlibCompressor::ZlibCompressor(const DeflateTuning& tuning) : s_(std::make_unique<State>(tuning)) {}
ZlibCompressor::~ZlibCompressor() = default;

std::uint8_t* ZlibCompressor::input_space(std::size_t n) { return s_->input_space(n); }
void ZlibCompressor::commit(std::size_t n) { s_->commit(n); }
void ZlibCompressor::finish() { s_->finish(); }
std::span<const std::uint8_t> ZlibCompressor::output() const { return s_->out; }
void ZlibCompressor::consume_output() { s_->out.clear(); }

std::vector<std::uint8_t> zlib_compress(std::span<const std::uint8_t> data, const DeflateTuning& tuning) {
  ZlibCompressor z(tuning);
  // Fed in pieces, as the image encoder feeds bands, so the seams get exercised too.
  constexpr std::size_t kPiece = 1 << 18;
  for (std::size_t at = 0; at < data.size(); at += kPiece) {
    const std::size_t n = std::min(kPiece, data.size() - at);
    std::memcpy(z.input_space(n), data.data() + at, n);
    z.commit(n);
  }
  z.finish();
  const auto out = z.output();
  return {out.begin(), out.end()};
}

std::uint32_t adler32_update(std::uint32_t adler, const std::uint8_t* data, std::size_t size) {
  return png_kernels().adler32(adler, data, size);
}

}  // namespace quorvane::cv
