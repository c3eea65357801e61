// 16 bytes in an SSE2 register.
//
// Stamped: included inside the namespace of the code that uses it, after the
// intrinsics (base/simd/variant.hpp or <emmintrin.h>), so that each form of a
// routine gets its own copy compiled for its own target. No include guard.

struct Block16 {
  static constexpr size_t Size = 16;
  using Bits = uint32_t;  // one bit per byte, byte 0 lowest

  // A comparison's outcome per byte: 0xFF where it holds.
  struct Lanes {
    __m128i v;
    Lanes operator|(Lanes o) const { return {_mm_or_si128(v, o.v)}; }
    Bits bits() const { return static_cast<Bits>(_mm_movemask_epi8(v)); }
  };

  __m128i v;

  static Block16 load(const void* p) { return {_mm_loadu_si128(static_cast<const __m128i*>(p))}; }
  static Block16 splat(uint8_t b) { return {_mm_set1_epi8(static_cast<char>(b))}; }
  void store(void* p) const { _mm_storeu_si128(static_cast<__m128i*>(p), v); }

  Block16 operator^(Block16 o) const { return {_mm_xor_si128(v, o.v)}; }
  Block16 operator|(Block16 o) const { return {_mm_or_si128(v, o.v)}; }
  // The top bit of every byte: where the byte is above 0x7F.
  Bits top_bits() const { return static_cast<Bits>(_mm_movemask_epi8(v)); }
  Block16 min(Block16 o) const { return {_mm_min_epu8(v, o.v)}; }
  Lanes operator==(Block16 o) const { return {_mm_cmpeq_epi8(v, o.v)}; }
  // Unsigned; SSE2 compares are signed, so through the minimum.
  Lanes at_most(Block16 o) const { return {_mm_cmpeq_epi8(_mm_min_epu8(v, o.v), v)}; }

  // Bytes as counters: lanes that wrap, a signed comparison that gives 0xFF
  // (minus one) where it holds, and the total of every lane.
  static Block16 zero() { return {_mm_setzero_si128()}; }
  Block16 operator&(Block16 o) const { return {_mm_and_si128(v, o.v)}; }
  Block16 operator-(Block16 o) const { return {_mm_sub_epi8(v, o.v)}; }
  Block16 greater(Block16 o) const { return {_mm_cmpgt_epi8(v, o.v)}; }
  uint64_t byte_total() const { return sum64(_mm_sad_epu8(v, _mm_setzero_si128())); }
  static uint64_t byte_total(Block16 a, Block16 b) {
    return sum64(_mm_add_epi64(_mm_sad_epu8(a.v, _mm_setzero_si128()), _mm_sad_epu8(b.v, _mm_setzero_si128())));
  }

 private:
  static uint64_t sum64(__m128i s) {
    return static_cast<uint64_t>(_mm_cvtsi128_si64(s) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(s, s)));
  }
};
