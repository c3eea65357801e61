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
  return state.empty_str != nullptr;
}

void release_loads_state(LoadsState& state) {
  Py_CLEAR(state.decode_error);
  Py_CLEAR(state.read_name);
  Py_CLEAR(state.empty_str);
  release_str_cache(state.keys);
  release_str_cache(state.values);
}

int traverse_loads_state(const LoadsState& state, visitproc visit, void* arg) {
  Py_VISIT(state.decode_error);
  return 0;
}

}  // namespace vellum
