// An exact numpy ndarray opened for writing: its array interface record,
// checked, and what its elements are.
#pragma once

#include "core/ffi/numpy/array_interface.hpp"
#include "core/ffi/numpy/datetime.hpp"
#include "core/options.hpp"
#include "core/pyref.hpp"
#include "core/python.hpp"
#include "dumps/error.hpp"

namespace vellum {

// Everything the writer needs, decided once per array. The record belongs
// to the capsule that open_numpy_array hands out.
struct NumpyArrayView {
  const ffi::numpy::ArrayInterface* record = nullptr;
  ffi::numpy::ElementType element = ffi::numpy::ElementType::Unsupported;
  ffi::numpy::DatetimeUnit unit = ffi::numpy::DatetimeUnit::NaT;  // datetime64 only
  Options options = 0;
};

// Takes the record from the capsule of the array's __array_struct__ and
// checks, in this order: a record that is not one ("numpy array is
// malformed"), a structured element type (whose flags numpy clears),
// C-contiguity, native byte order, then zero dimensions or an element type
// outside the thirteen. For datetime64 it reads the unit,
// which fails for a unit text outside the table. On success `capsule` owns
// the record.
EncodeStatus open_numpy_array(PyObject* array, Options options, PyRef& capsule, NumpyArrayView& view);

// Whether `default` may take the array in place of this failure of
// open_numpy_array: not contiguous, an unsupported element type, or a
// datetime64 unit outside the table.
inline bool default_takes_array(const EncodeStatus& status, const NumpyArrayView& view) {
  return status.kind == EncodeErrorKind::ArrayNotContiguous || status.kind == EncodeErrorKind::ArrayDtypeUnsupported ||
         (status.kind == EncodeErrorKind::Datetime64Message && view.unit == ffi::numpy::DatetimeUnit::Unlisted);
}

}  // namespace vellum
