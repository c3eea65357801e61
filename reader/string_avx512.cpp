#include "base/simd/variant.hpp"

// The scan for long strings in 64-byte blocks for processors with AVX-512BW:
// the tests go straight to mask registers, which leaves the vector ports
// free.
#include "reader/string.hpp"

// The AVX2 form's unescaping goes with it.
namespace vellum::VELLUM_VARIANT(avx2) {
uint8_t* read_escaped_string(uint8_t* start, uint8_t* p, JsonValue& out, const InputCopy& copy);
}

VELLUM_TARGET_AVX512_BEGIN
namespace vellum::VELLUM_VARIANT(avx512) {
#include "base/simd/block64.hpp"
#include "base/simd/string_specials.hpp"
#include "reader/string_generic.hpp"

uint8_t* find_stop(uint8_t* p, const uint8_t* tail_end) {
  if (uint8_t* stop = find_stop_in_blocks<Block64, 2>(p, tail_end)) return stop;
  // Lanes past the end are left out of the load and read as zero, a stop.
  return p + __builtin_ctzll(string_specials(Block64::load_first(p, static_cast<size_t>(tail_end - p))).bits());
}

template <>
const StringRoutines& routines<StringRoutines>() {
  static constexpr StringRoutines Table{&find_stop, &VELLUM_VARIANT(avx2)::read_escaped_string};
  return Table;
}

}  // namespace vellum::VELLUM_VARIANT(avx512)
VELLUM_TARGET_END
