#include "reader/string.hpp"

#include <emmintrin.h>

#include "src/cpu_features.hpp"

namespace vellum::string_detail {
namespace {

// 0-15 for hex digits, 0xF0 for anything else, so that one OR over four
// looked-up digits shows a bad one in its high nibble.
inline constexpr std::array<uint8_t, 256> hex_value = [] {
  std::array<uint8_t, 256> table{};
  for (unsigned c = 0; c < 256; ++c) {
    if (c >= '0' && c <= '9') table[c] = static_cast<uint8_t>(c - '0');
    else if (c >= 'a' && c <= 'f') table[c] = static_cast<uint8_t>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') table[c] = static_cast<uint8_t>(c - 'A' + 10);
    else table[c] = 0xF0;
  }
  return table;
}();

// The four hex digits at `p` as a code unit, or a value above 0xFFFF.
inline uint32_t hex_unit(const uint8_t* p) {
  const uint32_t a = hex_value[p[0]], b = hex_value[p[1]], c = hex_value[p[2]], d = hex_value[p[3]];
  if (((a | b | c | d) & 0xF0) != 0) return 0x10000;
  return (a << 12) | (b << 8) | (c << 4) | d;
}

inline uint8_t* write_utf8(uint8_t* out, uint32_t cp) {
  if (cp < 0x80) {
    *out = static_cast<uint8_t>(cp);
    return out + 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<uint8_t>(0xC0 | (cp >> 6));
    out[1] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    return out + 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<uint8_t>(0xE0 | (cp >> 12));
    out[1] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    return out + 3;
  }
  out[0] = static_cast<uint8_t>(0xF0 | (cp >> 18));
  out[1] = static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
  return out + 4;
}

inline __m128i load16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void store16(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// 0xFF in every lane that stops a scan. Flipping bit 1 leaves 0x00-0x1F where
// they are and moves '"' to 0x20, so one unsigned "at most 0x20" covers both.
inline __m128i stops_of(__m128i v) {
  const __m128i flipped = _mm_xor_si128(v, _mm_set1_epi8(0x02));
  const __m128i low = _mm_cmpeq_epi8(_mm_min_epu8(flipped, _mm_set1_epi8(0x20)), flipped);
  return _mm_or_si128(low, _mm_cmpeq_epi8(v, _mm_set1_epi8('\\')));
}

inline uint32_t mask_of(__m128i stops) { return static_cast<uint32_t>(_mm_movemask_epi8(stops)); }

// Moves the run [src, src + n), n < 16, down to `dst`; 16 bytes at `src` are
// readable. Once unescaping has shrunk the text by 16 bytes or more, a whole
// block lands on bytes already consumed, whatever it carries past the run.
inline void copy_run(uint8_t* dst, const uint8_t* src, size_t n) {
  if (src - dst >= 16) store16(dst, load16(src));
  else move_short(dst, src, n);
}

void install_selected() {
  const StringRoutines routines = select_routines();
  active_find_stop.store(routines.find_stop, std::memory_order_relaxed);
  active_unescape.store(routines.unescape, std::memory_order_relaxed);
}

uint8_t* find_stop_first(uint8_t* p, const uint8_t* tail_end) {
  install_selected();
  return active_find_stop.load(std::memory_order_relaxed)(p, tail_end);
}

uint8_t* unescape_first(uint8_t* start, uint8_t* p, const uint8_t* tail_end, JsonValue& out,
                        StringFailure& failure) {
  install_selected();
  return active_unescape.load(std::memory_order_relaxed)(start, p, tail_end, out, failure);
}

}  // namespace

constinit std::atomic<FindStopRoutine> active_find_stop{&find_stop_first};
constinit std::atomic<UnescapeRoutine> active_unescape{&unescape_first};

StringRoutines select_routines() {
  if (cpu::has(cpu::Avx2) && cpu::has(cpu::Avx512Vl)) return {&avx512::find_stop, &avx2::read_escaped_string};
  if (cpu::has(cpu::Avx2)) return {&avx2::find_stop, &avx2::read_escaped_string};
  return PortableRoutines;
}

uint8_t* find_stop(uint8_t* p, const uint8_t* tail_end) {
  while (tail_end - p >= 64) {
    const __m128i a = stops_of(load16(p)), b = stops_of(load16(p + 16));
    const __m128i c = stops_of(load16(p + 32)), d = stops_of(load16(p + 48));
    if (mask_of(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d))) != 0) {
      const uint64_t mask = mask_of(a) | mask_of(b) << 16 | uint64_t{mask_of(c)} << 32 |
                            uint64_t{mask_of(d)} << 48;
      return p + __builtin_ctzll(mask);
    }
    p += 64;
  }
  while (tail_end - p >= 16) {
    const uint32_t mask = mask_of(stops_of(load16(p)));
    if (mask != 0) return p + __builtin_ctz(mask);
    p += 16;
  }
  while (!has_class(*p, char_class::StringStop)) ++p;
  return p;
}

