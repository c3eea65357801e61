// numpy's scalar objects (the thirteen types of NumpyTypes other than
// ndarray), written from the value stored in the object itself.
#pragma once

#include <cstdint>

#include "core/python.hpp"
#include "dumps/error.hpp"
#include "dumps/output_buffer.hpp"
#include "dumps/serializer.hpp"

namespace vellum {

// obj is an instance of exactly one of the scalar types, which classify
// found in the registry's numpy types (probed already); the options of the
// context's state word govern datetime64 texts. Only a datetime64 can fail.
EncodeStatus write_numpy_scalar(PyObject* obj, SerializeContext ctx, OutputBuffer& out);

}  // namespace vellum
