#include "loads/build.hpp"

#include <cstring>

#include "loads/key_cache.hpp"
#include "core/ffi/internal.hpp"
#include "core/str/utf8_to_str.hpp"
#include "core/typeref.hpp"

namespace vellum {
namespace {

// Presizing pays off only above the size a new dict holds anyway.
constexpr uint64_t PresizeAbove = 8;

const JsonValue* next_sibling(const JsonValue* v) {
  return v->is_container() ? reinterpret_cast<const JsonValue*>(reinterpret_cast<const uint8_t*>(v) + v->distance)
                           : v + 1;
}

// Whether the n <= 16 bytes at p are ASCII. The text lies in the reader's
// copy of the input, which holds at least eight bytes after any string's
// text (its closing quote, then the zero tail), so whole words may be read.
inline bool short_ascii(const uint8_t* p, size_t n) {
  uint64_t head, last;
  std::memcpy(&head, p, 8);
  if (n <= 8) return (head & (0x8080808080808080u >> (64 - 8 * n))) == 0;
  std::memcpy(&last, p + n - 8, 8);
  return ((head | last) & 0x8080808080808080u) == 0;
}

PyObject* new_str(const JsonValue* v) {
  const size_t n = v->length();
  if (n == 0) return Py_NewRef(type_refs.empty_str);
  // Most strings are short and ASCII: made here, without the width scan.
  if (n <= 16 && short_ascii(v->text, n)) {
    PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(n), 127);
    if (str != nullptr) std::memcpy(PyUnicode_DATA(str), v->text, n);
    return str;
  }
  return utf8_to_str(v->text, n);
}

// Scalars, and containers created empty at their final size (filled later,
// after they are placed in their parent).
PyObject* create_value(const JsonValue* v) {
  switch (v->type_code()) {
    case tag::Null:
      return Py_None;
    case tag::False:
      return Py_False;
    case tag::True:
      return Py_True;
    case tag::Unsigned:
      // The signed form builds one-digit ints directly; the unsigned one
      // always counts digits.
      return v->u64 <= INT64_MAX ? PyLong_FromLongLong(static_cast<int64_t>(v->u64))
                                 : PyLong_FromUnsignedLongLong(v->u64);
    case tag::Signed:
      return PyLong_FromLongLong(v->i64);
    case tag::Real:
      return PyFloat_FromDouble(v->f64);
    case tag::String:
      return new_str(v);
    case tag::Array:
      return PyList_New(static_cast<Py_ssize_t>(v->length()));
    case tag::Object:
      return v->length() > PresizeAbove ? _PyDict_NewPresized(static_cast<Py_ssize_t>(v->length())) : PyDict_New();
  }
  __builtin_unreachable();
}

bool fill(PyObject* container, const JsonValue* v);

bool fill_list(PyObject* list, const JsonValue* array) {
  const JsonValue* child = array + 1;
  const Py_ssize_t count = static_cast<Py_ssize_t>(array->length());
  for (Py_ssize_t i = 0; i < count; ++i) {
    PyObject* item = create_value(child);
    if (item == nullptr) return false;
    PyList_SET_ITEM(list, i, item);
    if (child->is_container() && child->length() != 0 && !fill(item, child)) return false;
    child = next_sibling(child);
  }
  return true;
}

PyObject* dict_key(const JsonValue* key) {
  const size_t n = key->length();
  if (n <= MaxCachedKeyLength) return key_str(key->text, n);
  PyObject* str = utf8_to_str(key->text, n);
  if (str != nullptr) ffi::set_str_hash(str);
  return str;
}

bool fill_dict(PyObject* dict, const JsonValue* object) {
  const JsonValue* key = object + 1;
  for (uint64_t i = object->length(); i > 0; --i) {
    const JsonValue* value = key + 1;
    PyObject* k = dict_key(key);
    if (k == nullptr) return false;
    PyObject* item = create_value(value);
    if (item == nullptr) {
      Py_DECREF(k);
      return false;
    }
    const int status =
        _PyDict_SetItem_KnownHash_LockHeld(reinterpret_cast<PyDictObject*>(dict), k, item, ffi::str_hash(k));
    Py_DECREF(k);
    Py_DECREF(item);  // the dict holds its own; a container is kept alive by it
    if (status != 0) return false;
    if (value->is_container() && value->length() != 0 && !fill(item, value)) return false;
    key = next_sibling(value);
  }
  return true;
}

bool fill(PyObject* container, const JsonValue* v) {
  return v->type_code() == tag::Array ? fill_list(container, v) : fill_dict(container, v);
}

}  // namespace

PyObject* build_object(const JsonValue* root) {
  PyObject* result = create_value(root);
  if (result == nullptr) return nullptr;
  if (root->is_container() && root->length() != 0 && !fill(result, root)) {
    Py_DECREF(result);
    return nullptr;
  }
  return result;
}

}  // namespace vellum
