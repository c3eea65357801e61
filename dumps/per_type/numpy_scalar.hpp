// numpy's scalar objects (the thirteen types of NumpyTypes other than
// ndarray), written from the value stored in the object itself.
#pragma once

#include <cstdint>

#include "core/python.hpp"
#include "dumps/error.hpp"
#include "dumps/output_buffer.hpp"

namespace vellum {

struct TypeRegistry;

// obj is an instance of exactly one of the scalar types, which classify
// found in the registry's numpy types (probed already); state is the
// serializer's state word (its options govern datetime64 texts). Only a
// datetime64 can fail.
EncodeStatus write_numpy_scalar(PyObject* obj, const TypeRegistry& types, uint32_t state, OutputBuffer& out);

}  // namespace vellum
