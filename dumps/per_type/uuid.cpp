#include "dumps/per_type/uuid.hpp"

#include <array>
#include <cstring>

#include "core/ffi/long.hpp"
#include "core/pyref.hpp"
#include "dumps/state.hpp"

namespace vellum {
namespace {

// "00" "01" ... "ff": both hex digits of a byte per lookup.
constexpr std::array<uint8_t, 512> HexPairs = [] {
  constexpr char Digits[] = "0123456789abcdef";
  std::array<uint8_t, 512> t{};
  for (int i = 0; i < 256; ++i) {
    t[2 * i] = static_cast<uint8_t>(Digits[i >> 4]);
    t[2 * i + 1] = static_cast<uint8_t>(Digits[i & 15]);
  }
  return t;
}();

// Bytes of each dash-separated group.
constexpr uint8_t GroupBytes[] = {4, 2, 2, 2, 6};

}  // namespace

EncodeStatus format_uuid(PyObject* uuid, DumpsState& state, Options, ScalarText& text) {
  // The lookup may run Python code (a patched class): the callers hold uuid,
  // which names the type of a failure.
  const PyRef value = PyRef::steal(PyObject_GetAttr(uuid, state.types.name<"int">()));
  if (!value) return not_serializable(uuid);
  uint8_t bytes[16];
  if (!PyLong_Check(value.get())) {
    PyErr_Format(PyExc_TypeError, "UUID.int must be an int, not %s", Py_TYPE(value.get())->tp_name);
    return not_serializable(uuid);
  }
  if (!ffi::long_to_big_endian(value.get(), bytes, sizeof bytes)) {
    PyErr_SetString(PyExc_ValueError, "UUID.int must be within 0 to 2**128 - 1");
    return not_serializable(uuid);
  }
  uint8_t* p = text.data;
  const uint8_t* b = bytes;
  for (uint8_t group : GroupBytes) {
    if (p != text.data) *p++ = '-';
    for (uint8_t i = 0; i < group; ++i, ++b, p += 2) std::memcpy(p, &HexPairs[2 * *b], 2);
  }
  text.end = p;
  return EncodeStatus::ok();
}

EncodeStatus write_uuid(OutputBuffer& out, PyObject* uuid, DumpsState& state, Options options) {
  return write_formatted<&format_uuid, TextStyle::Quoted>(out, uuid, state, options);
}

}  // namespace vellum
