#include "loads/state.hpp"

#include "core/import.hpp"
#include "core/pyref.hpp"

namespace vellum {
namespace {

PyObject* new_decode_error_type(const char* doc) {
  const PyRef base = PyRef::steal(import_type_attribute("json", "JSONDecodeError"));
  return base ? PyErr_NewExceptionWithDoc("vellum.JSONDecodeError", doc, base.get(), nullptr) : nullptr;
}

}  // namespace

bool fill_loads_state(LoadsState& state, const char* decode_error_doc) {
  state.decode_error = new_decode_error_type(decode_error_doc);
  if (state.decode_error == nullptr) return false;
  state.read_name = PyUnicode_InternFromString("read");
  if (state.read_name == nullptr) return false;
  state.empty_str = PyUnicode_New(0, 0);
  if (state.empty_str == nullptr) return false;
  state.parse_float_name = PyUnicode_InternFromString("parse_float");
  if (state.parse_float_name == nullptr) return false;
  state.decimal_type = import_type_attribute("decimal", "Decimal");
  return state.decimal_type != nullptr;
}

void release_loads_state(LoadsState& state) {
  Py_CLEAR(state.decode_error);
  Py_CLEAR(state.read_name);
  Py_CLEAR(state.empty_str);
  Py_CLEAR(state.parse_float_name);
  Py_CLEAR(state.decimal_type);
  release_str_cache(state.keys);
  release_str_cache(state.values);
}

int traverse_loads_state(const LoadsState& state, visitproc visit, void* arg) {
  Py_VISIT(state.decode_error);
  Py_VISIT(state.decimal_type);
  return 0;
}

}  // namespace vellum
