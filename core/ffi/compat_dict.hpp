// Dict internals: inserting with a known hash (moved to the internal
// headers in 3.13, still exported under a new name), presized dicts, and the
// walk of a combined table in place.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/ffi/compat_api.hpp"

#if PY_VERSION_HEX >= 0x030D0000
extern "C" int _PyDict_SetItem_KnownHash_LockHeld(PyDictObject* dict, PyObject* key, PyObject* value, Py_hash_t hash);
#endif

namespace vellum::ffi::compat {

// The caller holds the only reference to the dict (no other thread sees it).
inline int dict_insert_known_hash(PyObject* dict, PyObject* key, PyObject* value, Py_hash_t hash) {
#if PY_VERSION_HEX >= 0x030D0000
  return _PyDict_SetItem_KnownHash_LockHeld(reinterpret_cast<PyDictObject*>(dict), key, value, hash);
#else
  return _PyDict_SetItem_KnownHash(dict, key, value, hash);
#endif
}

// The entries of a dict with a combined table, read in place. The keys
// record is private to the interpreter on every version (and its internal
// header does not build as C++ on each), so its head is written out here
// with its offsets asserted; it is the same on 3.11 to 3.15, except
// for a lock that only the free-threaded build has, which takes the call.
// tests/test_interpreter_layouts.py walks dicts of each kind and index width
// on every version.
struct DictKeysHead {
  Py_ssize_t refcnt;
  uint8_t log2_size;
  uint8_t log2_index_bytes;  // the index table's size in bytes: the entries follow it
  uint8_t kind;
  uint32_t version;
  Py_ssize_t usable;
  Py_ssize_t nentries;  // entries used so far, deleted ones included
  char indices[];
};
inline constexpr uint8_t DictKeysGeneral = 0;  // entries with hash, key, value; others have key, value
struct DictGeneralEntry {
  Py_hash_t hash;
  PyObject* key;
  PyObject* value;  // null for a deleted entry
};
struct DictStrEntry {
  PyObject* key;
  PyObject* value;
};
static_assert(offsetof(DictKeysHead, kind) == 10 && offsetof(DictKeysHead, version) == 12);
static_assert(offsetof(DictKeysHead, nentries) == 24 && offsetof(DictKeysHead, indices) == 32);
static_assert(sizeof(DictGeneralEntry) == 24 && sizeof(DictStrEntry) == 16);
static_assert(offsetof(PyDictObject, ma_keys) == 32 && offsetof(PyDictObject, ma_values) == 40,
              "the dict record of 3.11 to 3.15");

// PyDict_Next for a dict or dict subclass, with the walk of a combined
// table inline: the same entries in the same order, `pos` the same index
// (so a table that changes form between calls goes on as the interpreter's
// call would). A split table (an instance's dict) takes the call.
[[gnu::always_inline]] inline bool dict_next(PyObject* dict, Py_ssize_t& pos, PyObject*& key, PyObject*& value) {
#if defined(Py_GIL_DISABLED)
  return PyDict_Next(dict, &pos, &key, &value);
#else
  const PyDictObject* d = reinterpret_cast<const PyDictObject*>(dict);
  if (d->ma_values != nullptr) [[unlikely]]
    return PyDict_Next(dict, &pos, &key, &value);
  const DictKeysHead* keys = reinterpret_cast<const DictKeysHead*>(d->ma_keys);
  const Py_ssize_t n = keys->nentries;
  const char* entries = keys->indices + (size_t{1} << keys->log2_index_bytes);
  Py_ssize_t i = pos;
  if (keys->kind != DictKeysGeneral) [[likely]] {
    const DictStrEntry* e = reinterpret_cast<const DictStrEntry*>(entries);
    while (i < n && e[i].value == nullptr) ++i;
    if (i >= n) return false;
    key = e[i].key;
    value = e[i].value;
  } else {
    const DictGeneralEntry* e = reinterpret_cast<const DictGeneralEntry*>(entries);
    while (i < n && e[i].value == nullptr) ++i;
    if (i >= n) return false;
    key = e[i].key;
    value = e[i].value;
  }
  pos = i + 1;
  return true;
#endif
}

// The dict's key table: another one once keys outgrow it, after a clear or
// a rebuild, so a walk can tell that its dict changed under it.
inline const void* dict_key_table(PyObject* dict) { return reinterpret_cast<const PyDictObject*>(dict)->ma_keys; }

// A new dict with room for n members without resizing.
inline PyObject* dict_presized(Py_ssize_t n) { return _PyDict_NewPresized(n); }

}  // namespace vellum::ffi::compat
