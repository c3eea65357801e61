// The string scan and the unescaping loop, written once over a block type
// (base/simd) and stamped into each form's namespace after the block type
// and the byte tests. No include guard.

// The first stop in whole groups of `Group` blocks, then in single blocks,
// with `high` set when a byte above 0x7F lies before it. Returns null, with
// `p` at the first byte not scanned, when fewer than a block's bytes remain
// before `limit` and none of them was a stop.
template <class Block, size_t Group>
[[gnu::always_inline]] inline const uint8_t* find_stop_in_blocks(const uint8_t*& p, const uint8_t* limit,
                                                                 bool& high) {
  constexpr size_t B = Block::Size;
  using Bits = typename Block::Bits;
  // The blocks passed whole, ORed: their top bits tell at the end.
  Block seen = Block::splat(0);
  auto stop_in = [&](const Block& block, Bits stops, const uint8_t* at) {
    const unsigned offset = static_cast<unsigned>(__builtin_ctzll(stops));
    const Bits before = (Bits{1} << offset) - 1;
    high |= (seen.top_bits() | (block.top_bits() & before)) != 0;
    return at + offset;
  };
  // A group that holds a stop is left to the single blocks below: keeping
  // its blocks' tests for the search would hold more registers than the
  // narrow forms have, and spill in the loop that runs over every group.
  while (static_cast<size_t>(limit - p) >= Group * B) {
    Block group[Group];
    for (size_t k = 0; k < Group; ++k) group[k] = Block::load(p + k * B);
    if (any_string_special(group)) break;
    for (size_t k = 0; k < Group; ++k) seen = seen | group[k];
    p += Group * B;
  }
  while (static_cast<size_t>(limit - p) >= B) {
    const Block block = Block::load(p);
    if (const Bits stops = string_specials(block).bits(); stops != 0) return stop_in(block, stops, p);
    seen = seen | block;
    p += B;
  }
  high |= seen.top_bits() != 0;
  return nullptr;
}

// Copies the run [src, src + n), shorter than a chunk, to `dst` in whole
// blocks: the output buffer keeps room past its end, and a chunk's worth is
// readable at `src`. The first block goes whatever n is: runs between
// escapes are mostly short, and one store costs less than a branch that
// the lengths keep missing.
template <class Block>
[[gnu::always_inline]] inline void copy_run(uint8_t* dst, const uint8_t* src, size_t n) {
  size_t k = 0;
  do {
    Block::load(src + k).store(dst + k);
    k += Block::Size;
  } while (k < n);
}

// Whether the `n` bytes at `p` hold one above 0x7F: whole blocks ORed, then
// words, then bytes, so that nothing past the text is read.
template <class Block>
[[gnu::always_inline]] inline bool has_high_byte(const uint8_t* p, size_t n) {
  Block seen = Block::splat(0);
  size_t i = 0;
  for (; n - i >= Block::Size; i += Block::Size) seen = seen | Block::load(p + i);
  uint64_t word = 0;
  for (; n - i >= 8; i += 8) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    word |= w;
  }
  for (; i < n; ++i) word |= p[i];
  return (seen.top_bits() | (word & 0x8080808080808080)) != 0;
}

// Unescapes from the first backslash `p` into the text buffer, a chunk of `N`
// blocks at a time; the stop mask of a chunk stays valid while its escapes
// are taken one by one, since the source is never written.
template <class Block, size_t N>
[[gnu::always_inline]] inline const uint8_t* unescape_chunks(const uint8_t* start, const uint8_t* p,
                                                             StringToken& out, TextBuffer& buffer,
                                                             const ReaderInput& input) {
  using namespace string_detail;
  constexpr size_t Chunk = N * Block::Size;
  static_assert(Chunk <= 64, "one 64-bit stop mask per chunk");
  static_assert(2 * Chunk + 16 <= UnescapeSlack, "a chunk, a block past it and an escape's output fit the slack");
  if (!start_unescaping(start, p, buffer, input)) return nullptr;
  const uint8_t* src = p;
  size_t written = static_cast<size_t>(p - start);
  {
    uint8_t* dst = buffer.data() + written;
    if (!take_escape(src, dst, input)) return nullptr;
    written = static_cast<size_t>(dst - buffer.data());
  }
  for (;;) {
    if (buffer.capacity() - written < UnescapeSlack && !buffer.reserve(written + UnescapeSlack, written)) {
      input.fail(ReadErrorCode::OutOfMemory, "memory allocation failed", start - 1);
      return nullptr;
    }
    // Two chunks readable: the run copy of the chunk's last stop reads on.
    if (static_cast<size_t>(input.limit - src) < 2 * Chunk) return unescape_bytewise(start, src, written, out, buffer, input);
    uint8_t* const text = buffer.data();
    uint8_t* dst = text + written;
    const uint8_t* const base = src;
    Block blocks[N];
    uint64_t mask = 0;
    for (size_t k = 0; k < N; ++k) {
      blocks[k] = Block::load(base + k * Block::Size);
      mask |= uint64_t{string_specials(blocks[k]).bits()} << (k * Block::Size);
    }
    if (mask == 0) {
      for (size_t k = 0; k < N; ++k) blocks[k].store(dst + k * Block::Size);
      written += Chunk;
      src += Chunk;
      continue;
    }
    for (;;) {
      const uint8_t* const stop = base + __builtin_ctzll(mask);
      const size_t run = static_cast<size_t>(stop - src);
      copy_run<Block>(dst, src, run);
      dst += run;
      src = stop;
      if (*src != '\\') return end_escaped(src, static_cast<size_t>(dst - text), out, buffer, input);
      if (!take_escape(src, dst, input)) return nullptr;
      const size_t offset = static_cast<size_t>(src - base);
      if (offset >= Chunk) break;
      mask &= ~uint64_t{0} << offset;
      if (mask == 0) break;
    }
    written = static_cast<size_t>(dst - text);
  }
}

// Unescapes as unescape_chunks does, then tells whether the text is ASCII
// from the unescaped bytes, which are in the cache: one OR per block costs
// far less downstream than validating and measuring every escaped text as
// UTF-8, and it sees the raw bytes and the \u escapes' output alike.
template <class Block, size_t N>
const uint8_t* unescape_in_chunks(const uint8_t* start, const uint8_t* p, StringToken& out, TextBuffer& buffer,
                                  const ReaderInput& input) {
  const uint8_t* const next = unescape_chunks<Block, N>(start, p, out, buffer, input);
  if (next != nullptr) out.ascii = !has_high_byte<Block>(out.text, out.length);
  return next;
}
