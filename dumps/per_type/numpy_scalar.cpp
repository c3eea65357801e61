#include "dumps/per_type/numpy_scalar.hpp"

#include <cstring>

#include "core/pyref.hpp"
#include "dumps/number.hpp"
#include "dumps/per_type/datetime64.hpp"
#include "dumps/serializer.hpp"
#include "dumps/state.hpp"
#include "dumps/text.hpp"
#include "kernels/number/half.hpp"

namespace vellum {
namespace {

// A numpy scalar holds its value right after the object header, in native
// byte order.
template <typename T>
T scalar_value(PyObject* obj) {
  T value;
  std::memcpy(&value, reinterpret_cast<const uint8_t*>(obj) + sizeof(PyObject), sizeof(T));
  return value;
}

EncodeStatus written(bool ok) { return ok ? EncodeStatus::ok() : python_error(); }

EncodeStatus write_datetime64_scalar(PyObject* obj, const TypeRegistry& types, Options options, OutputBuffer& out) {
  // The unit lookups may run Python code; the caller holds the scalar.
  DatetimeUnit unit;
  PyRef typestr;
  VELLUM_TRY(read_datetime_unit(obj, types, unit, typestr));
  if (typestr) return unlisted_unit(typestr.get());
  const auto count = scalar_value<int64_t>(obj);
  const Datetime64Conversion c = datetime64_to_civil(unit, count);
  if (c.failure != Datetime64Failure::None) return datetime64_failure(c.failure, unit, count);
  return write_text(out, TextStyle::Quoted, [&c, options](ScalarText& text) __attribute__((always_inline)) {
    text.end = put_datetime64(text.data, c.value, options);
    return EncodeStatus::ok();
  });
}

}  // namespace

EncodeStatus write_numpy_scalar(PyObject* obj, const TypeRegistry& types, uint32_t state, OutputBuffer& out) {
  const NumpyTypes& np = types.numpy;
  auto* type = reinterpret_cast<PyObject*>(Py_TYPE(obj));
  if (type == np.float64) return written(write_f64(out, scalar_value<double>(obj)));
  if (type == np.float32) return written(write_f32(out, scalar_value<float>(obj)));
  if (type == np.int64) return written(write_fixed_int(out, scalar_value<int64_t>(obj)));
  if (type == np.int32) return written(write_fixed_int(out, scalar_value<int32_t>(obj)));
  if (type == np.bool_) {
    const bool set = (scalar_value<uint8_t>(obj) & 1) != 0;
    return write_text(out, TextStyle::Plain, [set](ScalarText& text) __attribute__((always_inline)) {
      text.end = set ? put_literal(text.data, LiteralTrue, LiteralTrueSize)
                     : put_literal(text.data, LiteralFalse, LiteralFalseSize);
      return EncodeStatus::ok();
    });
  }
  if (type == np.uint8) return written(write_fixed_int(out, scalar_value<uint8_t>(obj)));
  if (type == np.int8) return written(write_fixed_int(out, scalar_value<int8_t>(obj)));
  if (type == np.int16) return written(write_fixed_int(out, scalar_value<int16_t>(obj)));
  if (type == np.uint16) return written(write_fixed_int(out, scalar_value<uint16_t>(obj)));
  if (type == np.uint32) return written(write_fixed_int(out, scalar_value<uint32_t>(obj)));
  if (type == np.uint64) return written(write_fixed_int(out, scalar_value<uint64_t>(obj)));
  if (type == np.float16) {
    float value;
    half_routines.half_to_float(reinterpret_cast<const uint8_t*>(obj) + sizeof(PyObject), 1, &value);
    return written(write_f32(out, value));
  }
  if (type == np.datetime64) return write_datetime64_scalar(obj, types, state::options(state), out);
  return not_serializable(obj);  // classified as a scalar: never reached
}

}  // namespace vellum
