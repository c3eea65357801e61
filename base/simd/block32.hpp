// 32 bytes in an AVX2 register.
//
// Stamped: included inside a variant's namespace and target region, after
// base/simd/variant.hpp, so that each variant gets its own copy compiled for
// its own target. No include guard.

struct Block32 {
  static constexpr size_t Size = 32;
  using Bits = uint32_t;  // one bit per byte, byte 0 lowest

  // A comparison's outcome per byte: 0xFF where it holds.
  struct Lanes {
    __m256i v;
    Lanes operator|(Lanes o) const { return {_mm256_or_si256(v, o.v)}; }
    Bits bits() const { return static_cast<Bits>(_mm256_movemask_epi8(v)); }
  };

  __m256i v;

  static Block32 load(const void* p) { return {_mm256_loadu_si256(static_cast<const __m256i*>(p))}; }
  static Block32 splat(uint8_t b) { return {_mm256_set1_epi8(static_cast<char>(b))}; }
  void store(void* p) const { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }

  Block32 operator^(Block32 o) const { return {_mm256_xor_si256(v, o.v)}; }
  Block32 operator|(Block32 o) const { return {_mm256_or_si256(v, o.v)}; }
  // The top bit of every byte: where the byte is above 0x7F.
  Bits top_bits() const { return static_cast<Bits>(_mm256_movemask_epi8(v)); }
  Block32 min(Block32 o) const { return {_mm256_min_epu8(v, o.v)}; }
  Lanes operator==(Block32 o) const { return {_mm256_cmpeq_epi8(v, o.v)}; }
  // Unsigned; AVX2 compares are signed, so through the minimum.
  Lanes at_most(Block32 o) const { return {_mm256_cmpeq_epi8(_mm256_min_epu8(v, o.v), v)}; }
};
