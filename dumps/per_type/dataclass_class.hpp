// What a dataclass's class alone decides: whether it is one, and which path
// its instances take. Used by the classification and by the dataclass
// writer.
#pragma once

#include "core/pyref.hpp"
#include "core/python.hpp"
#include "dumps/error.hpp"

namespace vellum {

struct DumpsState;

// What a dataclass class decides, remembered per class
// (DumpsState::dataclass_classes).
struct DataclassClass {
  // The class's field dict (borrowed: the class holds it for as long as its
  // version tag stays), or null where the class's lookup does not simply
  // give a dict.
  PyObject* fields = nullptr;
  bool own_slots = false;
};

// Whether the class's own namespace (not an inherited one) holds
// "__dataclass_fields__": an undecorated subclass of a dataclass is not one.
// 1, 0, or -1 with an exception pending that must reach the caller (a
// namespace key's __eq__ raised KeyboardInterrupt).
int is_dataclass_type(PyTypeObject* type, DumpsState& state);

// The declared fields, read from the instance, as a new reference to the
// class's field dict; null with the interpreter's error pending when it
// cannot be read.
PyRef dataclass_fields(PyObject* obj, const DumpsState& state);

// Whether the field object marks a regular field (not a class variable or
// an init-only pseudo-field): 1, 0, or -1 with the interpreter's error
// pending.
int is_regular_field(PyObject* field, const DumpsState& state);

// Whether the instance's __dict__ holds its members: not where the class
// itself defines __slots__, nor where a declared regular field missing from
// it is kept in a slot (a base's). Those instances take the fields path,
// which reads every declared field; the others keep the dict path and its
// extra attributes, also when a field was deleted from the instance or
// keeps its default on the class.
EncodeStatus dict_holds_members(PyObject* obj, PyObject* dict, DumpsState& state, bool& holds);

}  // namespace vellum
