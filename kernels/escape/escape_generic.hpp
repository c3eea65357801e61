// The escaper's block steps, written once over a block type (base/simd) and
// stamped into each form's namespace after the block type, the byte tests and
// the escape table. No include guard.

// The block at `s` has been stored whole at `out`. Writes the escape of every
// byte in `mask` in its place, each followed by the block's bytes after it,
// which `reload(out, done)` stores again from the source. Returns the output
// position after the block's first `size` bytes.
template <class Bits, class Reload>
[[gnu::always_inline]] inline uint8_t* put_escapes(uint8_t* out, const uint8_t* s, Bits mask, size_t size,
                                                   Reload reload) {
  size_t done = 0;
  while (mask != 0) {
    const size_t i = static_cast<size_t>(__builtin_ctzll(mask));
    out = write_escape(out + (i - done), s[i]);
    done = i + 1;
    reload(out, done);
    mask &= mask - 1;
  }
  return out + (size - done);
}

// The n bytes (one to two blocks' worth) copied as two overlapping blocks,
// when none of them needs escaping.
template <class Block>
[[gnu::always_inline]] inline bool copy_if_clean(uint8_t* out, const uint8_t* src, size_t n) {
  const Block pair[2] = {Block::load(src), Block::load(src + n - Block::Size)};
  if (any_string_special(pair)) return false;
  pair[0].store(out);
  pair[1].store(out + n - Block::Size);
  return true;
}

// Whole blocks while at least two remain, so that every reload after an
// escape stays inside the source. Long clean runs are the common case: four
// blocks cost one test.
template <class Block>
[[gnu::always_inline]] inline void escape_blocks(uint8_t*& out, const uint8_t*& s, const uint8_t* end) {
  constexpr size_t B = Block::Size;
  for (;;) {
    const size_t left = static_cast<size_t>(end - s);
    if (left >= 4 * B) {
      const Block four[4] = {Block::load(s), Block::load(s + B), Block::load(s + 2 * B), Block::load(s + 3 * B)};
      if (!any_string_special(four)) {
        for (size_t k = 0; k < 4; ++k) four[k].store(out + k * B);
        s += 4 * B;
        out += 4 * B;
        continue;
      }
    } else if (left < 2 * B) {
      break;
    }
    const Block v = Block::load(s);
    v.store(out);
    const uint8_t* const block = s;
    out = put_escapes(out, block, string_specials(v).bits(), B,
                      [block](uint8_t* o, size_t done) { Block::load(block + done).store(o); });
    s += B;
  }
}
