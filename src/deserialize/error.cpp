#include "src/deserialize/error.hpp"

#include <cstring>

#include "src/deserialize/utf8/utf8_count.hpp"
#include "src/pyref.hpp"
#include "src/typeref.hpp"

namespace vellum {

void raise_decode_error(const LoadsFailure& failure) {
  // Anything pending (the str encoder's error for a lone surrogate) is
  // replaced, not chained.
  PyErr_Clear();
  const size_t chars = failure.document ? count_utf8_chars(failure.document, failure.position) : 0;
  PyRef pos = PyRef::steal(PyLong_FromSize_t(chars));
  PyRef msg = PyRef::steal(
      utf8_to_str_routine(reinterpret_cast<const uint8_t*>(failure.message), std::strlen(failure.message)));
  PyRef doc = PyRef::steal(failure.document ? utf8_to_str_routine(failure.document, failure.document_length)
                                            : Py_NewRef(type_refs.empty_str));
  if (!pos || !msg || !doc) return;
  PyRef args = PyRef::steal(PyTuple_Pack(3, msg.get(), doc.get(), pos.get()));
  if (!args) return;
  PyErr_SetObject(type_refs.exc_decode, args.get());
}

}  // namespace vellum
