#include "dumps/per_type/datetime64.hpp"

#include <algorithm>
#include <string_view>

#include "core/pyref.hpp"
#include "core/str/utf8_to_str.hpp"
#include "core/typeref.hpp"

namespace vellum {

using ffi::numpy::Datetime64Failure;
using ffi::numpy::DatetimeUnit;

namespace {

constexpr std::string_view UnsupportedUnit = "unsupported numpy.datetime64 unit: ";
constexpr std::string_view Unrepresentable = "unrepresentable numpy.datetime64: ";

// The text as a Datetime64Message, or the pending MemoryError.
EncodeStatus message(std::string_view text) {
  PyObject* str = utf8_to_str(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  if (str == nullptr) return EncodeStatus::fail(EncodeErrorKind::PythonError);
  return EncodeStatus::datetime64_message(str);
}

// A lookup that raised: out of memory or an interruption is raised as it
// is; anything else leaves the unit unreadable (NaT), which fails when a
// value is converted.
EncodeStatus unreadable() {
  if (pending_error_passes_through()) return EncodeStatus::fail(EncodeErrorKind::PythonError);
  PyErr_Clear();
  return EncodeStatus::ok();
}

}  // namespace

EncodeStatus read_datetime_unit(PyObject* obj, DatetimeUnit& unit) {
  unit = DatetimeUnit::NaT;
  const PyRef dtype = PyRef::steal(PyObject_GetAttr(obj, type_refs.name_dtype));
  const PyRef descr = dtype ? PyRef::steal(PyObject_GetAttr(dtype.get(), type_refs.name_descr)) : PyRef();
  if (!descr) return unreadable();

  // descr is a list of (name, type string) pairs; the first pair's string.
  PyObject* typestr = nullptr;
  if (PyList_Check(descr.get()) && PyList_GET_SIZE(descr.get()) > 0) {
    PyObject* first = PyList_GET_ITEM(descr.get(), 0);
    if (PyTuple_Check(first) && PyTuple_GET_SIZE(first) >= 2) typestr = PyTuple_GET_ITEM(first, 1);
  }
  if (typestr == nullptr || Py_TYPE(typestr) != &PyUnicode_Type) return EncodeStatus::ok();
  Py_ssize_t size;
  const char* text = PyUnicode_AsUTF8AndSize(typestr, &size);
  if (text == nullptr) return unreadable();

  const std::string_view typestr_text(text, static_cast<size_t>(size));
  unit = ffi::numpy::datetime_unit_of(typestr_text);
  if (unit != DatetimeUnit::Unlisted) return EncodeStatus::ok();
  const std::string_view unit_text = ffi::numpy::datetime_unit_text(typestr_text);
  const size_t length = UnsupportedUnit.size() + unit_text.size();
  auto* buf = static_cast<char*>(PyMem_Malloc(length));
  if (buf == nullptr) {
    PyErr_NoMemory();
    return EncodeStatus::fail(EncodeErrorKind::PythonError);
  }
  std::copy(unit_text.begin(), unit_text.end(), std::copy(UnsupportedUnit.begin(), UnsupportedUnit.end(), buf));
  const EncodeStatus status = message({buf, length});
  PyMem_Free(buf);
  return status;
}

EncodeStatus datetime64_failure(Datetime64Failure failure, DatetimeUnit unit, int64_t count) {
  // Room for either prefix, a count, a space and the longest unit name.
  uint8_t buf[128];
  uint8_t* p = buf;
  const std::string_view name = ffi::numpy::datetime_unit_name(unit);
  if (failure == Datetime64Failure::UnsupportedUnit) {
    p = std::copy(UnsupportedUnit.begin(), UnsupportedUnit.end(), p);
  } else {
    p = std::copy(Unrepresentable.begin(), Unrepresentable.end(), p);
    p = format_i64(p, count);
    *p++ = ' ';
  }
  p = std::copy(name.begin(), name.end(), p);
  return message({reinterpret_cast<const char*>(buf), static_cast<size_t>(p - buf)});
}

}  // namespace vellum
