// The objects dumps recognises by identity and the names it looks up, one
// registry per module (in its state, dumps/state.hpp): filled by module exec
// from the rows of ScalarKinds and of type_registry.cpp, released with the
// module. The interpreter's own static types (int, str, list, type(None))
// are not held: they are the same for every module and compared as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/python.hpp"
#include "dumps/kinds.hpp"

namespace vellum {

// The names that the writers of other kinds than ScalarKinds' read, that
// dumps matches its keywords with, or that it calls on its argument errors;
// the rows' own names follow them.
inline constexpr const char* RegistryNames[] = {
    "value",     "_value_",    "__dict__",   "__dataclass_fields__", "__slots__", "_field_type",
    "__array_struct__", "dtype", "descr", "default", "option", "add_note",
    // A name no class defines: 3.11 assigns a class its version tag through
    // a lookup (core/ffi/type_version.hpp).
    "__vellum_version_probe__",
};

inline constexpr size_t NameCount = [] {
  size_t n = std::size(RegistryNames);
  for (const ScalarKind& row : ScalarKinds)
    for (const char* name : row.names) n += name != nullptr;
  return n;
}();

// Not constexpr: calling it at compile time stops the build.
size_t no_row_names_this_attribute();

// The slot of an interned name: RegistryNames, then each row's names.
consteval size_t name_slot(std::string_view text) {
  size_t slot = 0;
  for (const char* name : RegistryNames) {
    if (name == text) return slot;
    ++slot;
  }
  for (const ScalarKind& row : ScalarKinds) {
    for (const char* name : row.names) {
      if (name == nullptr) continue;
      if (name == text) return slot;
      ++slot;
    }
  }
  return no_row_names_this_attribute();
}

// A name's text as a template argument.
template <size_t N>
struct NameText {
  char text[N];
  consteval NameText(const char (&s)[N]) {
    for (size_t i = 0; i < N; ++i) text[i] = s[i];
  }
  constexpr std::string_view view() const { return {text, N - 1}; }
};

// The numpy types dumps writes: the module's entries, or null where numpy
// lacks one (a null type never matches).
struct NumpyTypes {
  PyObject* ndarray;
  PyObject* float64;
  PyObject* float32;
  PyObject* float16;
  PyObject* int64;
  PyObject* int32;
  PyObject* int16;
  PyObject* int8;
  PyObject* uint64;
  PyObject* uint32;
  PyObject* uint16;
  PyObject* uint8;
  PyObject* bool_;
  PyObject* datetime64;
};

// Every PyObject* here is a reference the registry owns. Zero-filled memory
// is the empty registry.
struct TypeRegistry {
  // Each imported row's type, at the row's index (null for a static type).
  PyObject* scalar_types[ScalarKindCount];
  // Interned, at their name_slot.
  PyObject* names[NameCount];

  PyObject* tzinfo;
  PyObject* timedelta;
  PyObject* utc;  // datetime.timezone.utc
  PyObject* enum_meta;
  // enum.Enum's own "value" descriptor, whose getter returns the member's
  // "_value_": members whose class finds this very object read that directly.
  // Null when enum.Enum has none.
  PyObject* enum_value_descriptor;
  PyObject* dataclass_field_marker;
  PyObject* fragment;  // made by module exec (dumps/fragment.hpp)

  // Probed on first use: NumpyAbsent or NumpyPresent once decided.
  uint8_t numpy_probe;
  NumpyTypes numpy;

  template <NameText Text>
  PyObject* name() const {
    return names[name_slot(Text.view())];
  }
};

inline constexpr uint8_t NumpyUnprobed = 0, NumpyAbsent = 1, NumpyPresent = 2;

inline PyTypeObject* as_type(PyObject* type) { return reinterpret_cast<PyTypeObject*>(type); }
inline PyObject* as_object(PyTypeObject* type) { return reinterpret_cast<PyObject*>(type); }

// Fills the registry, all but `fragment`. False with a Python exception
// pending when an import it needs failed or memory ran out; what it took is
// released with the registry all the same.
bool fill_type_registry(TypeRegistry& types);

// Gives back every reference; the registry is empty again.
void release_type_registry(TypeRegistry& types);

// Visits the objects that can be part of a reference cycle (the types and
// the other objects; names are strs).
int traverse_type_registry(const TypeRegistry& types, visitproc visit, void* arg);

// The numpy types, probing numpy on first use; null when numpy is absent.
// The answer sticks, unless the probe ran out of memory or was
// interrupted: numpy is then absent for this call, and the exception is
// left pending.
const NumpyTypes* probe_numpy(TypeRegistry& types);

inline const NumpyTypes* numpy_types(TypeRegistry& types) {
  if (types.numpy_probe == NumpyPresent) [[likely]]
    return &types.numpy;
  return types.numpy_probe == NumpyAbsent ? nullptr : probe_numpy(types);
}

}  // namespace vellum
