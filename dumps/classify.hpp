// What dumps makes of an object, for values and dict keys alike: classify()
// tells its kind from its type (and the options), against the module's type
// registry and the rows of ScalarKinds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "core/python.hpp"
#include "dumps/kinds.hpp"
#include "dumps/options.hpp"
#include "dumps/per_type/dataclass_class.hpp"
#include "dumps/per_type/enum.hpp"
#include "dumps/state.hpp"

namespace vellum {

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

// Whether `type` is exactly the type of row Row: a static type compared as
// it is, an imported one as the registry holds it.
template <uint8_t Row>
[[gnu::always_inline]] inline bool is_row_type(PyTypeObject* type, const TypeRegistry& types) {
  constexpr TypeSource Source = ScalarKinds[Row].type;
  // (Told by the module name: a static type's address is no constant to
  // compare under the sanitizers.)
  if constexpr (Source.module == nullptr)
    return type == Source.builtin;
  else
    return as_object(type) == types.scalar_types[Row];
}

// The first row that takes the type under the options, or ScalarKindCount.
// `AfterFastChain` leaves out the rows the fast chain took already.
template <bool AfterFastChain, size_t... Rows>
[[gnu::always_inline]] inline size_t scalar_row_of(PyTypeObject* type, const TypeRegistry& types, Options options,
                                                   std::index_sequence<Rows...>) {
  size_t found = ScalarKindCount;
  (void)((!(AfterFastChain && ScalarKinds[Rows].in_fast_chain) &&
          is_row_type<static_cast<uint8_t>(Rows)>(type, types) && row_enabled<static_cast<uint8_t>(Rows)>(options) &&
          (found = Rows, true)) ||
         ...);
  return found;
}

// The kind of a type that is none of the others, under OPT_SERIALIZE_NUMPY:
// a numpy scalar or ndarray, or Other (Failed when numpy's import raised).
Kind classify_numpy(PyTypeObject* type, TypeRegistry& types);

// The kind of an object of this type, first match winning: the exact types
// (str, list, dict, the scalar rows, tuple, Fragment); unless
// OPT_PASSTHROUGH_SUBCLASS, subclasses of str, int, list and dict, and of
// Decimal under OPT_DECIMAL; enum
// members; dataclass instances unless OPT_PASSTHROUGH_DATACLASS; numpy
// scalars and arrays under OPT_SERIALIZE_NUMPY; anything else is Other.
// `AfterFastChain`: the object missed serialize_item's chain of exact types,
// which is not tested again.
template <bool AfterFastChain = false>
[[gnu::always_inline]] inline Kind classify(PyTypeObject* type, DumpsState& state, Options options) {
  const TypeRegistry& types = state.types;
  if constexpr (!AfterFastChain) {
    if (type == &PyUnicode_Type) return {ObjectKind::Str};
    if (type == &PyList_Type) return {ObjectKind::List};
    if (type == &PyDict_Type) return {ObjectKind::Dict};
  }
  const size_t row = scalar_row_of<AfterFastChain>(type, types, options, std::make_index_sequence<ScalarKindCount>{});
  if (row != ScalarKindCount) return {ObjectKind::Scalar, static_cast<uint8_t>(row)};
  if (type == &PyTuple_Type) return {ObjectKind::Tuple};
  if (as_object(type) == types.fragment) return {ObjectKind::Fragment};
  if (!(options & OPT_PASSTHROUGH_SUBCLASS)) {
    const unsigned long flags = type->tp_flags;
    if (flags & Py_TPFLAGS_UNICODE_SUBCLASS) return {ObjectKind::StrSubclass};
    if (flags & Py_TPFLAGS_LONG_SUBCLASS) return {ObjectKind::Scalar, scalar_row("int")};
    if (flags & Py_TPFLAGS_LIST_SUBCLASS) return {ObjectKind::List};
    if (flags & Py_TPFLAGS_DICT_SUBCLASS) return {ObjectKind::Dict};
    constexpr uint8_t Decimal = scalar_row("Decimal");
    if ((options & OPT_DECIMAL) && PyType_IsSubtype(type, as_type(types.scalar_types[Decimal])))
      return {ObjectKind::Scalar, Decimal};
  }
  if (is_enum_type(type, types)) return {ObjectKind::Enum};
  if (!(options & OPT_PASSTHROUGH_DATACLASS)) {
    const int dataclass = is_dataclass_type(type, state);
    if (dataclass != 0) return {dataclass == 1 ? ObjectKind::Dataclass : ObjectKind::Failed};
  }
  if (!(options & OPT_SERIALIZE_NUMPY)) return {ObjectKind::Other};
  return classify_numpy(type, state.types);
}

}  // namespace vellum
