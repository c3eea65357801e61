// The recursive value serializer, written once over the layout operations
// and instantiated for each layout by dumps.cpp, its only includer.
#pragma once

#include <cstdint>

#include "core/fragment.hpp"
#include "core/pyref.hpp"
#include "dumps/dict-inl.hpp"
#include "dumps/layout.hpp"
#include "dumps/number.hpp"
#include "dumps/per_type/dataclass-inl.hpp"
#include "dumps/per_type/datetime.hpp"
#include "dumps/per_type/enum.hpp"
#include "dumps/per_type/uuid.hpp"
#include "dumps/numpy/array-inl.hpp"
#include "dumps/per_type/numpy_scalar.hpp"
#include "dumps/serializer.hpp"
#include "dumps/string.hpp"
#include "core/typeref.hpp"

namespace vellum {

inline EncodeStatus write_literal(OutputBuffer& out, const char (&word)[9], size_t length) {
  if (!out.reserve(ScalarReserve)) [[unlikely]]
    return python_error();
  out.write_word(word, length);
  return EncodeStatus::ok();
}

inline EncodeStatus write_fragment(OutputBuffer& out, PyObject* content) {
  PyTypeObject* type = Py_TYPE(content);
  bool written;
  if (type == &PyBytes_Type) {
    written = out.write_raw(reinterpret_cast<const uint8_t*>(PyBytes_AS_STRING(content)),
                            static_cast<size_t>(PyBytes_GET_SIZE(content)));
  } else if (type == &PyUnicode_Type) {
    Utf8View text;
    if (!string_utf8(content, text)) return EncodeStatus::fail(EncodeErrorKind::StrNotUtf8);
    written = out.write_raw(text.data, text.size);
  } else {
    return EncodeStatus::fail(EncodeErrorKind::FragmentBadContent);
  }
  return written ? EncodeStatus::ok() : python_error();
}

// The fast chain of exact types, inlined into every container loop.
template <class Layout>
[[gnu::always_inline]] inline EncodeStatus serialize_item(SerializeContext ctx, Layout& layout) {
  PyObject* obj = ctx.object;
  PyTypeObject* type = Py_TYPE(obj);
  OutputBuffer& out = layout.out();
  if (type == &PyUnicode_Type) return write_str(out, obj);
  if (type == &PyLong_Type) return write_int(out, obj, state::options(ctx.state));
  if (type == &PyBool_Type) return obj == Py_True ? write_literal(out, "true\0\0\0\0", 4)
                                                  : write_literal(out, "false\0\0\0", 5);
  if (obj == Py_None) return write_literal(out, "null\0\0\0\0", 4);
  if (type == &PyFloat_Type) return write_f64(out, PyFloat_AS_DOUBLE(obj)) ? EncodeStatus::ok() : python_error();
  if (type == &PyList_Type) return serialize_sequence<Layout, false>(obj, ctx, layout);
  if (type == &PyDict_Type) return serialize_dict(obj, ctx, layout);
  if (type == type_refs.type_datetime && !(state::options(ctx.state) & OPT_PASSTHROUGH_DATETIME))
    return write_datetime(out, obj, state::options(ctx.state));
  return serialize_other(ctx, layout);
}

template <class Layout>
EncodeStatus serialize_value(SerializeContext ctx, Layout& layout) {
  return serialize_item(ctx, layout);
}

template <class Layout>
EncodeStatus serialize_with_default(SerializeContext ctx, Layout& layout) {
  PyObject* obj = ctx.object;
  if (ctx.default_ == nullptr) return EncodeStatus::not_serializable(obj);
  if (state::default_depth(ctx.state) == state::MaxDepth)
    return EncodeStatus::fail(EncodeErrorKind::DefaultTooDeep);
  // default may call dumps again, however deep this call already is.
  if (!stack_has_room()) return EncodeStatus::fail(EncodeErrorKind::TooDeep);
  // default may release the last other reference to the object (by
  // clearing the container it came from); the failure below names its type.
  const PyRef hold = PyRef::borrow(obj);
  PyObject* args[2] = {nullptr, obj};
  PyRef result = PyRef::steal(PyObject_Vectorcall(ctx.default_, args + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
  // default's exception stays pending and becomes the cause.
  if (!result) return EncodeStatus::not_serializable(obj);
  return serialize_value({result.get(), ctx.default_, ctx.state + state::DefaultDepthUnit}, layout);
}

// Lists, list subclasses and tuples. Items may run Python code (default)
// that changes the list, so its size and storage are read afresh at every
// step, and the sequence itself is held while it is written.
template <class Layout, bool IsTuple>
[[gnu::noinline]] EncodeStatus serialize_sequence(PyObject* seq, SerializeContext ctx, Layout& layout) {
  if (Py_SIZE(seq) == 0) return layout.empty_array() ? EncodeStatus::ok() : python_error();
  uint32_t s = ctx.state;
  if (!enter_container(s)) return EncodeStatus::fail(EncodeErrorKind::TooDeep);
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

template <class Layout>
[[gnu::noinline]] EncodeStatus serialize_other(SerializeContext ctx, Layout& layout) {
  PyObject* obj = ctx.object;
  OutputBuffer& out = layout.out();
  switch (classify_slow(Py_TYPE(obj), state::options(ctx.state))) {
    case ObjectKind::KindInt:
      return write_int(out, obj, state::options(ctx.state));
    case ObjectKind::KindList:
      return serialize_sequence<Layout, false>(obj, ctx, layout);
    case ObjectKind::KindTuple:
      return serialize_sequence<Layout, true>(obj, ctx, layout);
    case ObjectKind::KindDict:
      return serialize_dict(obj, ctx, layout);
    case ObjectKind::KindStrSubclass: {
      Utf8View text;
      if (!subclass_utf8(obj, text)) return EncodeStatus::fail(EncodeErrorKind::StrNotUtf8);
      return write_string(out, text) ? EncodeStatus::ok() : python_error();
    }
    case ObjectKind::KindFragment:
      return write_fragment(out, reinterpret_cast<Fragment*>(obj)->content);
    case ObjectKind::KindDate:
      return write_date(out, obj);
    case ObjectKind::KindTime:
      return write_time(out, obj, state::options(ctx.state));
    case ObjectKind::KindUuid:
      return write_uuid(out, obj);
    case ObjectKind::KindEnum:
      return write_enum(obj, ctx, layout);
    case ObjectKind::KindDataclass:
      return write_dataclass(obj, ctx, layout);
    case ObjectKind::KindNumpyScalar:
      return write_numpy_scalar(obj, ctx.state, out);
    case ObjectKind::KindNumpyArray:
      return write_numpy_array(ctx, layout);
    case ObjectKind::KindFailed:
      return python_error();
    default:
      // Including the kinds whose native writers are not built yet.
      return serialize_with_default(ctx, layout);
  }
}

}  // namespace vellum
