// The module's front door: its definition and exec slot.
#include "src/export.hpp"
#include "src/fatal.hpp"
#include "src/options.hpp"
#include "src/python.hpp"
#include "src/deserialize/loads.hpp"
#include "src/serialize/dumps.hpp"
#include "src/typeref.hpp"


namespace vellum {
namespace {

constexpr const char version[] = "3.11.9";

struct Function {
  const char* name;
  PyCFunction meth;
  int flags;
  const char* doc;
};

const Function functions[] = {
    {"dumps", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(dumps)), METH_FASTCALL | METH_KEYWORDS,
     dumps_doc},
    {"loads", loads, METH_O, loads_doc},
};

void add_function(PyObject* module, PyObject* module_name, const Function& f) {
  auto* def = static_cast<PyMethodDef*>(checked_malloc(sizeof(PyMethodDef)));
  *def = PyMethodDef{f.name, f.meth, f.flags, f.doc};
  PyModule_Add(module, f.name, PyCMethod_New(def, nullptr, module_name, nullptr));
}

}  // namespace
}  // namespace vellum

extern "C" VELLUM_EXPORT int vellum_init_exec(PyObject* module) {
  using namespace vellum;
  if (!init_type_refs()) return -1;

  PyModule_Add(module, "__version__", PyUnicode_FromStringAndSize(version, sizeof(version) - 1));

  PyObject* module_name = PyUnicode_InternFromString("vellum");
  if (module_name == nullptr) return -1;
  for (const Function& f : functions) add_function(module, module_name, f);
  Py_DECREF(module_name);

  PyModule_Add(module, "Fragment", Py_NewRef(reinterpret_cast<PyObject*>(type_refs.type_fragment)));
  for (const OptionConstant& c : option_constants) PyModule_AddIntConstant(module, c.name, c.value);
  PyModule_Add(module, "JSONDecodeError", Py_NewRef(type_refs.exc_decode));
  PyModule_Add(module, "JSONEncodeError", Py_NewRef(type_refs.exc_encode));
  // A failed addition leaves its exception pending; report it rather than
  // hand out a half-filled module.
  return PyErr_Occurred() ? -1 : 0;
}

PyMODINIT_FUNC PyInit_vellum() {
  using vellum::checked_malloc;
  auto* slots = static_cast<PyModuleDef_Slot*>(checked_malloc(sizeof(PyModuleDef_Slot) * 4));
  slots[0] = {Py_mod_exec, reinterpret_cast<void*>(vellum_init_exec)};
  slots[1] = {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED};
  slots[2] = {Py_mod_gil, Py_MOD_GIL_USED};
  slots[3] = {0, nullptr};

  auto* def = static_cast<PyModuleDef*>(checked_malloc(sizeof(PyModuleDef)));
  *def = PyModuleDef{
      PyModuleDef_HEAD_INIT, "vellum", nullptr, 0, nullptr, slots, nullptr, nullptr, nullptr,
  };
  return PyModuleDef_Init(def);
}
