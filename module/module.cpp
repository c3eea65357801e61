// The module's front door: its definition and exec slot.
#include "base/cpu_features.hpp"
#include "core/export.hpp"
#include "core/fatal.hpp"
#include "core/ffi/compat_module.hpp"
#include "core/fragment.hpp"
#include "core/once.hpp"
#include "core/options.hpp"
#include "core/python.hpp"
#include "core/typeref.hpp"
#include "dumps/dumps.hpp"
#include "loads/key_cache.hpp"
#include "loads/loads.hpp"
#include "module/docstrings.hpp"

namespace vellum {
namespace {

// From pyproject.toml, through the build (CMakeLists.txt).
constexpr const char Version[] = VELLUM_VERSION;

struct Function {
  const char* name;
  PyCFunction meth;
  int flags;
  const char* doc;
};

const Function Functions[] = {
    {"dumps", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(dumps)), METH_FASTCALL | METH_KEYWORDS,
     DumpsDoc},
    {"loads", loads, METH_O, LoadsDoc},
};

// The exception type is a plain heap type, whose docstring is an attribute.
bool set_doc(PyObject* type, const char* doc) {
  PyObject* text = PyUnicode_FromString(doc);
  const bool set = text != nullptr && PyObject_SetAttrString(type, "__doc__", text) == 0;
  Py_XDECREF(text);
  return set;
}

// The process-wide state that every module object shares.
bool set_up_shared_state() {
  if (KEY_MAP == nullptr && !create_key_map()) return false;
  if (!fill_type_refs()) return false;
  if (set_doc(type_refs.exc_decode, JSONDecodeErrorDoc) && create_fragment_type(FragmentDoc)) return true;
  release_type_refs();
  return false;
}

Once shared_state;

// Takes the value's reference, and reports a null value itself.
bool add(PyObject* module, const char* name, PyObject* value) { return ffi::compat::module_add(module, name, value) == 0; }

// The record lives as long as the function.
bool add_function(PyObject* module, PyObject* module_name, const Function& f) {
  auto* def = static_cast<PyMethodDef*>(allocate_or_raise(sizeof(PyMethodDef)));
  if (def == nullptr) return false;
  *def = PyMethodDef{f.name, f.meth, f.flags, f.doc};
  PyObject* function = PyCMethod_New(def, nullptr, module_name, nullptr);
  const bool added = function != nullptr && PyModule_AddObjectRef(module, f.name, function) == 0;
  Py_XDECREF(function);
  // A function that was not added is gone now, and nothing else reads the record.
  if (!added) PyMem_Free(def);
  return added;
}

bool add_attributes(PyObject* module) {
  if (!add(module, "__version__", PyUnicode_FromStringAndSize(Version, sizeof(Version) - 1))) return false;

  PyObject* module_name = PyUnicode_InternFromString("vellum");
  if (module_name == nullptr) return false;
  for (const Function& f : Functions) {
    if (!add_function(module, module_name, f)) {
      Py_DECREF(module_name);
      return false;
    }
  }
  Py_DECREF(module_name);

  if (!add(module, "Fragment", Py_NewRef(type_refs.type_fragment))) return false;
  for (const OptionConstant& c : OptionConstants)
    if (PyModule_AddIntConstant(module, c.name, c.value) != 0) return false;
  return add(module, "JSONDecodeError", Py_NewRef(type_refs.exc_decode)) &&
         add(module, "JSONEncodeError", Py_NewRef(type_refs.exc_encode));
}

}  // namespace
}  // namespace vellum

extern "C" VELLUM_EXPORT int vellum_init_exec(PyObject* module) {
  using namespace vellum;
  // The module's state is process-wide and made of the first importer's
  // objects. The multiple-interpreters slot (from 3.12 on) keeps it out of
  // isolated sub-interpreters only; a sub-interpreter of the legacy kind
  // (every kind on 3.11) would load it, and its objects would be freed with
  // that interpreter.
  if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
    if (PyObject* name = PyModule_GetNameObject(module)) {
      PyErr_Format(PyExc_ImportError, "module %U does not support loading in subinterpreters", name);
      Py_DECREF(name);
    }
    return -1;
  }
  // A failure leaves its exception pending: the import fails with it rather
  // than hand out a half-filled module.
  if (!shared_state.run(set_up_shared_state)) return -1;
  return add_attributes(module) ? 0 : -1;
}

// Test hooks: the host's processor features, and those the routine tables
// were chosen by (within the VELLUM_CPU cap).
extern "C" VELLUM_EXPORT uint64_t vellum_host_features() { return vellum::cpu::features(); }
extern "C" VELLUM_EXPORT uint64_t vellum_selected_features() { return vellum::cpu::selected_features(); }

PyMODINIT_FUNC PyInit_vellum() {
  using vellum::allocate_or_raise;
  // Null with MemoryError set makes the import fail with it.
  using vellum::ffi::compat::VersionSlotCount;
  using vellum::ffi::compat::VersionSlots;
  auto* slots = static_cast<PyModuleDef_Slot*>(allocate_or_raise(sizeof(PyModuleDef_Slot) * (VersionSlotCount + 2)));
  if (slots == nullptr) return nullptr;
  slots[0] = {Py_mod_exec, reinterpret_cast<void*>(vellum_init_exec)};
  for (size_t i = 0; i <= VersionSlotCount; ++i) slots[i + 1] = VersionSlots[i];

  auto* def = static_cast<PyModuleDef*>(allocate_or_raise(sizeof(PyModuleDef)));
  if (def == nullptr) {
    PyMem_Free(slots);
    return nullptr;
  }
  *def = PyModuleDef{
      PyModuleDef_HEAD_INIT, "vellum", vellum::ModuleDoc, 0, nullptr, slots, nullptr, nullptr, nullptr,
  };
  return PyModuleDef_Init(def);
}
