#include "base/simd/variant.hpp"

// The scan for long strings in 64-byte blocks for processors with AVX-512BW:
// the tests go straight to mask registers, which leaves the vector ports
// free.
#include "reader/string.hpp"

// The AVX2 form's unescaping goes with it.
namespace vellum::VELLUM_VARIANT(avx2) {
const uint8_t* read_escaped_string(const uint8_t* start, const uint8_t* p, StringToken& out, TextBuffer& buffer,
                                   const ReaderInput& input);
}

VELLUM_TARGET_AVX512_BEGIN
namespace vellum::VELLUM_VARIANT(avx512) {
#include "base/simd/block64.hpp"
#include "base/simd/string_specials.hpp"
#include "reader/string_generic.hpp"

const uint8_t* find_stop(const uint8_t* p, const uint8_t* limit, bool& high) {
  if (const uint8_t* stop = find_stop_in_blocks<Block64, 2>(p, limit, high)) return stop;
  // Lanes at or past the limit are left out of the load and read as zero, a
  // stop; the zero byte at the text's end comes first.
  const Block64 block = Block64::load_first(p, static_cast<size_t>(limit - p));
  const unsigned offset = static_cast<unsigned>(__builtin_ctzll(string_specials(block).bits()));
  high |= (block.top_bits() & ((uint64_t{1} << offset) - 1)) != 0;
  return p + offset;
}

template <>
const StringRoutines& routines<StringRoutines>() {
  static constexpr StringRoutines Table{&find_stop, &VELLUM_VARIANT(avx2)::read_escaped_string};
  return Table;
}

}  // namespace vellum::VELLUM_VARIANT(avx512)
VELLUM_TARGET_END
