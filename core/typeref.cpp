#include "core/typeref.hpp"

#include "core/ffi/compat_datetime.hpp"

#include "core/pending_error.hpp"

namespace vellum {

TypeRefs type_refs{};

namespace {

PyTypeObject* as_type(PyObject* obj) { return reinterpret_cast<PyTypeObject*>(obj); }

struct Name {
  PyObject* TypeRefs::*field;
  const char* text;
};
constexpr Name names[] = {
    {&TypeRefs::name_int, "int"},
    {&TypeRefs::name_utcoffset, "utcoffset"},
    {&TypeRefs::name_normalize, "normalize"},
    {&TypeRefs::name_convert, "convert"},
    {&TypeRefs::name_dst, "dst"},
    {&TypeRefs::name_dict, "__dict__"},
    {&TypeRefs::name_dataclass_fields, "__dataclass_fields__"},
    {&TypeRefs::name_slots, "__slots__"},
    {&TypeRefs::name_field_type, "_field_type"},
    {&TypeRefs::name_array_struct, "__array_struct__"},
    {&TypeRefs::name_dtype, "dtype"},
    {&TypeRefs::name_descr, "descr"},
    {&TypeRefs::name_value, "value"},
    {&TypeRefs::name_default, "default"},
    {&TypeRefs::name_option, "option"},
    {&TypeRefs::name_enum_value, "_value_"},
    {&TypeRefs::name_read, "read"},
};

}  // namespace

void release_type_refs() {
  TypeRefs& t = type_refs;
  Py_CLEAR(t.empty_str);
  Py_CLEAR(t.type_uuid);
  Py_CLEAR(t.type_enum_meta);
  Py_CLEAR(t.dataclass_field_marker);
  Py_CLEAR(t.enum_value_descriptor);
  Py_CLEAR(t.type_fragment);
  Py_CLEAR(t.exc_encode);
  Py_CLEAR(t.exc_decode);
  for (const Name& name : names) Py_CLEAR(t.*name.field);
}

namespace {

bool fill_fields() {
  TypeRefs& t = type_refs;
  t.obj_none = Py_None;
  t.obj_true = Py_True;
  t.obj_false = Py_False;

  t.empty_str = PyUnicode_New(0, 255);
  if (t.empty_str == nullptr) return false;

  t.type_str = &PyUnicode_Type;
  t.type_bytes = &PyBytes_Type;
  t.type_dict = &PyDict_Type;
  t.type_list = &PyList_Type;
  t.type_tuple = &PyTuple_Type;
  t.type_none = Py_TYPE(Py_None);
  t.type_bool = &PyBool_Type;
  t.type_int = &PyLong_Type;
  t.type_float = &PyFloat_Type;

  // The capsule is fetched by hand: PyCapsule_Import would turn a
  // MemoryError into an ImportError.
  PyObject* capsule = import_type_attribute("datetime", "datetime_CAPI");
  if (capsule == nullptr) return false;
  auto* capi = static_cast<PyDateTime_CAPI*>(PyCapsule_GetPointer(capsule, PyDateTime_CAPSULE_NAME));
  Py_DECREF(capsule);  // the datetime module keeps it, and the types, alive
  if (capi == nullptr) return false;
  t.type_date = capi->DateType;
  t.type_datetime = capi->DateTimeType;
  t.type_time = capi->TimeType;
  t.type_tzinfo = capi->TZInfoType;
  t.type_timedelta = capi->DeltaType;
  t.timezone_utc = capi->TimeZone_UTC;

  PyObject* uuid = import_type_attribute("uuid", "UUID");
  if (uuid == nullptr) return false;
  t.type_uuid = as_type(uuid);
  PyObject* enum_meta = import_type_attribute("enum", "EnumMeta");
  if (enum_meta == nullptr) return false;
  t.type_enum_meta = as_type(enum_meta);
  t.dataclass_field_marker = import_type_attribute("dataclasses", "_FIELD");
  if (t.dataclass_field_marker == nullptr) return false;
  PyObject* enum_type = import_type_attribute("enum", "Enum");
  if (enum_type == nullptr) return false;
  // Missing, it stays null and members always go through "value".
  PyObject* enum_dict = PyType_GetDict(as_type(enum_type));
  t.enum_value_descriptor = enum_dict ? Py_XNewRef(PyDict_GetItemString(enum_dict, "value")) : nullptr;
  Py_XDECREF(enum_dict);
  Py_DECREF(enum_type);

  for (const Name& name : names) {
    t.*name.field = PyUnicode_InternFromString(name.text);
    if (t.*name.field == nullptr) return false;
  }

  t.exc_encode = Py_NewRef(PyExc_TypeError);

  PyObject* json_decode_error = import_type_attribute("json", "JSONDecodeError");
  if (json_decode_error == nullptr) return false;
  t.exc_decode = PyErr_NewException("vellum.JSONDecodeError", json_decode_error, nullptr);
  Py_DECREF(json_decode_error);
  return t.exc_decode != nullptr;
}

}  // namespace

bool fill_type_refs() {
  if (fill_fields()) return true;
  release_type_refs();
  return false;
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
