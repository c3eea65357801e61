// What was last found out about one class, for as long as the class stays
// unchanged.
#pragma once

#include "src/python.hpp"

namespace vellum::ffi {

// A class's version tag changes whenever the class or a base changes and is
// never reused; 0 means it has none. The interpreter no longer sets the
// "valid version tag" flag: the tag alone tells.
template <class Value>
struct ClassMemo {
  PyTypeObject* type = nullptr;
  unsigned int version = 0;
  Value value{};

  [[nodiscard]] bool holds(PyTypeObject* t) const {
    return t == type && version != 0 && t->tp_version_tag == version;
  }
  void remember(PyTypeObject* t, Value v) {
    PyUnstable_Type_AssignVersionTag(t);
    type = t;
    version = t->tp_version_tag;
    value = v;
  }
};

}  // namespace vellum::ffi
