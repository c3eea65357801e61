// The power-of-ten significands, computed at compile time with exact big
// integers so that no hand-copied constant can be wrong: one generator for
// the truncated table and the rounded-up one derived from it.
#include "kernels/number/pow10_table.hpp"

#include <utility>

#include "kernels/number/bigint.hpp"

namespace vellum::number {
namespace {

using u128 = unsigned __int128;

constexpr Pow10Significand split(u128 v) { return {static_cast<uint64_t>(v >> 64), static_cast<uint64_t>(v)}; }

// 10^e = 5^e * 2^e, so only powers of five need exact arithmetic: for e >= 0
// the significand is the top of 5^e; for e < 0 it is floor(2^(L+127) / 5^-e),
// L the bit length of 5^-e, found by 128 steps of binary long division. The
// work is split into chunks of n = |e| because each constant expression has
// its own budget.
constexpr int ChunkSize = 32;
constexpr int ChunkCount = -TruncatedPow10Min / ChunkSize + 1;

struct Chunk {
  Pow10Significand positive[ChunkSize]{};  // e = n
  Pow10Significand negative[ChunkSize]{};  // e = -n
  bool exponents_match = true;              // floor_log2_pow10 agrees with the exact binary exponent
};

constexpr Chunk generate_chunk(int first) {
  Chunk c;
  BigNumber five{};
  five.assign(1);
  for (int n = 0; n < first; ++n) (void)five.mul_add(5, 0);
  for (int n = first; n < first + ChunkSize && n <= -TruncatedPow10Min; ++n, (void)five.mul_add(5, 0)) {
    const int len = static_cast<int>(five.bit_length());
    if (n <= TruncatedPow10Max) {
      c.positive[n - first] = {five.bits_at(len - 64), five.bits_at(len - 128)};
      if (floor_log2_pow10(n) != n + len - 1) c.exponents_match = false;
    }
    if (n == 0) continue;
    BigNumber r{};
    r.assign(1);
    (void)r.shift_left(static_cast<uint64_t>(len - 1));
    u128 q = 0;
    for (int i = 0; i < 128; ++i) {
      (void)r.shift_left(1);
      q <<= 1;
      if (compare(r, five) >= 0) {
        r.subtract(five);
        q |= 1;
      }
    }
    c.negative[n - first] = split(q);
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

constexpr std::array<Chunk, ChunkCount> Chunks = collect_chunks(std::make_integer_sequence<int, ChunkCount>{});

struct Generated {
  std::array<Pow10Significand, TruncatedPow10Max - TruncatedPow10Min + 1> table{};
  bool exponents_match = true;
};

constexpr Generated assemble() {
  Generated g;
  for (int n = 0; n <= -TruncatedPow10Min; ++n) {
    const Chunk& c = Chunks[n / ChunkSize];
    if (!c.exponents_match) g.exponents_match = false;
    if (n <= TruncatedPow10Max) g.table[n - TruncatedPow10Min] = c.positive[n % ChunkSize];
    if (n > 0) g.table[-n - TruncatedPow10Min] = c.negative[n % ChunkSize];
  }
  return g;
}

constexpr Generated Truncated = assemble();
static_assert(Truncated.exponents_match);

constexpr bool all_normalized_and_roundable() {
  for (const Pow10Significand& p : Truncated.table) {
    if ((p.hi >> 63) == 0) return false;
    // The parser's estimate rounds the entry to its upper word, and the
    // rounded-up table adds one: neither may overflow.
    if (p.hi == ~uint64_t{0}) return false;
  }
  return true;
}
static_assert(all_normalized_and_roundable());
// Spot checks: 10^0 is 2^127 scaled; 10^1 is 0xA0...; 10^-1 is 0xCC...CC truncated.
static_assert(Truncated.table[0 - TruncatedPow10Min].hi == uint64_t{1} << 63);
static_assert(Truncated.table[0 - TruncatedPow10Min].lo == 0);
static_assert(Truncated.table[1 - TruncatedPow10Min].hi == 0xA000000000000000);
static_assert(Truncated.table[-1 - TruncatedPow10Min].hi == 0xCCCCCCCCCCCCCCCC);
static_assert(Truncated.table[-1 - TruncatedPow10Min].lo == 0xCCCCCCCCCCCCCCCC);

static_assert(TruncatedPow10Min <= RoundedPow10Min && RoundedPow10Max <= TruncatedPow10Max);

constexpr std::array<Pow10Significand, RoundedPow10Max - RoundedPow10Min + 1> round_up() {
  std::array<Pow10Significand, RoundedPow10Max - RoundedPow10Min + 1> t{};
  for (int e = RoundedPow10Min; e <= RoundedPow10Max; ++e) {
    const Pow10Significand& p = Truncated.table[e - TruncatedPow10Min];
    t[e - RoundedPow10Min] = split((static_cast<u128>(p.hi) << 64 | p.lo) + 1);
  }
  return t;
}

}  // namespace

constinit const std::array<Pow10Significand, TruncatedPow10Max - TruncatedPow10Min + 1> pow10_truncated =
    Truncated.table;
constinit const std::array<Pow10Significand, RoundedPow10Max - RoundedPow10Min + 1> pow10_rounded_up = round_up();

}  // namespace vellum::number
