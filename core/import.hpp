// What module exec takes from other modules.
#pragma once

#include "core/python.hpp"

namespace vellum {

// A new reference to module_name.attribute, looked up in the module's dict
// (never through attribute access); null with the exception pending.
PyObject* import_type_attribute(const char* module_name, const char* attribute);

}  // namespace vellum
