// numpy arrays as nested JSON arrays, read straight from the array's memory:
// no Python object per element, the row writer chosen once per array, one
// loop per innermost row. Part of the recursion (its fallback is `default`):
// included only by serializer-inl.hpp.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "core/ffi/numpy/array_interface.hpp"
#include "core/pyref.hpp"
#include "dumps/number.hpp"
#include "dumps/numpy/array_view.hpp"
#include "dumps/per_type/datetime64.hpp"
#include "dumps/serializer.hpp"
#include "dumps/state.hpp"
#include "dumps/text.hpp"
#include "kernels/number/float_row.hpp"
#include "kernels/number/half.hpp"

namespace vellum {
namespace numpy_rows {

using ffi::numpy::ElementType;

template <class Layout>
using RowWriter = EncodeStatus (*)(const NumpyArrayView& view, const uint8_t* row, size_t n, Layout& layout);

template <typename T>
inline T load(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof(T));
  return v;
}

// Rows are written in runs of elements: one reservation covers the run, and
// the elements go straight to a local pointer.
inline constexpr size_t RunLength = 256;
// The most any element writer stores past the end it returns.
inline constexpr size_t RunOverhang = 32;

// Elements that are always written.
struct Infallible {};

// One row of n elements: `[`, each element's prefix and the text that
// put(p, i) writes at p (at most MaxText bytes; it returns the end), `]`.
// With `fail`, put may return null instead, and the row ends with fail(i).
template <size_t MaxText, class Layout, class Put, class Fail = Infallible>
[[gnu::always_inline]] inline EncodeStatus write_row(size_t n, Layout& layout, Put put, Fail fail = {}) {
  OutputBuffer& out = layout.out();
  if (!layout.open_array()) [[unlikely]]
    return python_error();
  const size_t room = layout.element_prefix_room() + MaxText;
  for (size_t i = 0; i < n;) {
    const size_t end = n - i < RunLength ? n : i + RunLength;
    if (!out.reserve((end - i) * room + RunOverhang)) [[unlikely]]
      return python_error();
    uint8_t* const start = out.cursor();
    uint8_t* p = start;
    for (; i < end; ++i) {
      uint8_t* const next = put(layout.put_element_prefix(p, i == 0), i);
      if constexpr (!std::is_same_v<Fail, Infallible>) {
        if (next == nullptr) [[unlikely]]
          return fail(i);
      }
      p = next;
    }
    out.advance(static_cast<size_t>(p - start));
  }
  if (n != 0) layout.after_element();
  return layout.close_array() ? EncodeStatus::ok() : python_error();
}

template <class Layout, typename T>
EncodeStatus integer_row(const NumpyArrayView&, const uint8_t* row, size_t n, Layout& layout) {
  return write_row<MaxI64Text>(n, layout, [row](uint8_t* p, size_t i) {
    return put_fixed_int(p, load<T>(row + i * sizeof(T)));
  });
}

// The longest separator the float rows pass to the kernel (",\n" and 31
// levels of indentation).
inline constexpr size_t MaxSeparator = 64;

// Floats go to the number kernel's row writer a run at a time, each text
// followed by the separator the layout puts between elements; the separator
// after the last element is taken back. Deeper rows give the kernel one
// value at a time, after the layout's own prefix.
template <class Layout, typename T>
EncodeStatus float_row(const NumpyArrayView&, const uint8_t* row, size_t n, Layout& layout) {
  constexpr size_t MaxText = std::is_same_v<T, double> ? MaxF64Text : MaxF32Text;
  const FloatRowFn write = std::is_same_v<T, double> ? float_row_routines.f64_row : float_row_routines.f32_row;
  OutputBuffer& out = layout.out();
  if (!layout.open_array()) [[unlikely]]
    return python_error();
  // Asked once the array is open: its own level counts in the indentation.
  const size_t room = layout.element_prefix_room();
  uint8_t bytes[MaxSeparator];
  const bool deep = room > MaxSeparator;
  const Separator separator{bytes, deep ? 0 : static_cast<size_t>(layout.put_element_prefix(bytes, false) - bytes)};
  const size_t run_length = deep ? 1 : RunLength;
  for (size_t i = 0; i < n;) {
    const size_t run = n - i < run_length ? n - i : run_length;
    if (!out.reserve(room + run * (MaxText + separator.size) + FloatOverhang)) [[unlikely]]
      return python_error();
    uint8_t* const start = out.cursor();
    uint8_t* const first = i == 0 || deep ? layout.put_element_prefix(start, i == 0) : start;
    uint8_t* p = write(first, row + i * sizeof(T), run, separator);
    i += run;
    if (i == n) p -= separator.size;
    out.advance(static_cast<size_t>(p - start));
  }
  if (n != 0) layout.after_element();
  return layout.close_array() ? EncodeStatus::ok() : python_error();
}

// true for the byte value 1, false for every other.
template <class Layout>
EncodeStatus bool_row(const NumpyArrayView&, const uint8_t* row, size_t n, Layout& layout) {
  // The word is chosen with a mask rather than a branch, which random
  // values would keep mispredicting.
  uint64_t True, False;
  std::memcpy(&True, LiteralTrue, 8);
  std::memcpy(&False, LiteralFalse, 8);
  return write_row<8>(n, layout, [row, True, False](uint8_t* p, size_t i) {
    const uint64_t set = row[i] == 1;
    const uint64_t word = False ^ ((True ^ False) & (0 - set));
    std::memcpy(p, &word, 8);
    return p + 5 - set;
  });
}

// Halves are widened a run at a time, then written as singles.
template <class Layout>
EncodeStatus half_row(const NumpyArrayView&, const uint8_t* row, size_t n, Layout& layout) {
  float widened[RunLength];
  return write_row<MaxF32Text>(n, layout, [row, n, &widened](uint8_t* p, size_t i) {
    if (i % RunLength == 0) half_routines.half_to_float(row + 2 * i, n - i < RunLength ? n - i : RunLength, widened);
    return put_float(p, widened[i % RunLength]);
  });
}

// datetime64: a count that cannot be converted ends the array with its
// message.
template <class Layout>
EncodeStatus datetime64_row(const NumpyArrayView& view, const uint8_t* row, size_t n, Layout& layout) {
  Datetime64Failure failure = Datetime64Failure::None;
  const Options options = view.options;
  return write_row<MaxDatetime64Text + 2>(
      n, layout,
      [&](uint8_t* p, size_t i) -> uint8_t* {
        const Datetime64Conversion c = datetime64_to_civil(view.unit, load<int64_t>(row + 8 * i));
        if (c.failure != Datetime64Failure::None) [[unlikely]] {
          failure = c.failure;
          return nullptr;
        }
        return put_text(p, TextStyle::Quoted, [&c, options](ScalarText& text) __attribute__((always_inline)) {
          text.end = put_datetime64(text.data, c.value, options);
        });
      },
      [&](size_t i) { return datetime64_failure(failure, view.unit, load<int64_t>(row + 8 * i)); });
}

template <class Layout>
RowWriter<Layout> row_writer(ElementType element) {
  switch (element) {
    case ElementType::Bool: return &bool_row<Layout>;
    case ElementType::Float16: return &half_row<Layout>;
    case ElementType::Float32: return &float_row<Layout, float>;
    case ElementType::Float64: return &float_row<Layout, double>;
    case ElementType::Int8: return &integer_row<Layout, int8_t>;
    case ElementType::Int16: return &integer_row<Layout, int16_t>;
    case ElementType::Int32: return &integer_row<Layout, int32_t>;
    case ElementType::Int64: return &integer_row<Layout, int64_t>;
    case ElementType::Uint8: return &integer_row<Layout, uint8_t>;
    case ElementType::Uint16: return &integer_row<Layout, uint16_t>;
    case ElementType::Uint32: return &integer_row<Layout, uint32_t>;
    case ElementType::Uint64: return &integer_row<Layout, uint64_t>;
    case ElementType::Datetime64: return &datetime64_row<Layout>;
    case ElementType::Unsupported: break;
  }
  return nullptr;
}

// Dimension d of the array, starting at `base` (the address of its first
// element): `[]` for no index, the row for the last dimension, otherwise
// each index's sub-array in order.
template <class Layout>
EncodeStatus write_dimension(const NumpyArrayView& view, RowWriter<Layout> row, int32_t d, const uint8_t* base,
                             Layout& layout) {
  const ffi::numpy::ArrayInterface& r = *view.record;
  const Py_intptr_t n = r.shape[d];
  if (n == 0) return layout.empty_array() ? EncodeStatus::ok() : python_error();
  if (d == r.nd - 1) return row(view, base, static_cast<size_t>(n), layout);
  // Up to 64 dimensions, each a frame: checked like container levels.
  if (!stack_has_room()) return encode_failure(EncodeErrorKind::TooDeep);
  if (!layout.open_array()) [[unlikely]]
    return python_error();
  for (Py_intptr_t i = 0; i < n; ++i) {
    if (!layout.before_element(i == 0)) [[unlikely]]
      return python_error();
    VELLUM_TRY(write_dimension(view, row, d + 1, base + i * r.strides[d], layout));
    layout.after_element();
  }
  return layout.close_array() ? EncodeStatus::ok() : python_error();
}

}  // namespace numpy_rows

// An exact ndarray (OPT_SERIALIZE_NUMPY). Arrays that are not C-contiguous,
// have an unsupported element type or an unlisted datetime64 unit go to
// `default` when it is given; the other failures are the call's.
template <class Layout>
EncodeStatus write_numpy_array(SerializeContext ctx, Layout& layout) {
  PyRef capsule;
  NumpyArrayView view;
  const ArrayCheck check = open_numpy_array(ctx.object, layout.state().types, state::options(ctx.state), capsule, view);
  if (check != ArrayCheck::Writable) {
    if (ctx.default_ != nullptr && default_takes_array(check)) return serialize_with_default(ctx, layout);
    return refuse_array(check, view);
  }
  const numpy_rows::RowWriter<Layout> row = numpy_rows::row_writer<Layout>(view.element);
  return numpy_rows::write_dimension(view, row, 0, static_cast<const uint8_t*>(view.record->data), layout);
}

}  // namespace vellum
