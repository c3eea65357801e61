#include "loads/error.hpp"

#include <cstring>

#include "core/pending_error.hpp"
#include "core/pyref.hpp"
#include "kernels/utf8/utf8_routines.hpp"
#include "core/str/utf8_to_str.hpp"
#include "core/typeref.hpp"

namespace vellum {

void raise_decode_error(const char* message, const uint8_t* document, size_t document_length, size_t position) {
  // Anything pending (the str encoder's error for a lone surrogate) is
  // replaced, not chained; what must reach the caller stays.
  if (pending_error_passes_through()) return;
  PyErr_Clear();
  const size_t chars = document ? utf8_routines.count_chars(document, position) : 0;
  PyRef pos = PyRef::steal(PyLong_FromSize_t(chars));
  PyRef msg = PyRef::steal(utf8_to_str(reinterpret_cast<const uint8_t*>(message), std::strlen(message)));
  PyRef doc = PyRef::steal(document ? utf8_to_str(document, document_length) : Py_NewRef(type_refs.empty_str));
  if (!pos || !msg || !doc) return;
  PyRef args = PyRef::steal(PyTuple_Pack(3, msg.get(), doc.get(), pos.get()));
  if (!args) return;
  PyErr_SetObject(type_refs.exc_decode, args.get());
}

}  // namespace vellum
