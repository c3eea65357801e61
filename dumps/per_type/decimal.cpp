#include "dumps/per_type/decimal.hpp"

#include "core/pyref.hpp"
#include "core/str/utf8_view.hpp"
#include "dumps/key_text.hpp"
#include "dumps/kinds.hpp"
#include "dumps/state.hpp"

namespace vellum {
namespace {

// Decimal's text through the type's own slot, so that a subclass's __str__
// plays no part; the C implementation's runs no Python code. Digits, with a
// point or an exponent where the value's exponent asks for one ("1.50",
// "-0", "1E+3", "0E-7"), or "NaN", "sNaN", "Infinity" after an optional
// sign. A new reference, or null with the exception pending.
PyObject* decimal_str(PyObject* decimal, const DumpsState& state) {
  constexpr uint8_t Row = scalar_row("Decimal");
  return as_type(state.types.scalar_types[Row])->tp_str(decimal);
}

// Hands `put` the text to write: the number's, or null's for a value that
// is not finite; fails as a value that cannot be written when Decimal's
// text cannot be made.
template <class Put>
EncodeStatus put_text(PyObject* decimal, const DumpsState& state, Put put) {
  const PyRef str = PyRef::steal(decimal_str(decimal, state));
  Utf8View text;
  if (!str || !string_utf8(str.get(), text)) return not_serializable(decimal);
  const uint8_t first = text.data[text.data[0] == '-' && text.size > 1];
  if (first < '0' || first > '9') text = {reinterpret_cast<const uint8_t*>(LiteralNull), LiteralNullSize};
  return put(text) ? EncodeStatus::ok() : python_error();
}

}  // namespace

EncodeStatus write_decimal(OutputBuffer& out, PyObject* decimal, DumpsState& state, Options) {
  return put_text(decimal, state, [&](Utf8View text) { return out.write_raw(text.data, text.size); });
}

EncodeStatus append_decimal_key(PyObject* decimal, DumpsState& state, Options, KeyTexts& texts) {
  return put_text(decimal, state, [&](Utf8View text) { return texts.append(text.data, text.size); });
}

}  // namespace vellum
