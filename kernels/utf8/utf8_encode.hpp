// Encoding of fixed-width code units (a str's 1, 2 or 4 bytes per
// character) as UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vellum {

// What utf8_encode returns for text holding a surrogate, which UTF-8 cannot
// hold.
inline constexpr size_t Utf8Unencodable = SIZE_MAX;

// The most bytes that n units of `kind` bytes (1, 2 or 4) take in UTF-8.
constexpr size_t utf8_bound(size_t n, unsigned kind) { return n * (kind == 1 ? 2 : kind == 2 ? 3 : 4); }

// Writes the UTF-8 of the n units of `kind` bytes at src to dst, which has
// room for utf8_bound(n, kind) bytes; returns the bytes written, or
// Utf8Unencodable (dst then holds anything) when a unit is a surrogate.
// Blocks of 16 ASCII units are narrowed at once (SSE2, so on any x86-64
// processor).
size_t utf8_encode(const void* src, size_t n, unsigned kind, uint8_t* dst);

}  // namespace vellum
