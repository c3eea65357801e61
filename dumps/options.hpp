// The option flags accepted by dumps.
#pragma once

#include <cstdint>

namespace vellum {

using Options = uint32_t;

inline constexpr Options OPT_INDENT_2 = 1;
inline constexpr Options OPT_NAIVE_UTC = 2;
inline constexpr Options OPT_NON_STR_KEYS = 4;
inline constexpr Options OPT_OMIT_MICROSECONDS = 8;
inline constexpr Options OPT_SERIALIZE_NUMPY = 16;
inline constexpr Options OPT_SORT_KEYS = 32;
inline constexpr Options OPT_STRICT_INTEGER = 64;
inline constexpr Options OPT_UTC_Z = 128;
inline constexpr Options OPT_PASSTHROUGH_SUBCLASS = 256;
inline constexpr Options OPT_PASSTHROUGH_DATETIME = 512;
inline constexpr Options OPT_APPEND_NEWLINE = 1024;
inline constexpr Options OPT_PASSTHROUGH_DATACLASS = 2048;
inline constexpr Options OPT_DECIMAL = 4096;
inline constexpr Options OPT_SERIALIZE_DATACLASS = 0;
inline constexpr Options OPT_SERIALIZE_UUID = 0;
inline constexpr Options MaxOptions = 8191;
// Never one of the caller's: set by dumps in the options a dict key is
// formatted under, so that a failure names the key.
inline constexpr Options FormattingKey = MaxOptions + 1;

// Published on the module, in this order.
struct OptionConstant {
  const char* name;
  Options value;
};
inline constexpr OptionConstant OptionConstants[] = {
    {"OPT_APPEND_NEWLINE", OPT_APPEND_NEWLINE},
    {"OPT_DECIMAL", OPT_DECIMAL},
    {"OPT_INDENT_2", OPT_INDENT_2},
    {"OPT_NAIVE_UTC", OPT_NAIVE_UTC},
    {"OPT_NON_STR_KEYS", OPT_NON_STR_KEYS},
    {"OPT_OMIT_MICROSECONDS", OPT_OMIT_MICROSECONDS},
    {"OPT_PASSTHROUGH_DATACLASS", OPT_PASSTHROUGH_DATACLASS},
    {"OPT_PASSTHROUGH_DATETIME", OPT_PASSTHROUGH_DATETIME},
    {"OPT_PASSTHROUGH_SUBCLASS", OPT_PASSTHROUGH_SUBCLASS},
    {"OPT_SERIALIZE_DATACLASS", OPT_SERIALIZE_DATACLASS},
    {"OPT_SERIALIZE_NUMPY", OPT_SERIALIZE_NUMPY},
    {"OPT_SERIALIZE_UUID", OPT_SERIALIZE_UUID},
    {"OPT_SORT_KEYS", OPT_SORT_KEYS},
    {"OPT_STRICT_INTEGER", OPT_STRICT_INTEGER},
    {"OPT_UTC_Z", OPT_UTC_Z},
};

}  // namespace vellum
