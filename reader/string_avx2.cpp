#include "base/simd/variant.hpp"

// The string routines in 32-byte blocks for processors with AVX2; the same
// steps as the portable ones, twice as wide, unescaping 64 bytes per step.
#include "reader/string.hpp"

VELLUM_TARGET_AVX2_BEGIN
namespace vellum::VELLUM_VARIANT(avx2) {
#include "base/simd/block32.hpp"
#include "base/simd/string_specials.hpp"
#include "reader/string_generic.hpp"

const uint8_t* find_stop(const uint8_t* p, const uint8_t* limit, bool& high) {
  if (const uint8_t* stop = find_stop_in_blocks<Block32, 2>(p, limit, high)) return stop;
  return portable::find_stop(p, limit, high);
}

const uint8_t* read_escaped_string(const uint8_t* start, const uint8_t* p, StringToken& out, TextBuffer& buffer,
                                   const ReaderInput& input) {
  return unescape_in_chunks<Block32, 2>(start, p, out, buffer, input);
}

template <>
const StringRoutines& routines<StringRoutines>() {
  static constexpr StringRoutines Table{&find_stop, &read_escaped_string};
  return Table;
}

}  // namespace vellum::VELLUM_VARIANT(avx2)
VELLUM_TARGET_END
