// The character count in whole blocks, written once over a block type
// (base/simd) and stamped into each form's namespace after the block type.
// No include guard.

// Lane j of the block at TailLanes<Block>.data() + r is 0xFF exactly when
// j >= Block::Size - r: the last r lanes of a block that ends at the end of
// the input.
template <class Block>
alignas(2 * Block::Size) inline constexpr std::array<uint8_t, 2 * Block::Size> TailLanes = [] {
  std::array<uint8_t, 2 * Block::Size> lanes{};
  for (size_t j = Block::Size; j < 2 * Block::Size; ++j) lanes[j] = 0xFF;
  return lanes;
}();

// At least one block. Continuation bytes are exactly those below -64 as
// signed bytes, so each lane counter gains one per character start; it is
// flushed before it can wrap, and two counters hide the latency of the adds.
template <class Block>
[[gnu::always_inline]] inline size_t count_starts_in_blocks(const uint8_t* p, size_t n) {
  constexpr size_t B = Block::Size;
  const Block floor = Block::splat(0xBF);  // -65
  size_t total = 0, i = 0;
  while (n - i >= B) {
    const size_t steps = (n - i) / B < 2 * 255 ? (n - i) / B : 2 * 255;
    Block even = Block::zero(), odd = Block::zero();
    size_t k = 0;
    for (; k + 2 <= steps; k += 2, i += 2 * B) {
      even = even - Block::load(p + i).greater(floor);
      odd = odd - Block::load(p + i + B).greater(floor);
    }
    if (k < steps) {
      even = even - Block::load(p + i).greater(floor);
      i += B;
    }
    total += Block::byte_total(even, odd);
  }
  if (i < n) {
    // The last block, keeping only the lanes not counted yet.
    const Block starts = Block::load(p + n - B).greater(floor) & Block::load(TailLanes<Block>.data() + (n - i));
    total += (Block::zero() - starts).byte_total();
  }
  return total;
}
