// The builder loads runs the reader with: Python objects made as the values
// are read. Scalars and finished containers wait on a stack until their
// container closes; it is then made at its final size (a list of exactly its
// items, a dict presized for its members) from the top of the stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/ffi/make.hpp"
#include "core/python.hpp"
#include "core/str/utf8_to_str.hpp"
#include "kernels/utf8/utf8_routines.hpp"
#include "loads/state.hpp"
#include "loads/str_cache.hpp"
#include "reader/reader.hpp"

namespace vellum {

class PyBuilder {
 public:
  // Its keys and strings come from the state's caches.
  explicit PyBuilder(LoadsState& state) : state_(state) {}
  PyBuilder(const PyBuilder&) = delete;
  PyBuilder& operator=(const PyBuilder&) = delete;
  ~PyBuilder() {
    for (PyObject** p = base_; p != top_; ++p)
      if (!is_mark(*p)) Py_DECREF(*p);
    if (base_ != inline_) PyMem_Free(base_);
  }

  // The finished document (a new reference), once the reader has succeeded.
  PyObject* take_root() { return *--top_; }
  // Whether the builder stopped the reader for a string that is not UTF-8
  // (otherwise it stopped for a Python exception, pending now).
  bool found_invalid_utf8() const { return invalid_utf8_; }

  bool null_value() { return push(ffi::compat::singleton_ref(Py_None)); }
  bool boolean(bool value) { return push(ffi::compat::singleton_ref(value ? Py_True : Py_False)); }
  bool unsigned_int(uint64_t value) { return push(ffi::int_from_u64(value)); }
  bool signed_int(int64_t value) { return push(ffi::int_from_i64(value)); }
  bool real(double value) { return push(PyFloat_FromDouble(value)); }

  [[gnu::always_inline]] bool string(const StringToken& s) {
    if (s.length == 0) return push(ffi::compat::singleton_ref(state_.empty_str));
    if (s.length <= MaxCachedValueLength && value_misses_ <= value_hits_ + ValueMissesAllowed) [[likely]]
      return cached_value(s);
    if (s.ascii) [[likely]]
      return push(ffi::ascii_str(s.text, s.length));
    if (!valid_utf8(s)) return false;
    return push(utf8_to_str(s.text, s.length));
  }

  bool key(const StringToken& s) {
    if (s.length <= MaxCachedKeyLength) [[likely]] {
      const uint64_t hash = text_hash(s.text, s.length);
      StrSlot& slot = slot_of(state_.keys, hash);
      if (PyObject* hit = cached_str(slot, hash, s.text, s.length)) {
        ++key_hits_;
        return push(hit);
      }
      return missed_key(s, slot, hash);
    }
    if (!s.ascii && !valid_utf8(s)) return false;
    return push(new_text_str(nullptr, 0, s.text, s.length, s.ascii, true));
  }

  bool open_array() { return open(); }
  bool open_object() { return open(); }

  bool close_array() {
    PyObject** const first = base_ + frame_;
    PyObject* list = ffi::list_taking(first, static_cast<size_t>(top_ - first));
    if (list == nullptr) return false;
    pop_frame(first);  // the list holds the items now
    return push(list);
  }

  bool close_object() {
    PyObject** const first = base_ + frame_;
    const size_t members = static_cast<size_t>(top_ - first) / 2;
    PyObject* dict = ffi::dict_for(members);
    if (dict == nullptr) return false;
    for (PyObject** p = first; p != top_; p += 2) {
      if (ffi::dict_insert(dict, p[0], p[1]) != 0) {
        Py_DECREF(dict);
        return false;
      }
    }
    // The dict holds its own references: give back the stack's.
    for (PyObject** p = first; p != top_; ++p) Py_DECREF(*p);
    pop_frame(first);
    return push(dict);
  }

 protected:
  // Takes the reference of `object`; false (releasing nothing) when it is
  // null, the interpreter's exception pending.
  [[gnu::always_inline]] bool push(PyObject* object) {
    if (object == nullptr) [[unlikely]]
      return false;
    if (top_ == end_ && !grow()) [[unlikely]] {
      Py_DECREF(object);
      return false;
    }
    *top_++ = object;
    return true;
  }

 private:
  static constexpr size_t InlineSlots = 64;
  // Misses a document may have beyond its hits before its new texts stop
  // going into the caches (keys) or the cache stops being asked (values,
  // whose texts are often all different: a lookup would only cost a hash).
  static constexpr size_t KeyMissesAllowed = 256;
  static constexpr size_t ValueMissesAllowed = 64;

