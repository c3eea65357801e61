#include "dumps/per_type/datetime64.hpp"

#include <algorithm>
#include <string_view>

#include "dumps/type_registry.hpp"

namespace vellum {

namespace {

constexpr std::string_view UnsupportedUnit = "unsupported numpy.datetime64 unit: ";
constexpr std::string_view Unrepresentable = "unrepresentable numpy.datetime64: ";

// A lookup that raised: out of memory or an interruption fails; anything
// else leaves the unit unreadable (NaT), which fails when a value is
// converted.
EncodeStatus unreadable() {
  if (pending_error_passes_through()) return EncodeStatus::raised();
  PyErr_Clear();
  return EncodeStatus::ok();
}

}  // namespace

EncodeStatus read_datetime_unit(PyObject* obj, const TypeRegistry& types, DatetimeUnit& unit, PyRef& typestr) {
  unit = DatetimeUnit::NaT;
  const PyRef dtype = PyRef::steal(PyObject_GetAttr(obj, types.name<"dtype">()));
  const PyRef descr = dtype ? PyRef::steal(PyObject_GetAttr(dtype.get(), types.name<"descr">())) : PyRef();
  if (!descr) return unreadable();

  // descr is a list of (name, type string) pairs; the first pair's string.
  PyObject* found = nullptr;
  if (PyList_Check(descr.get()) && PyList_GET_SIZE(descr.get()) > 0) {
    PyObject* first = PyList_GET_ITEM(descr.get(), 0);
    if (PyTuple_Check(first) && PyTuple_GET_SIZE(first) >= 2) found = PyTuple_GET_ITEM(first, 1);
  }
  if (found == nullptr || Py_TYPE(found) != &PyUnicode_Type) return EncodeStatus::ok();
  Py_ssize_t size;
  const char* text = PyUnicode_AsUTF8AndSize(found, &size);
  if (text == nullptr) return unreadable();
  unit = datetime_unit_of(std::string_view(text, static_cast<size_t>(size)));
  if (unit == DatetimeUnit::Unlisted) typestr = PyRef::borrow(found);
  return EncodeStatus::ok();
}

EncodeStatus unlisted_unit(PyObject* typestr) {
  Py_ssize_t size;
  // Read once already: its UTF-8 form is cached in the str.
  const char* text = PyUnicode_AsUTF8AndSize(typestr, &size);
  if (text == nullptr) return python_error();
  return encode_failure_text(UnsupportedUnit,
                             datetime_unit_text(std::string_view(text, static_cast<size_t>(size))));
}

EncodeStatus datetime64_failure(Datetime64Failure failure, DatetimeUnit unit, int64_t count) {
  if (failure == Datetime64Failure::UnsupportedUnit)
    return encode_failure_text(UnsupportedUnit, datetime_unit_name(unit));
  // A count, a space and the longest unit name.
  char buf[64];
  char* p = reinterpret_cast<char*>(format_i64(reinterpret_cast<uint8_t*>(buf), count));
  *p++ = ' ';
  const std::string_view name = datetime_unit_name(unit);
  p = std::copy(name.begin(), name.end(), p);
  return encode_failure_text(Unrepresentable, std::string_view(buf, static_cast<size_t>(p - buf)));
}

}  // namespace vellum
