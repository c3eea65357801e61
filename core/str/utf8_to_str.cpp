#include "core/str/utf8_to_str.hpp"

#include <cstring>

#include "kernels/utf8/utf8_routines.hpp"

namespace vellum {

PyObject* utf8_to_str(const uint8_t* p, size_t n) {
  // The interpreter's own empty str.
  if (n == 0) return PyUnicode_New(0, 0);
  const Utf8Shape shape = utf8_routines.shape(p, n);
  PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(shape.chars), shape.max_char);
  if (str == nullptr) return nullptr;
  if (shape.max_char == 127)
    std::memcpy(PyUnicode_DATA(str), p, n);
  else
    utf8_routines.decode(p, n, PyUnicode_DATA(str), PyUnicode_KIND(str));
  return str;
}

}  // namespace vellum
