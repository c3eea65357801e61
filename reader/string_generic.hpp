// The string scan and the unescaping loop, written once over a block type
// (base/simd) and stamped into each form's namespace after the block type
// and the byte tests. No include guard.

// The first stop in whole groups of `Group` blocks, then in single blocks.
// Returns null, with `p` at the first byte not scanned, when fewer than a
// block's bytes remain before `tail_end` and none of them was a stop.
template <class Block, size_t Group>
[[gnu::always_inline]] inline uint8_t* find_stop_in_blocks(uint8_t*& p, const uint8_t* tail_end) {
  constexpr size_t B = Block::Size;
  while (static_cast<size_t>(tail_end - p) >= Group * B) {
    Block group[Group];
    for (size_t k = 0; k < Group; ++k) group[k] = Block::load(p + k * B);
    if (any_string_special(group)) return p + first_string_special(group);
    p += Group * B;
  }
  while (static_cast<size_t>(tail_end - p) >= B) {
    if (const auto bits = string_specials(Block::load(p)).bits(); bits != 0) return p + __builtin_ctzll(bits);
    p += B;
  }
  return nullptr;
}

// Moves the run [src, src + n), shorter than a chunk, down to `dst`; a chunk
// is readable at `src`. Once unescaping has shrunk the text by a block or
// more, whole blocks land on bytes already consumed, whatever they carry past
// the run: each store ends at or before the source position of its load.
template <class Block>
[[gnu::always_inline]] inline void copy_run(uint8_t* dst, const uint8_t* src, size_t n) {
  if (static_cast<size_t>(src - dst) >= Block::Size) [[likely]] {
    size_t k = 0;
    do {
      Block::load(src + k).store(dst + k);
      k += Block::Size;
    } while (k < n);
    return;
  }
  string_detail::move_down(dst, src, n);
}

// Every escape's output is shorter than its source, so after the first one
// the output stays strictly behind the source; bytes at or after the source
// are never written, and the stop mask of a chunk (`N` blocks) stays valid
// while its escapes are taken one by one.
template <class Block, size_t N>
uint8_t* unescape_in_chunks(uint8_t* start, uint8_t* p, JsonValue& out, const InputCopy& copy) {
  using namespace string_detail;
  constexpr size_t Chunk = N * Block::Size;
  static_assert(Chunk <= 64, "one 64-bit stop mask per chunk");
  uint8_t* src = p;
  uint8_t* dst = p;
  if (!take_escape(src, dst, copy)) return nullptr;
  for (;;) {
    // Two chunks readable: the run copy of the chunk's last stop reads on.
    if (static_cast<size_t>(copy.tail_end - src) < 2 * Chunk)
      return unescape_bytewise(start, src, dst, out, copy);
    uint8_t* const base = src;
    Block blocks[N];
    uint64_t mask = 0;
    for (size_t k = 0; k < N; ++k) {
      blocks[k] = Block::load(base + k * Block::Size);
      mask |= uint64_t{string_specials(blocks[k]).bits()} << (k * Block::Size);
    }
    if (mask == 0) {
      // Overwrites only bytes of this chunk, which are already loaded.
      for (size_t k = 0; k < N; ++k) blocks[k].store(dst + k * Block::Size);
      dst += Chunk;
      src += Chunk;
      continue;
    }
    for (;;) {
      uint8_t* const stop = base + __builtin_ctzll(mask);
      const size_t run = static_cast<size_t>(stop - src);
      copy_run<Block>(dst, src, run);
      dst += run;
      src = stop;
      if (*src != '\\') return end_escaped(start, src, dst, out, copy);
      if (!take_escape(src, dst, copy)) return nullptr;
      const size_t offset = static_cast<size_t>(src - base);
      if (offset >= Chunk) break;
      mask &= ~uint64_t{0} << offset;
      if (mask == 0) break;
    }
  }
}
