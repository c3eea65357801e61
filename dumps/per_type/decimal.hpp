// decimal.Decimal as a JSON number with exactly its digits (under
// OPT_DECIMAL).
#pragma once

#include "core/python.hpp"
#include "dumps/error.hpp"
#include "dumps/options.hpp"
#include "dumps/output_buffer.hpp"
#include "dumps/text.hpp"

namespace vellum {

// A Decimal or a subclass's instance: the text Decimal's own __str__ gives
// it (never a subclass's), which is a JSON number for every finite value;
// null for NaN, sNaN and the infinities, as for a float.
EncodeStatus write_decimal(OutputBuffer& out, PyObject* decimal, DumpsState& state, Options options);

// The same text as a dict key, appended whole (it has no bound).
EncodeStatus append_decimal_key(PyObject* decimal, DumpsState& state, Options options, KeyTexts& texts);

}  // namespace vellum
