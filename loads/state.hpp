// The module's state of loads: its exception type, the name it looks up and
// its str caches. Made and released with the module (module/state.hpp holds
// it), passed down every call explicitly: the builder and the error path
// take it.
#pragma once

#include "core/python.hpp"
#include "loads/str_cache.hpp"

namespace vellum {

// Every PyObject* here is a reference the state owns. Zero-filled memory is
// the empty state.
struct LoadsState {
  // First: a slot's address is then the state's plus the slot's offset.
  StrCache keys;
  StrCache values;
  PyObject* decode_error;  // vellum.JSONDecodeError, derived from json.JSONDecodeError
  PyObject* read_name;     // "read", interned: the attribute a file object has
  PyObject* empty_str;     // the interpreter's empty str
  PyObject* parse_float_name;  // "parse_float", interned: loads' keyword
  PyObject* decimal_type;      // decimal.Decimal
};

// The exception type gets the docstring given. False with an exception
// pending (release_loads_state then gives back what was taken).
bool fill_loads_state(LoadsState& state, const char* decode_error_doc);

// Gives back every reference, the cached strs included.
void release_loads_state(LoadsState& state);

// Visits the types, the objects that can be part of a cycle.
int traverse_loads_state(const LoadsState& state, visitproc visit, void* arg);

}  // namespace vellum
