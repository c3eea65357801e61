// The recursive value serializer, written once over the layout operations
// and instantiated for each layout by dumps.cpp, its only includer.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "core/pyref.hpp"
#include "dumps/classify.hpp"
#include "dumps/dict-inl.hpp"
#include "dumps/fragment.hpp"
#include "dumps/kinds.hpp"
#include "dumps/layout.hpp"
#include "dumps/numpy/array-inl.hpp"
#include "dumps/per_type/dataclass-inl.hpp"
#include "dumps/per_type/enum-inl.hpp"
#include "dumps/per_type/numpy_scalar.hpp"
#include "dumps/serializer.hpp"
#include "dumps/state.hpp"
#include "dumps/string.hpp"
#include "dumps/text.hpp"

namespace vellum {

inline EncodeStatus write_fragment(OutputBuffer& out, PyObject* content) {
  PyTypeObject* type = Py_TYPE(content);
  bool written;
  if (type == &PyBytes_Type) {
    written = out.write_raw(reinterpret_cast<const uint8_t*>(PyBytes_AS_STRING(content)),
                            static_cast<size_t>(PyBytes_GET_SIZE(content)));
  } else if (type == &PyUnicode_Type) {
    Utf8View text;
    if (!string_utf8(content, text)) return encode_failure(EncodeErrorKind::StrNotUtf8);
    written = out.write_raw(text.data, text.size);
  } else {
    return encode_failure(EncodeErrorKind::FragmentBadContent);
  }
  return written ? EncodeStatus::ok() : python_error();
}

// The rows of ScalarKinds that serialize_item tests, in its order: exactly
// those marked in_fast_chain (the compiler checks).
namespace fast_chain {
inline constexpr uint8_t Int = scalar_row("int"), Bool = scalar_row("bool"), None = scalar_row("NoneType"),
                         Float = scalar_row("float"), Datetime = scalar_row("datetime");
inline constexpr uint8_t Rows[] = {Int, Bool, None, Float, Datetime};

consteval bool rows_are_those_flagged() {
  for (uint8_t row = 0; row < ScalarKindCount; ++row)
    if (ScalarKinds[row].in_fast_chain != (std::find(std::begin(Rows), std::end(Rows), row) != std::end(Rows)))
      return false;
  return true;
}
static_assert(rows_are_those_flagged(), "serialize_item tests every in_fast_chain row of ScalarKinds, and no other");
}  // namespace fast_chain

// A row of the fast chain: whether it takes the object (its exact type,
// unless the row's option sends it to default), and its value writer called
// directly (inlined for the numbers and literals). The module's state is
// read from the layout only where a row needs it.
template <uint8_t Row, class Layout>
[[gnu::always_inline]] inline bool chain_takes(PyTypeObject* type, Layout& layout, Options options) {
  return is_row_type<Row>(type, layout.state().types) && row_enabled<Row>(options);
}
template <uint8_t Row, class Layout>
[[gnu::always_inline]] inline EncodeStatus chain_write(PyObject* obj, Layout& layout, Options options) {
  return ScalarKinds[Row].write(layout.out(), obj, layout.state(), options);
}

// The fast chain of exact types, inlined into every container loop; the
// rest are classified.
template <class Layout>
[[gnu::always_inline]] inline EncodeStatus serialize_item(SerializeContext ctx, Layout& layout) {
  using namespace fast_chain;
  PyObject* obj = ctx.object;
  PyTypeObject* type = Py_TYPE(obj);
  const Options options = state::options(ctx.state);
  if (type == &PyUnicode_Type) return write_str(layout.out(), obj);
  if (chain_takes<Int>(type, layout, options)) return chain_write<Int>(obj, layout, options);
  if (chain_takes<Bool>(type, layout, options)) return chain_write<Bool>(obj, layout, options);
  if (chain_takes<None>(type, layout, options)) return chain_write<None>(obj, layout, options);
  if (chain_takes<Float>(type, layout, options)) return chain_write<Float>(obj, layout, options);
  if (type == &PyList_Type) return serialize_sequence<Layout, false>(obj, ctx, layout);
  if (type == &PyDict_Type) return serialize_dict(obj, ctx, layout);
  if (chain_takes<Datetime>(type, layout, options)) return chain_write<Datetime>(obj, layout, options);
  return serialize_other(ctx, layout);
}

template <class Layout>
EncodeStatus serialize_value(SerializeContext ctx, Layout& layout) {
  return serialize_item(ctx, layout);
}

template <class Layout>
EncodeStatus serialize_with_default(SerializeContext ctx, Layout& layout) {
  PyObject* obj = ctx.object;
  if (ctx.default_ == nullptr) return not_serializable(obj);
  if (state::default_depth(ctx.state) == state::MaxDepth) return encode_failure(EncodeErrorKind::DefaultTooDeep);
  // default may call dumps again, however deep this call already is.
  if (!stack_has_room()) return encode_failure(EncodeErrorKind::TooDeep);
  // serialize_other holds obj: default may clear the container it came
  // from, and the failure below names its type.
  PyObject* args[2] = {nullptr, obj};
  PyRef result = PyRef::steal(PyObject_Vectorcall(ctx.default_, args + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
  // default's exception becomes the cause.
  if (!result) return not_serializable(obj);
  return serialize_value({result.get(), ctx.default_, ctx.state + state::DefaultDepthUnit}, layout);
}

// Lists, list subclasses and tuples. Items may run Python code (default)
// that changes the list, so its size and storage are read afresh at every
// step, and the sequence itself is held while it is written.
template <class Layout, bool IsTuple>
[[gnu::noinline]] EncodeStatus serialize_sequence(PyObject* seq, SerializeContext ctx, Layout& layout) {
  if (Py_SIZE(seq) == 0) return layout.empty_array() ? EncodeStatus::ok() : python_error();
  uint32_t s = ctx.state;
  if (!enter_container(s)) return encode_failure(EncodeErrorKind::TooDeep);
  const PyRef hold = PyRef::borrow(seq);
  if (!layout.open_array()) return python_error();
  for (Py_ssize_t i = 0; i < Py_SIZE(seq); ++i) {
    PyObject* item = IsTuple ? PyTuple_GET_ITEM(seq, i) : PyList_GET_ITEM(seq, i);
    if (!layout.before_element(i == 0)) [[unlikely]]
      return python_error();
    VELLUM_TRY(serialize_item({item, ctx.default_, s}, layout));
    layout.after_element();
  }
  return layout.close_array() ? EncodeStatus::ok() : python_error();
}

// Everything the fast chain does not take, by its kind. The container loops
// hand their items over borrowed, and from here on Python code may run
// (classify imports numpy and compares a class's namespace keys; default,
// properties, enum values), which may drop the container's reference: the
// object is held until it is written, so none of the steps below holds it
// again. The fast chain runs no Python code and holds nothing.
template <class Layout>
[[gnu::noinline]] EncodeStatus serialize_other(SerializeContext ctx, Layout& layout) {
  PyObject* obj = ctx.object;
  const PyRef hold = PyRef::borrow(obj);
  OutputBuffer& out = layout.out();
  const Options options = state::options(ctx.state);
  DumpsState& state = layout.state();
  const Kind kind = classify</*AfterFastChain=*/true>(Py_TYPE(obj), state, options);
  switch (kind.kind) {
    case ObjectKind::Scalar:
      return ScalarKinds[kind.row].write(out, obj, state, options);
    case ObjectKind::Str:  // taken by the fast chain
      return write_str(out, obj);
    case ObjectKind::StrSubclass: {
      Utf8View text;
      if (!subclass_utf8(obj, text)) return encode_failure(EncodeErrorKind::StrNotUtf8);
      return write_string(out, text) ? EncodeStatus::ok() : python_error();
    }
    case ObjectKind::List:
      return serialize_sequence<Layout, false>(obj, ctx, layout);
    case ObjectKind::Tuple:
      return serialize_sequence<Layout, true>(obj, ctx, layout);
    case ObjectKind::Dict:
      return serialize_dict(obj, ctx, layout);
    case ObjectKind::Fragment:
      return write_fragment(out, reinterpret_cast<Fragment*>(obj)->content);
    case ObjectKind::Enum:
      return write_enum(obj, ctx, layout);
    case ObjectKind::Dataclass:
      return write_dataclass(obj, ctx, layout);
    case ObjectKind::NumpyScalar:
      return write_numpy_scalar(obj, state.types, ctx.state, out);
    case ObjectKind::NumpyArray:
      return write_numpy_array(ctx, layout);
    case ObjectKind::Failed:
      return python_error();
    case ObjectKind::Other:
      break;
  }
  return serialize_with_default(ctx, layout);
}

}  // namespace vellum
