// The interpreter's C API for everything above core/ffi: its headers, and
// the calls newer versions added, written for the older ones
// (core/ffi/compat_api.hpp).
#pragma once

#include "core/ffi/compat_api.hpp"
