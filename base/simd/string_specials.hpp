// The byte test that string escaping and the reader's string scan share: a
// byte a JSON string cannot hold as it is (a control byte, '"' or '\'),
// written once over the block types of base/simd/block*.hpp.
//
// Stamped after a block type, inside the same namespace. No include guard.

// Flipping bit 1 keeps 0x00-0x1F among themselves and moves '"' (0x22) to
// 0x20, so one unsigned "at most 0x20" covers both.
template <class Block>
[[gnu::always_inline]] inline typename Block::Lanes string_specials(Block b) {
  return (b ^ Block::splat(0x02)).at_most(Block::splat(0x20)) | (b == Block::splat('\\'));
}

// Whether any of the blocks holds such a byte; one "at most" test serves
// them all, through their minimum.
template <class Block, size_t N>
[[gnu::always_inline]] inline bool any_string_special(const Block (&blocks)[N]) {
  const Block flip = Block::splat(0x02), backslash = Block::splat('\\');
  Block low = blocks[0] ^ flip;
  typename Block::Lanes lanes = blocks[0] == backslash;
  for (size_t k = 1; k < N; ++k) {
    low = low.min(blocks[k] ^ flip);
    lanes = lanes | (blocks[k] == backslash);
  }
  return (lanes | low.at_most(Block::splat(0x20))).bits() != 0;
}

// The first such byte among the blocks, as an offset from the first block;
// the blocks must hold one.
template <class Block, size_t N>
[[gnu::always_inline]] inline size_t first_string_special(const Block (&blocks)[N]) {
  for (size_t k = 0; k + 1 < N; ++k) {
    if (const auto bits = string_specials(blocks[k]).bits(); bits != 0)
      return k * Block::Size + static_cast<size_t>(__builtin_ctzll(bits));
  }
  return (N - 1) * Block::Size + static_cast<size_t>(__builtin_ctzll(string_specials(blocks[N - 1]).bits()));
}
