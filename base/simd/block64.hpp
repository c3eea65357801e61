// 64 bytes in an AVX-512 register; comparisons go to mask registers.
//
// Stamped: included inside a variant's namespace and target region, after
// base/simd/variant.hpp, so that each variant gets its own copy compiled for
// its own target. No include guard. Needs AVX-512BW.

struct Block64 {
  static constexpr size_t Size = 64;
  using Bits = uint64_t;  // one bit per byte, byte 0 lowest

  struct Lanes {
    Bits m;
    Lanes operator|(Lanes o) const { return {m | o.m}; }
    Bits bits() const { return m; }
  };

  __m512i v;

  static Block64 load(const void* p) { return {_mm512_loadu_si512(p)}; }
  // The first r < 64 bytes at p; the other lanes read as zero, and nothing
  // outside the r bytes is touched.
  static Block64 load_first(const void* p, size_t r) {
    return {_mm512_maskz_loadu_epi8(_bzhi_u64(~uint64_t{0}, static_cast<unsigned>(r)), p)};
  }
  static Block64 splat(uint8_t b) { return {_mm512_set1_epi8(static_cast<char>(b))}; }
  void store(void* p) const { _mm512_storeu_si512(p, v); }

  Block64 operator^(Block64 o) const { return {_mm512_xor_si512(v, o.v)}; }
  Block64 operator|(Block64 o) const { return {_mm512_or_si512(v, o.v)}; }
  // The top bit of every byte: where the byte is above 0x7F.
  Bits top_bits() const { return static_cast<Bits>(_mm512_movepi8_mask(v)); }
  Block64 min(Block64 o) const { return {_mm512_min_epu8(v, o.v)}; }
  Lanes operator==(Block64 o) const { return {static_cast<Bits>(_mm512_cmpeq_epi8_mask(v, o.v))}; }
  Lanes at_most(Block64 o) const { return {static_cast<Bits>(_mm512_cmple_epu8_mask(v, o.v))}; }
};
