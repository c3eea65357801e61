#include "dumps/numpy/array_view.hpp"

#include "dumps/per_type/datetime64.hpp"
#include "dumps/type_registry.hpp"

namespace vellum {

using ffi::numpy::ArrayInterface;
using ffi::numpy::ElementType;

namespace {

// The capsule's lookup raised: its exception becomes the cause of
// "malformed"; out of memory or an interruption is raised as it is.
ArrayCheck lookup_failed() {
  raise_encode_failure(EncodeErrorKind::ArrayMalformed);
  return ArrayCheck::Raised;
}

// The record's own fields agree with each other: a dimension count numpy
// can have, shape and strides present, no negative extent, data present
// unless the array is empty.
bool well_formed(const ArrayInterface& r) {
  if (r.two != 2 || r.nd < 0 || r.nd > ffi::numpy::MaxDimensions) return false;
  if (r.nd == 0) return true;
  if (r.shape == nullptr || r.strides == nullptr) return false;
  bool empty = false;
  for (int32_t d = 0; d < r.nd; ++d) {
    if (r.shape[d] < 0) return false;
    empty |= r.shape[d] == 0;
  }
  return empty || r.data != nullptr;
}

// The strides are those of C order, which the rows are read by: each
// dimension of more than one index steps over the whole of the dimensions
// after it. (An empty array, or a dimension of one index, has any strides.)
bool strides_in_c_order(const ArrayInterface& r) {
  for (int32_t d = 0; d < r.nd; ++d)
    if (r.shape[d] == 0) return true;
  Py_intptr_t span = r.itemsize;
  for (int32_t d = r.nd - 1; d >= 0; --d) {
    if (r.shape[d] != 1 && r.strides[d] != span) return false;
    if (__builtin_mul_overflow(span, r.shape[d], &span)) return false;
  }
  return true;
}

}  // namespace

ArrayCheck open_numpy_array(PyObject* array, const TypeRegistry& types, Options options, PyRef& capsule,
                            NumpyArrayView& view) {
  PyRef found = PyRef::steal(PyObject_GetAttr(array, types.name<"__array_struct__">()));
  if (!found) return lookup_failed();
  if (!PyCapsule_CheckExact(found.get())) return ArrayCheck::Malformed;
  const auto* record = static_cast<const ArrayInterface*>(PyCapsule_GetPointer(found.get(), nullptr));
  if (record == nullptr) return lookup_failed();

  if (!well_formed(*record)) return ArrayCheck::Malformed;
  // numpy clears every flag of a structured (record) array's interface, so
  // its element type is what tells first.
  if (record->typekind == 'V') return ArrayCheck::DtypeUnsupported;
  if (!(record->flags & ffi::numpy::CContiguous)) return ArrayCheck::NotContiguous;
  if (!(record->flags & ffi::numpy::NotSwapped)) return ArrayCheck::NotNativeEndian;
  const ElementType element = ffi::numpy::element_type(record->typekind, record->itemsize);
  if (record->nd == 0 || element == ElementType::Unsupported) return ArrayCheck::DtypeUnsupported;
  if (!strides_in_c_order(*record)) return ArrayCheck::Malformed;

  view.record = record;
  view.element = element;
  view.options = options;
  if (element == ElementType::Datetime64) {
    if (read_datetime_unit(array, types, view.unit, view.typestr).failed()) return ArrayCheck::Raised;
    if (view.typestr) return ArrayCheck::UnitUnlisted;
  }
  capsule = std::move(found);
  return ArrayCheck::Writable;
}

EncodeStatus refuse_array(ArrayCheck check, const NumpyArrayView& view) {
  switch (check) {
    case ArrayCheck::NotContiguous:
      return encode_failure(EncodeErrorKind::ArrayNotContiguous);
    case ArrayCheck::DtypeUnsupported:
      return encode_failure(EncodeErrorKind::ArrayDtypeUnsupported);
    case ArrayCheck::UnitUnlisted:
      return unlisted_unit(view.typestr.get());
    case ArrayCheck::Malformed:
      return encode_failure(EncodeErrorKind::ArrayMalformed);
    case ArrayCheck::NotNativeEndian:
      return encode_failure(EncodeErrorKind::ArrayNotNativeEndian);
    case ArrayCheck::Writable:
    case ArrayCheck::Raised:
      break;
  }
  return EncodeStatus::raised();
}

}  // namespace vellum
