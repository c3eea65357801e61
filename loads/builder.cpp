#include "loads/builder.hpp"

namespace vellum {

bool PyBuilder::push_grown(PyObject* object) {
  const size_t used = static_cast<size_t>(top_ - base_);
  const size_t slots = 2 * static_cast<size_t>(end_ - base_);
  PyObject** grown;
  if (base_ == inline_) {
    grown = PyMem_New(PyObject*, slots);
    if (grown != nullptr) std::memcpy(grown, inline_, used * sizeof(PyObject*));
  } else {
    grown = static_cast<PyObject**>(PyMem_Realloc(base_, slots * sizeof(PyObject*)));
  }
  if (grown == nullptr) {
    Py_DECREF(object);
    PyErr_NoMemory();
    return false;
  }
  base_ = grown;
  top_ = grown + used;
  end_ = grown + slots;
  *top_++ = object;
  return true;
}

}  // namespace vellum
