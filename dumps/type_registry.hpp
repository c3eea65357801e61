// Process-wide table of the objects the module recognises by identity,
// filled once by the first module exec and kept until the process ends.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "core/python.hpp"

namespace vellum {

struct NumpyTypes {
  PyObject* ndarray;
  PyObject* float64;
  PyObject* float32;
  PyObject* float16;
  PyObject* int64;
  PyObject* int32;
  PyObject* int16;
  PyObject* int8;
  PyObject* uint64;
  PyObject* uint32;
  PyObject* uint16;
  PyObject* uint8;
  PyObject* bool_;
  PyObject* datetime64;
};

// Holds the numpy types, or null when numpy could not be imported.
struct NumpyCell {
  NumpyTypes* types;
};

// Every field is a reference the table owns, filled from its row in
// typeref.cpp (where it comes from) and released by the same row; a type is
// held as the object it is (as_type() to use it as a type).
struct TypeRefs {
  // The types dumps writes as scalars, and those it checks against.
  PyObject* type_int;
  PyObject* type_bool;
  PyObject* type_none;
  PyObject* type_float;
  PyObject* type_date;
  PyObject* type_datetime;
  PyObject* type_time;
  PyObject* type_tzinfo;
  PyObject* type_timedelta;
  PyObject* timezone_utc;
  PyObject* type_uuid;
  PyObject* type_enum_meta;
  // enum.Enum's own "value" descriptor, whose getter returns the member's
  // "_value_": members whose class finds this very object read that directly.
  // Null when enum.Enum has none.
  PyObject* enum_value_descriptor;
  PyObject* dataclass_field_marker;

  PyObject* type_fragment;  // made by the Fragment type itself
  PyObject* exc_encode;
  PyObject* exc_decode;
  PyObject* empty_str;

  PyObject* name_int;
  PyObject* name_utcoffset;
  PyObject* name_normalize;
  PyObject* name_convert;
  PyObject* name_dst;
  PyObject* name_dict;
  PyObject* name_dataclass_fields;
  PyObject* name_slots;
  PyObject* name_field_type;
  PyObject* name_array_struct;
  PyObject* name_dtype;
  PyObject* name_descr;
  PyObject* name_value;
  PyObject* name_default;
  PyObject* name_option;
  PyObject* name_enum_value;
  PyObject* name_read;

  std::atomic<NumpyCell*> numpy_types;
};

extern TypeRefs type_refs;

inline PyTypeObject* as_type(PyObject* type) { return reinterpret_cast<PyTypeObject*>(type); }
inline PyObject* as_object(PyTypeObject* type) { return reinterpret_cast<PyObject*>(type); }

// Fills the table; part of the one-time set-up that module exec runs. False
// with a Python exception pending when an import it needs failed or memory
// ran out; the table then holds nothing, and a later call starts afresh.
bool fill_type_refs();

// After a failed set-up (memory ran out, most likely): gives back every
// reference taken, so that the next import starts afresh and leaks nothing.
void release_type_refs();

// A new reference to module_name.attribute, looked up in the module's dict.
PyObject* import_type_attribute(const char* module_name, const char* attribute);

// The numpy cell, probing numpy on first use; the answer sticks, unless the
// probe ran out of memory or was interrupted: numpy is then absent for this
// call, and the exception is left pending.
NumpyCell* load_numpy_types();

inline NumpyTypes* numpy_types() {
  NumpyCell* cell = type_refs.numpy_types.load(std::memory_order_acquire);
  if (cell == nullptr) cell = load_numpy_types();
  return cell->types;
}

}  // namespace vellum
