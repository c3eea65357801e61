#include "core/typeref.hpp"

#include "core/ffi/compat_datetime.hpp"
#include "core/ffi/internal.hpp"
#include "core/pending_error.hpp"

namespace vellum {

TypeRefs type_refs{};

namespace {

// One row per field of the table: where its reference comes from. Filling
// and releasing both walk this list.
struct Row {
  PyObject* TypeRefs::* field;
  // A new reference; null with an exception pending on failure, or without
  // one for a field that may stay empty.
  PyObject* (*make)(const Row& row);
  const char* module;  // or the text to intern
  const char* attribute;
  PyTypeObject* builtin;
};

PyObject* imported(const Row& row) { return import_type_attribute(row.module, row.attribute); }
PyObject* interned(const Row& row) { return PyUnicode_InternFromString(row.module); }
PyObject* builtin(const Row& row) { return Py_NewRef(reinterpret_cast<PyObject*>(row.builtin)); }

constexpr Row import_row(PyObject* TypeRefs::* field, const char* module, const char* attribute) {
  return {field, &imported, module, attribute, nullptr};
}
constexpr Row name_row(PyObject* TypeRefs::* field, const char* text) { return {field, &interned, text, nullptr, nullptr}; }
constexpr Row builtin_row(PyObject* TypeRefs::* field, PyTypeObject* type) {
  return {field, &builtin, nullptr, nullptr, type};
}
constexpr Row made_row(PyObject* TypeRefs::* field, PyObject* (*make)(const Row&)) {
  return {field, make, nullptr, nullptr, nullptr};
}

// The descriptor found in enum.Enum's own namespace, or null (no exception)
// when it has none: members then always go through "value".
PyObject* enum_value_descriptor(const Row&) {
  PyObject* enum_type = import_type_attribute("enum", "Enum");
  if (enum_type == nullptr) return nullptr;
  PyObject* dict = PyType_GetDict(reinterpret_cast<PyTypeObject*>(enum_type));
  Py_DECREF(enum_type);
  if (dict == nullptr) return nullptr;
  PyObject* descriptor = PyDict_GetItemWithError(dict, type_refs.name_value);
  Py_XINCREF(descriptor);
  Py_DECREF(dict);
  return descriptor;
}

PyObject* encode_error_type(const Row&) { return Py_NewRef(PyExc_TypeError); }

PyObject* decode_error_type(const Row&) {
  PyObject* base = import_type_attribute("json", "JSONDecodeError");
  if (base == nullptr) return nullptr;
  PyObject* type = PyErr_NewException("vellum.JSONDecodeError", base, nullptr);
  Py_DECREF(base);
  return type;
}

PyObject* empty_str(const Row&) { return PyUnicode_New(0, 255); }

// The date-time types come from the C module, whose objects' fields dumps
// reads directly (the pure-Python fallback's would not do).
constexpr Row Rows[] = {
    builtin_row(&TypeRefs::type_int, &PyLong_Type),
    builtin_row(&TypeRefs::type_bool, &PyBool_Type),
    builtin_row(&TypeRefs::type_none, &_PyNone_Type),
    builtin_row(&TypeRefs::type_float, &PyFloat_Type),
    import_row(&TypeRefs::type_date, "_datetime", "date"),
    import_row(&TypeRefs::type_datetime, "_datetime", "datetime"),
    import_row(&TypeRefs::type_time, "_datetime", "time"),
    import_row(&TypeRefs::type_tzinfo, "_datetime", "tzinfo"),
    import_row(&TypeRefs::type_timedelta, "_datetime", "timedelta"),
    import_row(&TypeRefs::timezone_utc, "_datetime", "UTC"),
    import_row(&TypeRefs::type_uuid, "uuid", "UUID"),
    import_row(&TypeRefs::type_enum_meta, "enum", "EnumMeta"),
    import_row(&TypeRefs::dataclass_field_marker, "dataclasses", "_FIELD"),
    made_row(&TypeRefs::exc_encode, &encode_error_type),
    made_row(&TypeRefs::exc_decode, &decode_error_type),
    made_row(&TypeRefs::empty_str, &empty_str),
    made_row(&TypeRefs::type_fragment, nullptr),  // made by the Fragment type, released here
    name_row(&TypeRefs::name_int, "int"),
    name_row(&TypeRefs::name_utcoffset, "utcoffset"),
    name_row(&TypeRefs::name_normalize, "normalize"),
    name_row(&TypeRefs::name_convert, "convert"),
    name_row(&TypeRefs::name_dst, "dst"),
    name_row(&TypeRefs::name_dict, "__dict__"),
    name_row(&TypeRefs::name_dataclass_fields, "__dataclass_fields__"),
    name_row(&TypeRefs::name_slots, "__slots__"),
    name_row(&TypeRefs::name_field_type, "_field_type"),
    name_row(&TypeRefs::name_array_struct, "__array_struct__"),
    name_row(&TypeRefs::name_dtype, "dtype"),
    name_row(&TypeRefs::name_descr, "descr"),
    name_row(&TypeRefs::name_value, "value"),
    name_row(&TypeRefs::name_default, "default"),
    name_row(&TypeRefs::name_option, "option"),
    name_row(&TypeRefs::name_enum_value, "_value_"),
    name_row(&TypeRefs::name_read, "read"),
    made_row(&TypeRefs::enum_value_descriptor, &enum_value_descriptor),  // after name_value
};

}  // namespace

void release_type_refs() {
  for (const Row& row : Rows) Py_CLEAR(type_refs.*row.field);
}

bool fill_type_refs() {
  for (const Row& row : Rows) {
    if (row.make == nullptr) continue;
    type_refs.*row.field = row.make(row);
    if (type_refs.*row.field == nullptr && PyErr_Occurred()) {
      release_type_refs();
      return false;
    }
  }
  return true;
}

PyObject* import_type_attribute(const char* module_name, const char* attribute) {
  PyObject* module = PyImport_ImportModule(module_name);
  if (module == nullptr) return nullptr;
  PyObject* dict = PyObject_GenericGetDict(module, nullptr);
  PyObject* value = dict ? PyMapping_GetItemString(dict, attribute) : nullptr;
  Py_XDECREF(dict);
  Py_DECREF(module);
  return value;
}

namespace {

// The numpy table and its two cells are static: the probe allocates nothing
// of its own, so running short of memory cannot stop it half way.
NumpyTypes numpy_storage{};
NumpyCell numpy_available{&numpy_storage};
NumpyCell numpy_unavailable{nullptr};

// True, with the exception left pending, for a failure that says nothing
// about numpy (memory ran out, the import was interrupted) and must not be
// remembered as its absence; otherwise clears it.
bool failure_is_transient() {
  if (pending_error_passes_through()) return true;
  PyErr_Clear();
  return false;
}

}  // namespace

NumpyCell* load_numpy_types() {
  NumpyTypes found{};
  bool imported = false;
  bool transient = false;
  if (PyObject* numpy = PyImport_ImportModule("numpy")) {
    if (PyObject* dict = PyObject_GenericGetDict(numpy, nullptr)) {
      struct Entry {
        PyObject** field;
        const char* name;
      };
      const Entry entries[] = {
          {&found.ndarray, "ndarray"}, {&found.float16, "half"},     {&found.float32, "float32"},
          {&found.float64, "float64"}, {&found.int8, "int8"},        {&found.int16, "int16"},
          {&found.int32, "int32"},     {&found.int64, "int64"},      {&found.uint16, "uint16"},
          {&found.uint32, "uint32"},   {&found.uint64, "uint64"},    {&found.uint8, "uint8"},
          {&found.bool_, "bool_"},     {&found.datetime64, "datetime64"},
      };
      // The numpy module keeps its types alive; the record only points at them.
      for (const Entry& e : entries) {
        PyObject* value = PyMapping_GetItemString(dict, e.name);
        if (value == nullptr && failure_is_transient()) {
          transient = true;
          break;
        }
        Py_XDECREF(value);
        *e.field = value;
      }
      imported = true;
      Py_DECREF(dict);
    } else {
      transient = failure_is_transient();
    }
    Py_DECREF(numpy);
  } else {
    transient = failure_is_transient();
  }
  // This call sees numpy as absent, with the exception pending; the next
  // one probes again.
  if (transient) return &numpy_unavailable;

  // The interpreter lock is held from here to the exchange, so no other
  // probe can be between these steps; the exchange keeps the first answer.
  if (NumpyCell* installed = type_refs.numpy_types.load(std::memory_order_acquire)) return installed;
  NumpyCell* cell = &numpy_unavailable;
  if (imported) {
    numpy_storage = found;
    cell = &numpy_available;
  }
  NumpyCell* expected = nullptr;
  if (type_refs.numpy_types.compare_exchange_strong(expected, cell, std::memory_order_acq_rel)) return cell;
  return expected;
}

}  // namespace vellum
