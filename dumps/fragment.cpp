#include "dumps/fragment.hpp"

using vellum::Fragment;

namespace {

Fragment* as_fragment(PyObject* self) { return reinterpret_cast<Fragment*>(self); }

// The content can hold the fragment itself (a list that contains it), so
// the collector must see it.
int fragment_traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  Py_VISIT(as_fragment(self)->content);
  return 0;
}

int fragment_clear(PyObject* self) {
  Py_SETREF(as_fragment(self)->content, Py_NewRef(Py_None));
  return 0;
}

}  // namespace

extern "C" PyObject* vellum_fragment_tp_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  if (kwargs != nullptr || PyTuple_GET_SIZE(args) != 1) {
    PyObject* msg = PyUnicode_FromString("vellum.Fragment() takes exactly 1 positional argument");
    if (msg != nullptr) {
      PyErr_SetObject(PyExc_TypeError, msg);
      Py_DECREF(msg);
    }
    return nullptr;
  }
  // Null with MemoryError set when the record cannot be had. The instance
  // holds a reference to its type, as every instance of a heap type does.
  Fragment* self = PyObject_GC_New(Fragment, type);
  if (self == nullptr) return nullptr;
  self->content = Py_NewRef(PyTuple_GET_ITEM(args, 0));
  PyObject_GC_Track(self);
  return reinterpret_cast<PyObject*>(self);
}

// A chain of fragments (Fragment(Fragment(...))) is freed through the
// interpreter's trashcan, as nested lists are: past a depth the fragment is
// put aside and freed once the stack has unwound, so that freeing a chain
// of any length never recurses once per link.
extern "C" void vellum_fragment_dealloc(PyObject* self) {
  PyObject_GC_UnTrack(self);
  Py_TRASHCAN_BEGIN(self, vellum_fragment_dealloc)
  PyTypeObject* type = Py_TYPE(self);
  Py_DECREF(as_fragment(self)->content);
  PyObject_GC_Del(self);
  Py_DECREF(type);
  Py_TRASHCAN_END
}

extern "C" PyObject* vellum_fragmenttype_new(PyObject* module, const char* doc) {
  PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(vellum_fragment_tp_new)},
      {Py_tp_dealloc, reinterpret_cast<void*>(vellum_fragment_dealloc)},
      {Py_tp_traverse, reinterpret_cast<void*>(fragment_traverse)},
      {Py_tp_clear, reinterpret_cast<void*>(fragment_clear)},
      {Py_tp_doc, const_cast<char*>(doc)},
      {0, nullptr},
  };
  PyType_Spec spec = {
      .name = "vellum.Fragment",
      .basicsize = static_cast<int>(sizeof(Fragment)),
      .itemsize = 0,
      .flags = Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_HAVE_GC,
      .slots = slots,
  };
  PyObject* type = PyType_FromModuleAndSpec(module, &spec, nullptr);
  // The interpreter's type creation can fail to allocate the type's name
  // and return null without an exception.
  if (type == nullptr && !PyErr_Occurred()) PyErr_NoMemory();
  return type;
}
