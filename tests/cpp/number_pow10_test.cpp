// The power-of-ten significands and the integer logarithms, checked against
// exact rational arithmetic in the embedded Python.
#include "kernels/number/pow10_table.hpp"

#include <Python.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

using namespace vellum::number;

// Evaluates a Python expression that yields a str.
std::string python_eval(const std::string& setup, const std::string& expr) {
  if (!Py_IsInitialized()) Py_Initialize();
  PyObject* globals = PyDict_New();
  PyDict_SetItemString(globals, "__builtins__", PyEval_GetBuiltins());
  PyObject* r = PyRun_String(setup.c_str(), Py_file_input, globals, globals);
  std::string out;
  if (r != nullptr) {
    Py_DECREF(r);
    r = PyRun_String(expr.c_str(), Py_eval_input, globals, globals);
  }
  if (r == nullptr) {
    PyErr_Print();
  } else {
    const char* s = PyUnicode_AsUTF8(r);
    if (s != nullptr) out = s;
    Py_DECREF(r);
  }
  Py_DECREF(globals);
  return out;
}

const char* const ExactHelpers = R"(
from fractions import Fraction
def floor_log2(x):
    b = x.numerator.bit_length() - x.denominator.bit_length()
    while Fraction(2) ** b > x: b -= 1
    while Fraction(2) ** (b + 1) <= x: b += 1
    return b
def floor_log10(x):
    k = floor_log2(x) * 3 // 10 - 5
    while Fraction(10) ** (k + 1) <= x: k += 1
    return k
def significand(e):
    x = Fraction(10) ** e
    g = x / Fraction(2) ** (floor_log2(x) - 127)
    return g.numerator // g.denominator
)";

// A table's significands as hex words, the first for 10^first; each has its
// top bit set.
template <size_t N>
std::string table_text(const std::array<Pow10Significand, N>& table, int first) {
  std::string text;
  for (size_t i = 0; i < N; ++i) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%s%016llx%016llx", i == 0 ? "" : " ", static_cast<unsigned long long>(table[i].hi),
                  static_cast<unsigned long long>(table[i].lo));
    text += buf;
    EXPECT_NE(table[i].hi >> 63, 0u) << static_cast<int>(i) + first;
  }
  return text;
}

// The same from exact arithmetic: the floor of each scaled power, plus `add`.
std::string exact_text(int first, int last, int add) {
  return python_eval(ExactHelpers, "' '.join('%032x' % (significand(e) + " + std::to_string(add) + ") for e in range(" +
                                       std::to_string(first) + ", " + std::to_string(last + 1) + "))");
}

// The parser's table is the floor of the scaled power, the shortest
// search's one more: both from the one generator.
TEST(NumberPow10, SignificandsMatchExactArithmetic) {
  const std::string truncated = exact_text(TruncatedPow10Min, TruncatedPow10Max, 0);
  const std::string rounded = exact_text(RoundedPow10Min, RoundedPow10Max, 1);
  ASSERT_FALSE(truncated.empty() || rounded.empty());
  EXPECT_EQ(table_text(pow10_truncated, TruncatedPow10Min), truncated);
  EXPECT_EQ(table_text(pow10_rounded_up, RoundedPow10Min), rounded);
}

// Over the whole range the float search uses, and beyond.
TEST(NumberPow10, IntegerLogarithms) {
  const std::string want = python_eval(ExactHelpers, R"(' '.join(
      '%d:%d:%d:%d' % (i, floor_log2(Fraction(10) ** i), floor_log10(Fraction(2) ** i),
                       floor_log10(Fraction(3, 4) * Fraction(2) ** i))
      for i in range(-1100, 1101)))");
  ASSERT_FALSE(want.empty());
  std::string got;
  for (int i = -1100; i <= 1100; ++i) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s%d:%d:%d:%d", i == -1100 ? "" : " ", i, floor_log2_pow10(i), floor_log10_pow2(i),
                  floor_log10_three_quarters_pow2(i));
    got += buf;
  }
  EXPECT_EQ(got, want);
}

}  // namespace
