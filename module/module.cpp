// The module's front door: its definition, its exec slot and the state each
// module object holds.
#include "base/cpu_features.hpp"
#include "core/allocate.hpp"
#include "core/export.hpp"
#include "core/ffi/compat_module.hpp"
#include "core/ffi/module_state.hpp"
#include "core/python.hpp"
#include "dumps/dumps.hpp"
#include "dumps/fragment.hpp"
#include "dumps/options.hpp"
#include "loads/loads.hpp"
#include "module/docstrings.hpp"
#include "module/state.hpp"

// The functions' calls: `self` is the module, whose state they pass down.
extern "C" VELLUM_EXPORT PyObject* dumps(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return vellum::dumps(vellum::module_state(module).dumps, args, nargsf, kwnames);
}

extern "C" VELLUM_EXPORT PyObject* loads(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return vellum::loads(vellum::module_state(module).loads, args, nargsf, kwnames);
}

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
    {"dumps", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(::dumps)), METH_FASTCALL | METH_KEYWORDS,
     DumpsDoc},
    {"loads", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(::loads)), METH_FASTCALL | METH_KEYWORDS,
     LoadsDoc},
};

// Takes the value's reference, and reports a null value itself.
bool add(PyObject* module, const char* name, PyObject* value) { return ffi::compat::module_add(module, name, value) == 0; }

// The record lives as long as the function, which is bound to the module:
// its calls find the module's state through it.
bool add_function(PyObject* module, PyObject* module_name, const Function& f) {
  auto* def = static_cast<PyMethodDef*>(allocate_or_raise(sizeof(PyMethodDef)));
  if (def == nullptr) return false;
  *def = PyMethodDef{f.name, f.meth, f.flags, f.doc};
  PyObject* function = PyCMethod_New(def, module, module_name, nullptr);
  const bool added = function != nullptr && PyModule_AddObjectRef(module, f.name, function) == 0;
  Py_XDECREF(function);
  // A function that was not added is gone now, and nothing else reads the record.
  if (!added) PyMem_Free(def);
  return added;
}

bool add_attributes(PyObject* module, const ModuleState& state) {
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

  if (!add(module, "Fragment", Py_NewRef(state.dumps.types.fragment))) return false;
  for (const OptionConstant& c : OptionConstants)
    if (PyModule_AddIntConstant(module, c.name, c.value) != 0) return false;
  return add(module, "JSONDecodeError", Py_NewRef(state.loads.decode_error)) &&
         add(module, "JSONEncodeError", Py_NewRef(PyExc_TypeError));
}

// The state of a module object whose exec has not run (or failed half way)
// is zero-filled or partly filled: releasing it is always sound.
int module_traverse(PyObject* module, visitproc visit, void* arg) {
  const ModuleState& state = module_state(module);
  if (const int stop = traverse_dumps_state(state.dumps, visit, arg)) return stop;
  return traverse_loads_state(state.loads, visit, arg);
}

int module_clear(PyObject* module) {
  ModuleState& state = module_state(module);
  release_dumps_state(state.dumps);
  release_loads_state(state.loads);
  return 0;
}

void module_free(void* module) { module_clear(static_cast<PyObject*>(module)); }

}  // namespace
}  // namespace vellum

extern "C" VELLUM_EXPORT int vellum_init_exec(PyObject* module) {
  using namespace vellum;
  // Each module object holds its own state, but the state is not yet safe
  // to share between interpreters that run at the same time (every kind on
  // 3.11): the multiple-interpreters slot (from 3.12 on) keeps the module out
  // of isolated sub-interpreters only, so exec refuses the legacy kind too.
  if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
    if (PyObject* name = PyModule_GetNameObject(module)) {
      PyErr_Format(PyExc_ImportError, "module %U does not support loading in subinterpreters", name);
      Py_DECREF(name);
    }
    return -1;
  }
  // The functions read their module's state from the module record.
  if (ffi::module_state(module) != PyModule_GetState(module)) {
    PyErr_SetString(PyExc_SystemError, "vellum: the module record is not laid out as this build expects");
    return -1;
  }
  // A failure leaves its exception pending: the import fails with it rather
  // than hand out a half-filled module, whose state is released with it.
  ModuleState& state = module_state(module);
  if (!fill_dumps_state(state.dumps) || !fill_loads_state(state.loads, JSONDecodeErrorDoc)) return -1;
  state.dumps.types.fragment = vellum_fragmenttype_new(module, FragmentDoc);
  if (state.dumps.types.fragment == nullptr) return -1;
  return add_attributes(module, state) ? 0 : -1;
}

// Test hooks: the host's processor features, and those the routine tables
// were chosen by (within the VELLUM_CPU cap); a str put in the slot of a key
// text of the module's key cache, as a hash collision would leave it.
extern "C" VELLUM_EXPORT uint64_t vellum_host_features() { return vellum::cpu::features(); }
extern "C" VELLUM_EXPORT uint64_t vellum_selected_features() { return vellum::cpu::selected_features(); }
extern "C" VELLUM_EXPORT void vellum_key_cache_store(PyObject* module, const uint8_t* p, size_t n, PyObject* str) {
  vellum::stage_str(vellum::module_state(module).loads.keys, p, n, str);
}

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
      PyModuleDef_HEAD_INIT, "vellum", vellum::ModuleDoc, sizeof(vellum::ModuleState), nullptr, slots,
      vellum::module_traverse, vellum::module_clear, vellum::module_free,
  };
  return PyModuleDef_Init(def);
}
