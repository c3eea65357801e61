#include "src/fragment.hpp"

#include "src/export.hpp"
#include "src/fatal.hpp"
#include "src/typeref.hpp"

using vellum::Fragment;
using vellum::type_refs;


extern "C" VELLUM_EXPORT PyObject* vellum_fragment_tp_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  if (kwargs != nullptr || PyTuple_GET_SIZE(args) != 1) {
    PyObject* msg = PyUnicode_FromString("vellum.Fragment() takes exactly 1 positional argument");
    if (msg != nullptr) {
      PyErr_SetObject(PyExc_TypeError, msg);
      Py_DECREF(msg);
    }
    return nullptr;
  }
  // The type lives for the whole process, so instances hold no reference to it.
  auto* self = static_cast<Fragment*>(vellum::checked_malloc(sizeof(Fragment)));
  // Stored directly: Py_SET_REFCNT ignores objects whose (here uninitialised)
  // count looks immortal, which would make the fragment never freed.
  self->ob_base.ob_refcnt = 1;
  Py_SET_TYPE(self, type_refs.type_fragment);
  self->content = Py_NewRef(PyTuple_GET_ITEM(args, 0));
  return reinterpret_cast<PyObject*>(self);
}

extern "C" VELLUM_EXPORT void vellum_fragment_dealloc(PyObject* self) {
  Py_DECREF(reinterpret_cast<Fragment*>(self)->content);
  PyMem_Free(self);
}

extern "C" VELLUM_EXPORT PyObject* vellum_fragmenttype_new() {
  PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(vellum_fragment_tp_new)},
      {Py_tp_dealloc, reinterpret_cast<void*>(vellum_fragment_dealloc)},
      {0, nullptr},
  };
  PyType_Spec spec = {
      .name = "vellum.Fragment",
      .basicsize = static_cast<int>(sizeof(Fragment)),
      .itemsize = 0,
      .flags = Py_TPFLAGS_IMMUTABLETYPE,
      .slots = slots,
  };
  return PyType_FromSpec(&spec);
}
