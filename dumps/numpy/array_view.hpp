// An exact numpy ndarray opened for writing: its array interface record,
// checked, and what its elements are.
#pragma once

#include <cstdint>

#include "core/ffi/numpy/array_interface.hpp"
#include "core/pyref.hpp"
#include "core/python.hpp"
#include "dumps/error.hpp"
#include "dumps/options.hpp"
#include "dumps/per_type/datetime64_calendar.hpp"

namespace vellum {

struct TypeRegistry;

// Everything the writer needs, decided once per array. The record belongs
// to the capsule that open_numpy_array hands out.
struct NumpyArrayView {
  const ffi::numpy::ArrayInterface* record = nullptr;
  ffi::numpy::ElementType element = ffi::numpy::ElementType::Unsupported;
  DatetimeUnit unit = DatetimeUnit::NaT;  // datetime64 only
  PyRef typestr;  // a datetime64 unit outside the table: its type string
  Options options = 0;
};

// What open_numpy_array found.
enum class ArrayCheck : uint8_t {
  Writable,
  // Refused, but `default` may take the array instead.
  NotContiguous,
  DtypeUnsupported,
  UnitUnlisted,
  // Refused.
  Malformed,
  NotNativeEndian,
  // The failure is raised already (the capsule's lookup raised).
  Raised,
};

// Takes the record from the capsule of the array's __array_struct__ and
// checks, in this order: a record that is not one (Malformed), a structured
// element type (whose flags numpy clears), C-contiguity, native byte order,
// then zero dimensions or an element type outside the thirteen. For
// datetime64 it reads the unit, which may be outside the unit table. When
// Writable, `capsule` owns the record.
ArrayCheck open_numpy_array(PyObject* array, const TypeRegistry& types, Options options, PyRef& capsule,
                            NumpyArrayView& view);

inline bool default_takes_array(ArrayCheck check) {
  return check == ArrayCheck::NotContiguous || check == ArrayCheck::DtypeUnsupported ||
         check == ArrayCheck::UnitUnlisted;
}

// The failure of a refused array, raised.
[[gnu::cold]] EncodeStatus refuse_array(ArrayCheck check, const NumpyArrayView& view);

}  // namespace vellum
