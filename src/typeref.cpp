#include "src/typeref.hpp"

#include "src/fatal.hpp"
#include "src/fragment.hpp"

#include <datetime.h>

namespace vellum {

TypeRefs type_refs{};

namespace {

PyTypeObject* as_type(PyObject* obj) { return reinterpret_cast<PyTypeObject*>(obj); }

}  // namespace

bool fill_type_refs() {
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

  auto* capi = static_cast<PyDateTime_CAPI*>(PyCapsule_Import(PyDateTime_CAPSULE_NAME, 0));
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

  t.type_fragment = as_type(vellum_fragmenttype_new());
  if (t.type_fragment == nullptr) return false;

  struct Name {
    PyObject** field;
    const char* text;
  };
  const Name names[] = {
      {&t.name_int, "int"},
      {&t.name_utcoffset, "utcoffset"},
      {&t.name_normalize, "normalize"},
      {&t.name_convert, "convert"},
      {&t.name_dst, "dst"},
      {&t.name_dict, "__dict__"},
      {&t.name_dataclass_fields, "__dataclass_fields__"},
      {&t.name_slots, "__slots__"},
      {&t.name_field_type, "_field_type"},
      {&t.name_array_struct, "__array_struct__"},
      {&t.name_dtype, "dtype"},
      {&t.name_descr, "descr"},
      {&t.name_value, "value"},
      {&t.name_default, "default"},
      {&t.name_option, "option"},
      {&t.name_enum_value, "_value_"},
  };
  for (const Name& name : names) {
    *name.field = PyUnicode_InternFromString(name.text);
    if (*name.field == nullptr) return false;
  }

  t.exc_encode = Py_NewRef(PyExc_TypeError);

  PyObject* json_decode_error = import_type_attribute("json", "JSONDecodeError");
  if (json_decode_error == nullptr) return false;
  t.exc_decode = PyErr_NewException("vellum.JSONDecodeError", json_decode_error, nullptr);
  Py_DECREF(json_decode_error);
  return t.exc_decode != nullptr;
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

NumpyCell* load_numpy_types() {
  auto* cell = static_cast<NumpyCell*>(checked_malloc(sizeof(NumpyCell)));
  cell->types = nullptr;

  if (PyObject* numpy = PyImport_ImportModule("numpy")) {
    if (PyObject* dict = PyObject_GenericGetDict(numpy, nullptr)) {
      auto* types = static_cast<NumpyTypes*>(checked_malloc(sizeof(NumpyTypes)));
      struct Entry {
        PyObject** field;
        const char* name;
      };
      const Entry entries[] = {
          {&types->ndarray, "ndarray"}, {&types->float16, "half"},     {&types->float32, "float32"},
          {&types->float64, "float64"}, {&types->int8, "int8"},        {&types->int16, "int16"},
          {&types->int32, "int32"},     {&types->int64, "int64"},      {&types->uint16, "uint16"},
          {&types->uint32, "uint32"},   {&types->uint64, "uint64"},    {&types->uint8, "uint8"},
          {&types->bool_, "bool_"},     {&types->datetime64, "datetime64"},
      };
      // The numpy module keeps its types alive; the record only points at them.
      for (const Entry& e : entries) {
        PyObject* value = PyMapping_GetItemString(dict, e.name);
        if (value == nullptr) PyErr_Clear();
        Py_XDECREF(value);
        *e.field = value;
      }
      cell->types = types;
      Py_DECREF(dict);
    } else {
      PyErr_Clear();
    }
    Py_DECREF(numpy);
  } else {
    PyErr_Clear();
  }

  NumpyCell* expected = nullptr;
  if (type_refs.numpy_types.compare_exchange_strong(expected, cell, std::memory_order_acq_rel)) return cell;
  PyMem_Free(cell->types);
  PyMem_Free(cell);
  return expected;
}

}  // namespace vellum
