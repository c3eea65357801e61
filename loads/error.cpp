#include "loads/error.hpp"

#include <cstring>

#include "core/pending_error.hpp"
#include "core/pyref.hpp"
#include "core/str/utf8_to_str.hpp"
#include "kernels/utf8/utf8_routines.hpp"
#include "kernels/utf8/validate.hpp"
#include "loads/state.hpp"

namespace vellum {

namespace {

// JSONDecodeError(message, doc, chars), doc a new reference or null.
void raise_with_document(const LoadsState& state, const char* message, PyObject* document, size_t chars) {
  PyRef doc = PyRef::steal(document);
  PyRef pos = PyRef::steal(PyLong_FromSize_t(chars));
  PyRef msg = PyRef::steal(utf8_to_str(reinterpret_cast<const uint8_t*>(message), std::strlen(message)));
  if (!pos || !msg || !doc) return;
  PyRef args = PyRef::steal(PyTuple_Pack(3, msg.get(), doc.get(), pos.get()));
  if (!args) return;
  PyErr_SetObject(state.decode_error, args.get());
}

}  // namespace

void raise_decode_error(const LoadsState& state, const char* message, const uint8_t* document, size_t document_length,
                        size_t position) {
  // Anything pending (the str encoder's error for a lone surrogate) is
  // replaced, not chained; what must reach the caller stays.
  if (pending_error_passes_through()) return;
  PyErr_Clear();
  const size_t chars = document ? utf8_routines.count_chars(document, position) : 0;
  raise_with_document(state, message, document ? utf8_to_str(document, document_length) : Py_NewRef(state.empty_str),
                      chars);
}

void raise_invalid_utf8(const LoadsState& state, const char* message, const uint8_t* document,
                        size_t document_length) {
  // The text before the first invalid byte is valid: it counts the same in
  // the input and in the document with each invalid sequence replaced.
  const size_t position = valid_utf8_prefix(document, document_length);
  raise_with_document(state, message,
                      PyUnicode_DecodeUTF8(reinterpret_cast<const char*>(document),
                                           static_cast<Py_ssize_t>(document_length), "replace"),
                      utf8_routines.count_chars(document, position));
}

}  // namespace vellum
