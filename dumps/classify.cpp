#include "dumps/per_type/dataclass_class.hpp"
#include "dumps/per_type/enum.hpp"
#include "dumps/serializer.hpp"
#include "core/typeref.hpp"

namespace vellum {
namespace {

bool is_numpy_scalar(PyTypeObject* type, const NumpyTypes* np) {
  if (np == nullptr) return false;
  auto* t = reinterpret_cast<PyObject*>(type);
  // A field numpy lacks is null and never matches.
  for (PyObject* scalar : {np->float64, np->float32, np->float16, np->int64, np->int32, np->int16, np->int8,
                           np->uint64, np->uint32, np->uint16, np->uint8, np->bool_, np->datetime64}) {
    if (scalar != nullptr && scalar == t) return true;
  }
  return false;
}

}  // namespace

ObjectKind classify_slow(PyTypeObject* type, Options options) {
  const TypeRefs& refs = type_refs;
  if (type == refs.type_uuid) return ObjectKind::KindUuid;
  if (type == &PyTuple_Type) return ObjectKind::KindTuple;
  if (type == refs.type_fragment) return ObjectKind::KindFragment;
  if (!(options & OPT_PASSTHROUGH_DATETIME)) {
    if (type == refs.type_date) return ObjectKind::KindDate;
    if (type == refs.type_time) return ObjectKind::KindTime;
  }
  if (!(options & OPT_PASSTHROUGH_SUBCLASS)) {
    const unsigned long flags = type->tp_flags;
    if (flags & Py_TPFLAGS_UNICODE_SUBCLASS) return ObjectKind::KindStrSubclass;
    if (flags & Py_TPFLAGS_LONG_SUBCLASS) return ObjectKind::KindInt;
    if (flags & Py_TPFLAGS_LIST_SUBCLASS) return ObjectKind::KindList;
    if (flags & Py_TPFLAGS_DICT_SUBCLASS) return ObjectKind::KindDict;
  }
  if (is_enum_type(type)) return ObjectKind::KindEnum;
  if (!(options & OPT_PASSTHROUGH_DATACLASS) && is_dataclass_type(type)) return ObjectKind::KindDataclass;
  if (!(options & OPT_SERIALIZE_NUMPY)) return ObjectKind::KindOther;
  const NumpyTypes* np = numpy_types();
  // Importing numpy was interrupted, or ran out of memory.
  if (np == nullptr) return PyErr_Occurred() ? ObjectKind::KindFailed : ObjectKind::KindOther;
  if (is_numpy_scalar(type, np)) return ObjectKind::KindNumpyScalar;
  if (reinterpret_cast<PyObject*>(type) == np->ndarray) return ObjectKind::KindNumpyArray;
  return ObjectKind::KindOther;
}

}  // namespace vellum