  // A short key the cache did not hold. Out of line: most keys are found.
  [[gnu::noinline]] bool missed_key(const StringToken& s, StrSlot& slot, uint64_t hash) {
    ++key_misses_;
    if (!s.ascii && !valid_utf8(s)) return false;
    // A document of keys that never come back would only push out the
    // ones that do: past a first few, its new keys stay out of the cache.
    const bool keep = key_misses_ <= key_hits_ + KeyMissesAllowed;
    return push(new_text_str(keep ? &slot : nullptr, hash, s.text, s.length, s.ascii, true));
  }

  bool cached_value(const StringToken& s) {
    const uint64_t hash = text_hash(s.text, s.length);
    StrSlot& slot = slot_of(state_.values, hash);
    if (PyObject* hit = cached_str(slot, hash, s.text, s.length)) {
      ++value_hits_;
      return push(hit);
    }
    ++value_misses_;
    if (!s.ascii && !valid_utf8(s)) return false;
    return push(new_text_str(&slot, hash, s.text, s.length, s.ascii, false));
  }

  bool valid_utf8(const StringToken& s) {
    if (utf8_routines.validate(s.text, s.length)) return true;
    invalid_utf8_ = true;
    return false;
  }

  // An open container's items start after a mark on the stack that keeps
  // where the enclosing container's items start: an odd word, which no
  // object's address is.
  static bool is_mark(PyObject* p) { return (reinterpret_cast<uintptr_t>(p) & 1) != 0; }

  bool open() {
    PyObject* const mark = reinterpret_cast<PyObject*>(frame_ << 1 | 1);
    if (top_ == end_ && !grow()) [[unlikely]]
      return false;
    *top_++ = mark;
    frame_ = static_cast<size_t>(top_ - base_);
    return true;
  }

  // Drops a closed container's items (from `first`) and its mark.
  void pop_frame(PyObject** first) {
    frame_ = reinterpret_cast<uintptr_t>(first[-1]) >> 1;
    top_ = first - 1;
  }

  // Doubles the stack; false with MemoryError set.
  bool grow();

  LoadsState& state_;
  PyObject** base_ = inline_;
  PyObject** top_ = inline_;
  PyObject** end_ = inline_ + InlineSlots;
  size_t frame_ = 0;  // where the open container's items start
  size_t key_hits_ = 0, key_misses_ = 0;
  size_t value_hits_ = 0, value_misses_ = 0;
  bool invalid_utf8_ = false;
  PyObject* inline_[InlineSlots];
};

// loads' builder under parse_float: every number that would be a float is
// the callable's result for its text, as a str. The callable is the
// caller's code: it may raise (its exception then ends the call as it is),
// call loads again or return anything, which the document then holds.
class ParseFloatBuilder : public PyBuilder {
 public:
  // `parse_float` is borrowed: the caller's argument, held for the call.
  ParseFloatBuilder(LoadsState& state, PyObject* parse_float)
      : PyBuilder(state), parse_float_(parse_float), decimal_(parse_float == state.decimal_type) {}
  ~ParseFloatBuilder() { Py_XDECREF(decimal_args_); }

  bool real_text(const uint8_t* text, size_t size) {
    PyObject* const str = ffi::ascii_str(text, size);
    if (str == nullptr) return false;
    PyObject* const value = decimal_ ? new_decimal(str) : call(str);
    callable_raised_ = value == nullptr;
    return push(value);
  }

  // Whether the callable raised (rather than the builder failing).
  bool callable_raised() const { return callable_raised_; }

 private:
  // Takes the reference of `str`.
  PyObject* call(PyObject* str) {
    PyObject* const value = PyObject_CallOneArg(parse_float_, str);
    Py_DECREF(str);
    return value;
  }

  // Decimal(str), as the type's call makes it, with one argument tuple for
  // every number while nothing else holds it (the constructor keeps no
  // reference to its arguments, and runs no Python code). Takes the
  // reference of `str`, which the tuple keeps until the next number.
  PyObject* new_decimal(PyObject* str) {
    if (decimal_args_ != nullptr && Py_REFCNT(decimal_args_) == 1) {
      PyObject* const previous = PyTuple_GET_ITEM(decimal_args_, 0);
      PyTuple_SET_ITEM(decimal_args_, 0, str);
      Py_DECREF(previous);
    } else {
      Py_XDECREF(decimal_args_);
      decimal_args_ = PyTuple_New(1);
      if (decimal_args_ == nullptr) {
        Py_DECREF(str);
        return nullptr;
      }
      PyTuple_SET_ITEM(decimal_args_, 0, str);
    }
    PyTypeObject* const type = reinterpret_cast<PyTypeObject*>(parse_float_);
    return type->tp_new(type, decimal_args_, nullptr);
  }

  PyObject* parse_float_;
  PyObject* decimal_args_ = nullptr;
  bool decimal_;
  bool callable_raised_ = false;
};

}  // namespace vellum
