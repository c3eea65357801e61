#include "loads/builder.hpp"

namespace vellum {

bool PyBuilder::grow() {
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
    PyErr_NoMemory();
    return false;
  }
  base_ = grown;
  top_ = grown + used;
  end_ = grown + slots;
  return true;
}

}  // namespace vellum
