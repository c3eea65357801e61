#include "reader/number_tables.hpp"

#include <utility>

namespace vellum {

namespace {

using u128 = unsigned __int128;

// Just enough unsigned big-integer arithmetic to run in a constant expression:
// 5^343 needs 797 bits. Loops take the number of words in play.
struct ConstBig {
  static constexpr int Words = 14;
  std::array<uint64_t, Words> w{};

  constexpr int bit_length() const {
    for (int i = Words - 1; i >= 0; --i) {
      if (w[i] != 0) return i * 64 + 64 - std::countl_zero(w[i]);
    }
    return 0;
  }
  constexpr void set_bit(int i) { w[i / 64] |= uint64_t{1} << (i % 64); }
  constexpr void mul_small(uint64_t m) {
    u128 carry = 0;
    for (uint64_t& x : w) {
      carry += static_cast<u128>(x) * m;
      x = static_cast<uint64_t>(carry);
      carry >>= 64;
    }
  }
  constexpr void shl1(int words) {
    for (int i = words - 1; i > 0; --i) w[i] = (w[i] << 1) | (w[i - 1] >> 63);
    w[0] <<= 1;
  }
  constexpr bool less(const ConstBig& o, int words) const {
    for (int i = words - 1; i >= 0; --i) {
      if (w[i] != o.w[i]) return w[i] < o.w[i];
    }
    return false;
  }
  constexpr void sub(const ConstBig& o, int words) {
    uint64_t borrow = 0;
    for (int i = 0; i < words; ++i) {
      uint64_t a = w[i], b = o.w[i];
      w[i] = a - b - borrow;
      borrow = (a < b || (a == b && borrow)) ? 1 : 0;
    }
  }
  // The top 128 bits, shifted up when the number is shorter, truncated otherwise.
  constexpr u128 top128() const {
    int len = bit_length();
    u128 r = 0;
    for (int i = (len - 1) / 64; i >= 0; --i) {
      int shift = 128 - len + 64 * i;  // where word i lands relative to bit 0 of r
      if (shift >= 128 || shift <= -64) continue;
      r |= shift >= 0 ? static_cast<u128>(w[i]) << shift : static_cast<u128>(w[i] >> -shift);
    }
    return r;
  }
};

// 10^e = 5^e * 2^e, so only powers of five need exact arithmetic: for e >= 0 the
// entry is the top of 5^e; for e < 0 it is floor(2^(L+127) / 5^-e), L the bit
// length of 5^-e, found by 128 steps of binary long division. The work is split
// into chunks of n = |e| because each constant expression has its own budget.
constexpr int ChunkSize = 32;
constexpr int ChunkCount = -WidePowerMin / ChunkSize + 1;

struct Chunk {
  std::array<WidePower, ChunkSize> positive{};  // e = n
  std::array<WidePower, ChunkSize> negative{};  // e = -n
  bool exponents_match = true;  // floor_log2_pow10 agrees with the exact binary exponent
};

constexpr Chunk generate_chunk(int first) {
  Chunk c;
  ConstBig five{};
  five.w[0] = 1;
  for (int n = 0; n < first; ++n) five.mul_small(5);
  for (int n = first; n < first + ChunkSize && n <= -WidePowerMin; ++n, five.mul_small(5)) {
    int len = five.bit_length();
    if (n <= WidePowerMax) {
      u128 top = five.top128();
      c.positive[n - first] = {static_cast<uint64_t>(top >> 64), static_cast<uint64_t>(top)};
      if (floor_log2_pow10(n) != n + len - 1) c.exponents_match = false;
    }
    if (n == 0) continue;
    int words = len / 64 + 1;
    ConstBig r{};
    r.set_bit(len - 1);
    u128 q = 0;
    for (int i = 0; i < 128; ++i) {
      r.shl1(words);
      q <<= 1;
      if (!r.less(five, words)) {
        r.sub(five, words);
        q |= 1;
      }
    }
    c.negative[n - first] = {static_cast<uint64_t>(q >> 64), static_cast<uint64_t>(q)};
    if (floor_log2_pow10(-n) != -len - n) c.exponents_match = false;
  }
  return c;
}

template <int I>
struct ChunkHolder {
  static constexpr Chunk value = generate_chunk(I * ChunkSize);
};

template <int... I>
constexpr std::array<Chunk, sizeof...(I)> collect_chunks(std::integer_sequence<int, I...>) {
  return {ChunkHolder<I>::value...};
}

constexpr std::array<Chunk, ChunkCount> Chunks =
    collect_chunks(std::make_integer_sequence<int, ChunkCount>{});

struct Generated {
  std::array<WidePower, WidePowerCount> table{};
  bool exponents_match = true;
};

constexpr Generated assemble() {
  Generated g;
  for (int n = 0; n <= -WidePowerMin; ++n) {
    const Chunk& c = Chunks[n / ChunkSize];
    if (!c.exponents_match) g.exponents_match = false;
    if (n <= WidePowerMax) g.table[n - WidePowerMin] = c.positive[n % ChunkSize];
    if (n > 0) g.table[-n - WidePowerMin] = c.negative[n % ChunkSize];
  }
  return g;
}

constexpr Generated Tables = assemble();
static_assert(Tables.exponents_match);

constexpr bool all_normalized_and_roundable() {
  for (const WidePower& p : Tables.table) {
    if ((p.hi >> 63) == 0) return false;
    // The estimate tier rounds the entry to its upper word; that must not overflow.
    if (p.hi == ~uint64_t{0}) return false;
  }
  return true;
}
static_assert(all_normalized_and_roundable());
// Spot checks: 10^0 is 2^127 scaled; 10^1 is 0xA0...; 10^-1 is 0xCC...CC truncated.
static_assert(Tables.table[0 - WidePowerMin].hi == uint64_t{1} << 63);
static_assert(Tables.table[0 - WidePowerMin].lo == 0);
static_assert(Tables.table[1 - WidePowerMin].hi == 0xA000000000000000);
static_assert(Tables.table[-1 - WidePowerMin].hi == 0xCCCCCCCCCCCCCCCC);
static_assert(Tables.table[-1 - WidePowerMin].lo == 0xCCCCCCCCCCCCCCCC);

}  // namespace

constinit const std::array<WidePower, WidePowerCount> WidePowers = Tables.table;

}  // namespace vellum
