// The one choice every component makes among its forms.
#include "base/simd/forms.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>

#include "base/cpu_features.hpp"

namespace vellum {

// Outside the unnamed namespace: the form tables of a type there would have
// internal linkage, and a weak reference to them no meaning.
struct Toy {
  int width;
};

template <int Width>
const Toy& toy() {
  static constexpr Toy Table{Width};
  return Table;
}

namespace {

// Widest first, as a component lists them; "narrow" needs less than "wide".
constexpr simd::Form<Toy> Forms[] = {
    {"wide", cpu::Avx2 | cpu::Avx512Vl, &toy<64>, nullptr},
    {"narrow", cpu::Avx2, &toy<32>, nullptr},
    {"other", cpu::F16c, &toy<8>, nullptr},
    {"portable", 0, &toy<16>, nullptr},
};

TEST(Forms, PickTakesTheFirstFormTheFeaturesCover) {
  const struct {
    uint64_t features;
    int width;
  } cases[] = {
      {0, 16},
      {cpu::Avx512Vl, 16},  // not without AVX2
      {cpu::Avx2, 32},
      {cpu::Avx2 | cpu::F16c, 32},
      {cpu::F16c, 8},
      {cpu::Avx2 | cpu::Avx512Vl, 64},
      {cpu::AllFeatures, 64},
      {cpu::AllFeatures | cpu::Filled, 64},
  };
  for (const auto& c : cases) EXPECT_EQ(simd::pick<Toy>(Forms, c.features).width, c.width) << c.features;
}

}  // namespace

// Native tables of the toy type in each form namespace; no SIMDe ones.
template <>
const Toy& avx2::routines<Toy>() {
  return toy<32>();
}
template <>
const Toy& avx512::routines<Toy>() {
  return toy<64>();
}
template <>
const Toy& f16c::routines<Toy>() {
  return toy<8>();
}
template <>
const Toy& portable::routines<Toy>() {
  return toy<16>();
}

namespace {

TEST(Forms, RowsOfEachInstructionSet) {
  // Not constexpr: a constant evaluation takes every function's address for
  // non-null, weak or not.
  const simd::Form<Toy> rows[] = {simd::form<Toy, simd::Isa::Avx512>(), simd::form<Toy, simd::Isa::Avx2>(),
                                  simd::form<Toy, simd::Isa::F16c>(), simd::form<Toy, simd::Isa::Portable>()};
  const struct {
    const char* name;
    uint64_t needs;
    int width;
  } want[] = {
      // The AVX-512 target region enables AVX2 too.
      {"avx512", cpu::Avx2 | cpu::Avx512Vl, 64},
      {"avx2", cpu::Avx2, 32},
      {"f16c", cpu::F16c, 8},
      {"portable", 0, 16},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    EXPECT_STREQ(rows[i].name, want[i].name);
    EXPECT_EQ(rows[i].needs, want[i].needs) << want[i].name;
    // The table is only read, so any host may look at it.
    EXPECT_EQ(rows[i].native().width, want[i].width) << want[i].name;
    // No SIMDe table of this type is linked: its address reads as null.
    EXPECT_EQ(rows[i].simde, nullptr) << want[i].name;
  }
  EXPECT_EQ(simd::pick<Toy>(rows, cpu::Avx2 | cpu::F16c).width, 32);
  EXPECT_EQ(simd::pick<Toy>(rows, cpu::Avx512Vl | cpu::F16c).width, 8);
}

}  // namespace
}  // namespace vellum
