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

  // Bytes as counters: lanes that wrap, a signed comparison that gives 0xFF
  // (minus one) where it holds, and the total of every lane.
  static Block32 zero() { return {_mm256_setzero_si256()}; }
  Block32 operator&(Block32 o) const { return {_mm256_and_si256(v, o.v)}; }
  Block32 operator-(Block32 o) const { return {_mm256_sub_epi8(v, o.v)}; }
  Block32 greater(Block32 o) const { return {_mm256_cmpgt_epi8(v, o.v)}; }
  uint64_t byte_total() const { return sum64(_mm256_sad_epu8(v, _mm256_setzero_si256())); }
  static uint64_t byte_total(Block32 a, Block32 b) {
    return sum64(
        _mm256_add_epi64(_mm256_sad_epu8(a.v, _mm256_setzero_si256()), _mm256_sad_epu8(b.v, _mm256_setzero_si256())));
  }

 private:
  static uint64_t sum64(__m256i s) {
    const __m128i h = _mm_add_epi64(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
    return static_cast<uint64_t>(_mm_cvtsi128_si64(h) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(h, h)));
  }
};
