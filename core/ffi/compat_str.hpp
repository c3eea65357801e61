// The str record's fields that vellum reads or writes directly, where they
// differ between versions: the cached hash and the text of a compact ASCII
// str, which follows the record. 3.12
// dropped the record's wide-character pointer, so the text starts 8 bytes
// earlier there than on 3.11; both stand right after PyASCIIObject, which
// is what the interpreter's own PyUnicode_DATA computes for such a str. The
// hash of a byte run as the interpreter computes it moved to the internal
// headers in 3.13 (still exported), and became public API in 3.14, whose
// builds no longer export the private name.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/ffi/compat_api.hpp"

#if PY_VERSION_HEX >= 0x030D0000 && PY_VERSION_HEX < 0x030E0000
extern "C" Py_hash_t _Py_HashBytes(const void* data, Py_ssize_t size);
#endif

namespace vellum::ffi::compat {

#if PY_VERSION_HEX >= 0x030C0000
static_assert(sizeof(PyASCIIObject) == 40, "the str record of 3.12 on");
#else
static_assert(sizeof(PyASCIIObject) == 48, "the str record of 3.11, with its wide-character pointer");
#endif
static_assert(offsetof(PyASCIIObject, hash) == 24, "the hash after the length");

// The text of a compact ASCII str (a str that PyUnicode_New made with
// maximum 127).
inline uint8_t* ascii_text(PyObject* str) { return reinterpret_cast<uint8_t*>(reinterpret_cast<PyASCIIObject*>(str) + 1); }

inline Py_hash_t hash_bytes(const void* data, Py_ssize_t size) {
#if PY_VERSION_HEX >= 0x030E0000
  return Py_HashBuffer(data, size);
#else
  return _Py_HashBytes(data, size);
#endif
}

inline Py_hash_t str_hash(PyObject* str) { return reinterpret_cast<PyASCIIObject*>(str)->hash; }
inline void set_str_hash(PyObject* str, Py_hash_t hash) { reinterpret_cast<PyASCIIObject*>(str)->hash = hash; }

}  // namespace vellum::ffi::compat