uint8_t* unescape_other(uint8_t* src, uint8_t*& dst, StringFailure& failure) {
  // src is at a backslash. Its successor is non-zero only inside the input,
  // so the four digits after "\u" lie within the zero tail at the latest.
  if (src[1] != 'u') {
    failure = {"invalid escaped character in string", src + 1};
    return nullptr;
  }
  const uint32_t unit = hex_unit(src + 2);
  if (unit > 0xFFFF) {
    failure = {"invalid escaped sequence in string", src};
    return nullptr;
  }
  if (unit < 0xD800 || unit > 0xDFFF) {
    dst = write_utf8(dst, unit);
    return src + 6;
  }
  if (unit >= 0xDC00) {
    failure = {"invalid high surrogate in string", src};
    return nullptr;
  }
  if (src[6] != '\\' || src[7] != 'u') {
    failure = {"no low surrogate in string", src + 6};
    return nullptr;
  }
  const uint32_t low = hex_unit(src + 8);
  if (low > 0xFFFF) {
    failure = {"invalid escaped sequence in string", src + 6};
    return nullptr;
  }
  if (low < 0xDC00 || low > 0xDFFF) {
    failure = {"invalid low surrogate in string", src + 6};
    return nullptr;
  }
  dst = write_utf8(dst, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
  return src + 12;
}

uint8_t* unescape_bytewise(uint8_t* start, uint8_t* src, uint8_t* dst, JsonValue& out,
                           StringFailure& failure) {
  for (;;) {
    while (!has_class(*src, char_class::StringStop)) *dst++ = *src++;
    if (*src != '\\') return end_escaped(start, src, dst, out, failure);
    if (!take_escape(src, dst, failure)) return nullptr;
  }
}

// Every escape output is shorter than its source, so after the first one the
// output stays strictly behind the source; bytes at or after the source are
// never written, and the stop mask of a block stays valid while its escapes
// are taken one by one.
uint8_t* read_escaped_string(uint8_t* start, uint8_t* p, const uint8_t* tail_end, JsonValue& out,
                             StringFailure& failure) {
  uint8_t* src = p;
  uint8_t* dst = p;
  if (!take_escape(src, dst, failure)) return nullptr;
  for (;;) {
    // Two blocks readable: the run copy of the block's last stop reads on.
    if (tail_end - src < 32) return unescape_bytewise(start, src, dst, out, failure);
    uint8_t* const base = src;
    const __m128i block = load16(base);
    uint32_t mask = mask_of(stops_of(block));
    if (mask == 0) {
      // Overwrites only bytes of this block, which are already loaded.
      store16(dst, block);
      dst += 16;
      src += 16;
      continue;
    }
    for (;;) {
      uint8_t* const stop = base + __builtin_ctz(mask);
      const size_t run = static_cast<size_t>(stop - src);
      copy_run(dst, src, run);
      dst += run;
      src = stop;
      if (*src != '\\') return end_escaped(start, src, dst, out, failure);
      if (!take_escape(src, dst, failure)) return nullptr;
      const size_t offset = static_cast<size_t>(src - base);
      if (offset >= 16) break;
      mask &= ~0u << offset;
      if (mask == 0) break;
    }
  }
}

}  // namespace vellum::string_detail
