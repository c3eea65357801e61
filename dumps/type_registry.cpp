#include "dumps/type_registry.hpp"

#include "core/import.hpp"
#include "core/pending_error.hpp"
#include "core/pyref.hpp"

namespace vellum {
namespace {

// The objects other kinds than ScalarKinds' are recognised by, or read: one
// row each, which filling, releasing and visiting all walk.
struct Row {
  PyObject* TypeRegistry::* field;
  const char* module;
  const char* attribute;
  // Made otherwise: a new reference, or null (with an exception pending on
  // failure, without one for a field that may stay empty).
  PyObject* (*make)(const TypeRegistry& types) = nullptr;
};

// The descriptor found in enum.Enum's own namespace, or null (no exception)
// when it has none: members then always go through "value".
PyObject* enum_value_descriptor(const TypeRegistry& types) {
  const PyRef enum_type = PyRef::steal(import_type_attribute("enum", "Enum"));
  if (!enum_type) return nullptr;
  const PyRef dict = PyRef::steal(PyType_GetDict(as_type(enum_type.get())));
  if (!dict) return nullptr;
  return Py_XNewRef(PyDict_GetItemWithError(dict.get(), types.name<"value">()));
}

constexpr Row Rows[] = {
    {&TypeRegistry::tzinfo, "_datetime", "tzinfo"},
    {&TypeRegistry::timedelta, "_datetime", "timedelta"},
    {&TypeRegistry::utc, "_datetime", "UTC"},
    {&TypeRegistry::enum_meta, "enum", "EnumMeta"},
    {&TypeRegistry::dataclass_field_marker, "dataclasses", "_FIELD"},
    {&TypeRegistry::enum_value_descriptor, nullptr, nullptr, &enum_value_descriptor},  // after the names
};

// Every name the registry interns, in slot order.
template <class Visit>
void for_each_name_text(Visit visit) {
  for (const char* name : RegistryNames) visit(name);
  for (const ScalarKind& row : ScalarKinds)
    for (const char* name : row.names)
      if (name != nullptr) visit(name);
}

// Stores a new reference; false when it is null with an exception pending.
bool store(PyObject*& slot, PyObject* value) {
  slot = value;
  return value != nullptr || !PyErr_Occurred();
}

// numpy's module dict entries, by the fields of NumpyTypes.
struct NumpyEntry {
  PyObject* NumpyTypes::* field;
  const char* name;
};
constexpr NumpyEntry NumpyEntries[] = {
    {&NumpyTypes::ndarray, "ndarray"}, {&NumpyTypes::float16, "half"},   {&NumpyTypes::float32, "float32"},
    {&NumpyTypes::float64, "float64"}, {&NumpyTypes::int8, "int8"},      {&NumpyTypes::int16, "int16"},
    {&NumpyTypes::int32, "int32"},     {&NumpyTypes::int64, "int64"},    {&NumpyTypes::uint16, "uint16"},
    {&NumpyTypes::uint32, "uint32"},   {&NumpyTypes::uint64, "uint64"},  {&NumpyTypes::uint8, "uint8"},
    {&NumpyTypes::bool_, "bool_"},     {&NumpyTypes::datetime64, "datetime64"},
};

void release_numpy(NumpyTypes& numpy) {
  for (const NumpyEntry& e : NumpyEntries) Py_CLEAR(numpy.*e.field);
}

// True, with the exception left pending, for a failure that says nothing
// about numpy (memory ran out, the import was interrupted) and must not be
// remembered as its absence; otherwise clears it.
bool failure_is_transient() {
  if (pending_error_passes_through()) return true;
  PyErr_Clear();
  return false;
}

}  // namespace

bool fill_type_registry(TypeRegistry& types) {
  size_t slot = 0;
  bool ok = true;
  for_each_name_text([&](const char* text) { ok = ok && store(types.names[slot++], PyUnicode_InternFromString(text)); });
  for (size_t i = 0; ok && i < ScalarKindCount; ++i) {
    const TypeSource& source = ScalarKinds[i].type;
    if (source.module != nullptr) ok = store(types.scalar_types[i], import_type_attribute(source.module, source.attribute));
  }
  for (const Row& row : Rows) {
    if (!ok) break;
    ok = store(types.*row.field, row.make ? row.make(types) : import_type_attribute(row.module, row.attribute));
  }
  return ok;
}

void release_type_registry(TypeRegistry& types) {
  for (PyObject*& name : types.names) Py_CLEAR(name);
  for (PyObject*& type : types.scalar_types) Py_CLEAR(type);
  for (const Row& row : Rows) Py_CLEAR(types.*row.field);
  Py_CLEAR(types.fragment);
  release_numpy(types.numpy);
  types.numpy_probe = NumpyUnprobed;
}

int traverse_type_registry(const TypeRegistry& types, visitproc visit, void* arg) {
  for (PyObject* type : types.scalar_types) Py_VISIT(type);
  for (const Row& row : Rows) Py_VISIT(types.*row.field);
  Py_VISIT(types.fragment);
  for (const NumpyEntry& e : NumpyEntries) Py_VISIT(types.numpy.*e.field);
  return 0;
}

const NumpyTypes* probe_numpy(TypeRegistry& types) {
  const PyRef numpy = PyRef::steal(PyImport_ImportModule("numpy"));
  const PyRef dict = numpy ? PyRef::steal(PyObject_GenericGetDict(numpy.get(), nullptr)) : PyRef();
  NumpyTypes found{};
  bool present = static_cast<bool>(dict);
  for (const NumpyEntry& e : NumpyEntries) {
    if (!present) break;
    // A name numpy lacks leaves its field null.
    found.*e.field = PyMapping_GetItemString(dict.get(), e.name);
    if (found.*e.field == nullptr && failure_is_transient()) {
      release_numpy(found);
      return nullptr;
    }
  }
  // This call sees numpy as absent, with the exception pending; the next
  // one probes again.
  if (!present && failure_is_transient()) return nullptr;
  // The import may have let another thread finish a probe of its own: the
  // first answer stays.
  if (types.numpy_probe != NumpyUnprobed) {
    release_numpy(found);
    return numpy_types(types);
  }
  types.numpy = found;
  types.numpy_probe = present ? NumpyPresent : NumpyAbsent;
  return present ? &types.numpy : nullptr;
}

}  // namespace vellum
