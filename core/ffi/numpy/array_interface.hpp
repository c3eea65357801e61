// numpy's array interface record, as the capsule of an array's
// __array_struct__ holds it (owned by the capsule; read, never written), and
// the element types read from it.
#pragma once

#include <cstdint>

#include "core/ffi/compat_api.hpp"

namespace vellum::ffi::numpy {

struct ArrayInterface {
  int32_t two;  // always 2: the record's own sanity check
  int32_t nd;
  char typekind;
  int32_t itemsize;
  int32_t flags;
  Py_intptr_t* shape;    // nd extents
  Py_intptr_t* strides;  // nd byte steps
  void* data;
  PyObject* descr;
};

inline constexpr int32_t CContiguous = 0x1;
inline constexpr int32_t NotSwapped = 0x200;  // native byte order

// numpy's own limit on the number of dimensions.
inline constexpr int32_t MaxDimensions = 64;

enum class ElementType : uint8_t {
  Bool,
  Float16,
  Float32,
  Float64,
  Int8,
  Int16,
  Int32,
  Int64,
  Uint8,
  Uint16,
  Uint32,
  Uint64,
  Datetime64,
  Unsupported,
};

constexpr ElementType element_type(char typekind, int32_t itemsize) {
  switch (typekind) {
    case 'b':
      return itemsize == 1 ? ElementType::Bool : ElementType::Unsupported;
    case 'f':
      return itemsize == 2   ? ElementType::Float16
             : itemsize == 4 ? ElementType::Float32
             : itemsize == 8 ? ElementType::Float64
                             : ElementType::Unsupported;
    case 'i':
      return itemsize == 1   ? ElementType::Int8
             : itemsize == 2 ? ElementType::Int16
             : itemsize == 4 ? ElementType::Int32
             : itemsize == 8 ? ElementType::Int64
                             : ElementType::Unsupported;
    case 'u':
      return itemsize == 1   ? ElementType::Uint8
             : itemsize == 2 ? ElementType::Uint16
             : itemsize == 4 ? ElementType::Uint32
             : itemsize == 8 ? ElementType::Uint64
                             : ElementType::Unsupported;
    case 'M':
      return itemsize == 8 ? ElementType::Datetime64 : ElementType::Unsupported;
    default:
      return ElementType::Unsupported;
  }
}

}  // namespace vellum::ffi::numpy
