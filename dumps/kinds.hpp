// The kinds of objects dumps writes as one text, for values and dict keys
// alike: one table, each row a type, where it comes from, the attribute
// names its writers read, its value writer and its key formatter. The type
// registry (dumps/type_registry.hpp) is filled from these rows; classify
// (dumps/classify.hpp) and the fast chain (dumps/serializer-inl.hpp) read
// them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

#include "core/ffi/none_type.hpp"
#include "core/python.hpp"
#include "dumps/number.hpp"
#include "dumps/options.hpp"
#include "dumps/per_type/datetime.hpp"
#include "dumps/per_type/decimal.hpp"
#include "dumps/per_type/uuid.hpp"
#include "dumps/text.hpp"

namespace vellum {

// Where a row's type comes from: one of the interpreter's static types,
// compared as it is (`module` null), or an attribute of a module, imported
// into each module's registry. `attribute` names the row either way.
struct TypeSource {
  PyTypeObject* builtin;
  const char* module;
  const char* attribute;
};

constexpr TypeSource builtin_type(PyTypeObject* type, const char* name) { return {type, nullptr, name}; }
constexpr TypeSource imported_type(const char* module, const char* attribute) { return {nullptr, module, attribute}; }

// The most attribute names one row's writers read.
inline constexpr size_t MaxRowNames = 4;

// A kind of object written as one text, recognised by its exact type.
struct ScalarKind {
  TypeSource type;
  // The option that sends it to `default` instead (none: 0).
  Options passthrough;
  // As a dict key: its text, quoted when the key is written. Null for a row
  // whose text has no bound, which appends its key text itself.
  Formatter format;
  // As a value: whether its text is written as a JSON string.
  TextStyle style;
  // As a value: its text on the output; the formatter's text in the row's
  // style (write_formatted) unless its file writes its own.
  ValueWriter write;
  // Exact instances are taken by serialize_item's chain, before classify.
  bool in_fast_chain;
  // Attribute names its writers read (state.types.name<"...">()), interned
  // once per module.
  std::array<const char*, MaxRowNames> names{};
  // The option without which it goes to `default` (none: 0).
  Options opt_in = 0;
  // As a dict key, for a row without a formatter: its text appended whole.
  KeyAppender append_key = nullptr;
};

// A row whose value writer is its formatter's text in its style.
template <Formatter Format, TextStyle Style>
consteval ScalarKind scalar(TypeSource type, Options passthrough, bool in_fast_chain) {
  return {type, passthrough, Format, Style, &write_formatted<Format, Style>, in_fast_chain};
}

// Adding a scalar type: its formatter (and value writer) in dumps/per_type,
// and a row here. The date-time types come from the C module, whose
// objects' fields dumps reads directly (the pure-Python fallback's would not
// do).
inline constexpr ScalarKind ScalarKinds[] = {
    scalar<&format_int, TextStyle::Plain>(builtin_type(&PyLong_Type, "int"), 0, true),
    scalar<&format_bool, TextStyle::Plain>(builtin_type(&PyBool_Type, "bool"), 0, true),
    scalar<&format_none, TextStyle::Plain>(builtin_type(ffi::NoneType, "NoneType"), 0, true),
    scalar<&format_float, TextStyle::Plain>(builtin_type(&PyFloat_Type, "float"), 0, true),
    {imported_type("_datetime", "datetime"), OPT_PASSTHROUGH_DATETIME, &format_datetime, TextStyle::Quoted,
     &write_datetime, true, {"utcoffset", "normalize", "convert", "dst"}},
    {imported_type("_datetime", "date"), OPT_PASSTHROUGH_DATETIME, &format_date, TextStyle::Quoted, &write_date, false},
    {imported_type("_datetime", "time"), OPT_PASSTHROUGH_DATETIME, &format_time, TextStyle::Quoted, &write_time, false},
    {imported_type("uuid", "UUID"), 0, &format_uuid, TextStyle::Quoted, &write_uuid, false, {"int"}},
    {imported_type("decimal", "Decimal"), 0, nullptr, TextStyle::Plain, &write_decimal, false, {}, OPT_DECIMAL,
     &append_decimal_key},
};
inline constexpr size_t ScalarKindCount = std::size(ScalarKinds);

// Whether the options let row Row take its type: asked for where the row
// needs its option, and not sent to default.
template <uint8_t Row>
[[gnu::always_inline]] constexpr bool row_enabled(Options options) {
  constexpr ScalarKind Kind = ScalarKinds[Row];
  return (options & Kind.opt_in) == Kind.opt_in && !(options & Kind.passthrough);
}

// Not constexpr: calling it at compile time stops the build.
uint8_t no_scalar_kind_has_this_type();

// The row named `attribute` ("int", "UUID").
consteval uint8_t scalar_row(std::string_view attribute) {
  for (size_t i = 0; i < ScalarKindCount; ++i)
    if (ScalarKinds[i].type.attribute == attribute) return static_cast<uint8_t>(i);
  return no_scalar_kind_has_this_type();
}

}  // namespace vellum
