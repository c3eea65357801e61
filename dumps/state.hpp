// The module's state of dumps: what one module object's dumps recognises,
// looks up and remembers. Made and released with the module (module/state.hpp
// holds it), passed down every call explicitly: the serializer's context,
// the writers and formatters take it.
#pragma once

#include "core/python.hpp"
#include "dumps/class_memo.hpp"
#include "dumps/per_type/dataclass_class.hpp"
#include "dumps/per_type/datetime.hpp"
#include "dumps/scratch.hpp"
#include "dumps/type_registry.hpp"

namespace vellum {

// Zero-filled memory is the empty state (the module's state is zeroed by the
// interpreter before exec fills it).
struct DumpsState {
  TypeRegistry types;
  // Enum classes found to keep their members' value in their "_value_"
  // entry (dumps/per_type/enum.cpp).
  ClassMemo<bool> plain_value_enums;
  // The routes of tzinfo classes whose type alone decides it
  // (dumps/per_type/datetime.cpp).
  ClassMemo<TzRoute> tz_routes;
  // What a dataclass's class decides (dumps/per_type/dataclass_class.cpp).
  ClassMemo<DataclassClass> dataclass_classes;
  ScratchBlocks scratch;

  // The version probe name, for remembering a class.
  PyObject* probe() const { return types.name<"__vellum_version_probe__">(); }
};

// Fills the registry; false with an exception pending (release_dumps_state
// then gives back what was taken).
inline bool fill_dumps_state(DumpsState& state) { return fill_type_registry(state.types); }

// Gives back every reference and block; the memos forget everything.
inline void release_dumps_state(DumpsState& state) {
  release_type_registry(state.types);
  release_scratch(state.scratch);
  state.plain_value_enums = {};
  state.tz_routes = {};
  state.dataclass_classes = {};
}

inline int traverse_dumps_state(const DumpsState& state, visitproc visit, void* arg) {
  return traverse_type_registry(state.types, visit, arg);
}

}  // namespace vellum
