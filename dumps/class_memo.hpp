// What was last found out about a few classes, for as long as each class
// stays unchanged.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "core/ffi/type_version.hpp"
#include "core/python.hpp"

namespace vellum {

// Keyed by the class's version tag (core/ffi/type_version.hpp), which any
// change to the class or a base replaces. One entry per slot, chosen by the
// class's address, so that a few classes used in turn (nested dataclasses,
// several enums) keep their answers. Lives in the module's state: zero-filled
// memory is an empty memo.
template <class Value, size_t Slots = 4>
class ClassMemo {
  static_assert(std::has_single_bit(Slots));

 public:
  // The answer remembered for the class, or null.
  [[nodiscard]] const Value* find(PyTypeObject* type) const {
    const Entry& entry = entries_[slot(type)];
    if (entry.type == type && entry.version != 0 && ffi::version_tag(type) == entry.version) [[likely]]
      return &entry.value;
    return nullptr;
  }

  // The tag to remember an answer under, taken before the answer is found
  // out: finding it out may run Python code (a namespace key's __eq__, an
  // attribute lookup) that changes the class. `probe`: the registry's
  // version probe name (ffi::assign_version_tag).
  [[nodiscard]] static unsigned int tag(PyTypeObject* type, PyObject* probe) {
    return ffi::assign_version_tag(type, probe);
  }

  // Remembers the answer found out since `version` was taken, unless the
  // class changed meanwhile (the answer may be of the class it was before).
  void remember(PyTypeObject* type, unsigned int version, Value value) {
    if (version != 0 && ffi::version_tag(type) == version) entries_[slot(type)] = {type, version, value};
  }

 private:
  struct Entry {
    PyTypeObject* type = nullptr;
    unsigned int version = 0;
    Value value{};
  };

  static size_t slot(PyTypeObject* type) {
    if constexpr (Slots == 1) {
      return 0;
    } else {
      const uint64_t spread = reinterpret_cast<uintptr_t>(type) * uint64_t{0x9E3779B97F4A7C15};
      return static_cast<size_t>(spread >> (64 - std::countr_zero(Slots)));
    }
  }

  Entry entries_[Slots];
};

}  // namespace vellum
