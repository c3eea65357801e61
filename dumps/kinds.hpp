// What dumps makes of an object, for values and dict keys alike: classify()
// tells its kind from its type (and the options), and the kinds written as
// one text are one table, each row a type, its value writer and its key
// formatter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

#include "core/options.hpp"
#include "core/python.hpp"
#include "core/typeref.hpp"
#include "dumps/error.hpp"
#include "dumps/number.hpp"
#include "dumps/per_type/dataclass_class.hpp"
#include "dumps/per_type/datetime.hpp"
#include "dumps/per_type/enum.hpp"
#include "dumps/per_type/uuid.hpp"
#include "dumps/text.hpp"

namespace vellum {

// A kind of object written as one text, recognised by its exact type.
struct ScalarKind {
  PyObject* TypeRefs::* type;
  // The option that sends it to `default` instead (none: 0).
  Options passthrough;
  // As a value: its text on the output.
  ValueWriter write;
  // As a dict key: its text, quoted when the key is written.
  Formatter format;
  // Exact instances are taken by serialize_item's chain, before classify.
  bool in_fast_chain;
};

// Adding a scalar type: its formatter and value writer in dumps/per_type,
// its type in the type table (core/typeref), and a row here.
inline constexpr ScalarKind ScalarKinds[] = {
    {&TypeRefs::type_int, 0, &write_formatted<&format_int, TextStyle::Plain>, &format_int, true},
    {&TypeRefs::type_bool, 0, &write_formatted<&format_bool, TextStyle::Plain>, &format_bool, true},
    {&TypeRefs::type_none, 0, &write_formatted<&format_none, TextStyle::Plain>, &format_none, true},
    {&TypeRefs::type_float, 0, &write_formatted<&format_float, TextStyle::Plain>, &format_float, true},
    {&TypeRefs::type_datetime, OPT_PASSTHROUGH_DATETIME, &write_datetime, &format_datetime, true},
    {&TypeRefs::type_date, OPT_PASSTHROUGH_DATETIME, &write_date, &format_date, false},
    {&TypeRefs::type_time, OPT_PASSTHROUGH_DATETIME, &write_time, &format_time, false},
    {&TypeRefs::type_uuid, 0, &write_uuid, &format_uuid, false},
};

// Not constexpr: calling it at compile time stops the build.
uint8_t no_scalar_kind_has_this_type();

// The row of a type (int subclasses take int's). Found by the type's field:
// the addresses of functions are not compared at compile time everywhere.
consteval uint8_t scalar_row(PyObject* TypeRefs::* type) {
  for (size_t i = 0; i < std::size(ScalarKinds); ++i)
    if (ScalarKinds[i].type == type) return static_cast<uint8_t>(i);
  return no_scalar_kind_has_this_type();
}

enum class ObjectKind : uint8_t {
  Scalar,  // a row of ScalarKinds, Kind::row
  Str,
  StrSubclass,
  List,  // or a list subclass
  Tuple,
  Dict,  // or a dict subclass
  Fragment,
  Enum,
  Dataclass,
  NumpyScalar,
  NumpyArray,
  Other,   // goes to default
  Failed,  // classifying raised (numpy's import or a class's namespace key was interrupted): the exception is pending
};

struct Kind {
  ObjectKind kind;
  uint8_t row = 0;
};

// The kind of a type that is none of the others, under OPT_SERIALIZE_NUMPY:
// a numpy scalar or ndarray, or Other (Failed when numpy's import raised).
Kind classify_numpy(PyTypeObject* type);

// The kind of an object of this type, first match winning: the exact types
// (str, list, dict, the scalar rows, tuple, Fragment); unless
// OPT_PASSTHROUGH_SUBCLASS, subclasses of str, int, list and dict; enum
// members; dataclass instances unless OPT_PASSTHROUGH_DATACLASS; numpy
// scalars and arrays under OPT_SERIALIZE_NUMPY; anything else is Other.
// `AfterFastChain`: the object missed serialize_item's chain of exact types,
// which is not tested again.
template <bool AfterFastChain = false>
[[gnu::always_inline]] inline Kind classify(PyTypeObject* type, Options options) {
  PyObject* const object = as_object(type);
  if constexpr (!AfterFastChain) {
    if (type == &PyUnicode_Type) return {ObjectKind::Str};
    if (type == &PyList_Type) return {ObjectKind::List};
    if (type == &PyDict_Type) return {ObjectKind::Dict};
  }
  for (size_t i = 0; i < std::size(ScalarKinds); ++i) {
    const ScalarKind& row = ScalarKinds[i];
    if (AfterFastChain && row.in_fast_chain) continue;
    if (object == type_refs.*row.type && !(options & row.passthrough))
      return {ObjectKind::Scalar, static_cast<uint8_t>(i)};
  }
  if (type == &PyTuple_Type) return {ObjectKind::Tuple};
  if (object == type_refs.type_fragment) return {ObjectKind::Fragment};
  if (!(options & OPT_PASSTHROUGH_SUBCLASS)) {
    const unsigned long flags = type->tp_flags;
    if (flags & Py_TPFLAGS_UNICODE_SUBCLASS) return {ObjectKind::StrSubclass};
    if (flags & Py_TPFLAGS_LONG_SUBCLASS) return {ObjectKind::Scalar, scalar_row(&TypeRefs::type_int)};
    if (flags & Py_TPFLAGS_LIST_SUBCLASS) return {ObjectKind::List};
    if (flags & Py_TPFLAGS_DICT_SUBCLASS) return {ObjectKind::Dict};
  }
  if (is_enum_type(type)) return {ObjectKind::Enum};
  if (!(options & OPT_PASSTHROUGH_DATACLASS)) {
    const int dataclass = is_dataclass_type(type);
    if (dataclass != 0) return {dataclass == 1 ? ObjectKind::Dataclass : ObjectKind::Failed};
  }
  if (!(options & OPT_SERIALIZE_NUMPY)) return {ObjectKind::Other};
  return classify_numpy(type);
}

}  // namespace vellum
