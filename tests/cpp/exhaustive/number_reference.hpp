// Reference float text for the number tests: the shortest round-trip digits
// of std::to_chars, laid out by straightforward string code.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace vellum_test {

struct ShortestDigits {
  bool negative = false;
  std::string digits;  // no leading or trailing zeros; empty for zero
  int exponent = 0;    // of the first digit
};

template <class F>
ShortestDigits shortest_digits(F v) {
  ShortestDigits out;
  out.negative = std::signbit(v);
  if (v == 0) return out;
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  const char* p = buf;
  if (*p == '-') ++p;
  for (; p < r.ptr && *p != 'e'; ++p)
    if (*p != '.') out.digits += *p;
  out.exponent = std::atoi(std::string(p + 1, static_cast<const char*>(r.ptr)).c_str());
  while (out.digits.size() > 1 && out.digits.back() == '0') out.digits.pop_back();
  return out;
}

inline std::string layout(const ShortestDigits& d, int fixed_min, int fixed_max) {
  std::string s = d.negative ? "-" : "";
  if (d.digits.empty()) return s + "0.0";
  const int k = static_cast<int>(d.digits.size());
  const int e = d.exponent;
  if (e >= fixed_min && e <= fixed_max) {
    if (e < 0) return s + "0." + std::string(-e - 1, '0') + d.digits;
    if (e < k - 1) return s + d.digits.substr(0, e + 1) + "." + d.digits.substr(e + 1);
    return s + d.digits + std::string(e - k + 1, '0') + ".0";
  }
  s += d.digits.substr(0, 1);
  if (k > 1) {
    s += '.';
    s += d.digits.substr(1);
  }
  s += e < 0 ? "e-" : "e+";
  s += std::to_string(e < 0 ? -e : e);
  return s;
}

inline std::string reference_text(double v) { return layout(shortest_digits(v), -5, 15); }
inline std::string reference_text(float v) { return layout(shortest_digits(v), -6, 12); }

}  // namespace vellum_test
