#include "dumps/classify.hpp"

namespace vellum {

Kind classify_numpy(PyTypeObject* type, TypeRegistry& types) {
  const NumpyTypes* np = numpy_types(types);
  // Importing numpy was interrupted, or ran out of memory.
  if (np == nullptr) return {PyErr_Occurred() ? ObjectKind::Failed : ObjectKind::Other};
  PyObject* const object = as_object(type);
  // A field numpy lacks is null and never matches.
  for (PyObject* scalar : {np->float64, np->float32, np->float16, np->int64, np->int32, np->int16, np->int8,
                           np->uint64, np->uint32, np->uint16, np->uint8, np->bool_, np->datetime64}) {
    if (scalar != nullptr && scalar == object) return {ObjectKind::NumpyScalar};
  }
  if (object == np->ndarray) return {ObjectKind::NumpyArray};
  return {ObjectKind::Other};
}

}  // namespace vellum
