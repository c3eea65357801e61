#include "kernels/number/half.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/cpu_features.hpp"
#include "tests/cpp/guard_pages.hpp"
#include "tests/cpp/forms.hpp"
#include "tests/oracle/half.hpp"

namespace {

using vellum::HalfToFloatFn;
using Form = vellum::test::Form<HalfToFloatFn>;

std::vector<Form> forms() { return vellum::test::forms(vellum::half_forms, &vellum::HalfRoutines::half_to_float); }

uint32_t expected_bits(uint16_t h) { return vellum::oracle::half_to_float_bits(h); }

std::vector<uint16_t> all_halves() {
  std::vector<uint16_t> v(65536);
  for (uint32_t i = 0; i < 65536; ++i) v[i] = static_cast<uint16_t>(i);
  return v;
}

TEST(Half, ReferenceMatchesTheArithmetic) {
  for (uint32_t h = 0; h < 65536; ++h)
    ASSERT_EQ(vellum::half_bits_to_float_bits(static_cast<uint16_t>(h)), expected_bits(static_cast<uint16_t>(h)))
        << std::hex << h;
}

TEST(Half, EveryFormWidensAllValuesAlike) {
  const std::vector<uint16_t> halves = all_halves();
  for (const Form& form : forms()) {
    std::vector<float> out(halves.size());
    form.routine(reinterpret_cast<const uint8_t*>(halves.data()), halves.size(), out.data());
    for (uint32_t h = 0; h < 65536; ++h)
      ASSERT_EQ(std::bit_cast<uint32_t>(out[h]), expected_bits(static_cast<uint16_t>(h)))
          << form.name << " half 0x" << std::hex << h;
  }
}

TEST(Half, KnownValues) {
  struct Case {
    uint16_t half;
    float value;
  };
  const Case cases[] = {
      {0x0000, 0.0f},           {0x8000, -0.0f},         {0x3c00, 1.0f},     {0xc000, -2.0f},
      {0x7bff, 65504.0f},       {0x0001, 0x1p-24f},      {0x03ff, 0x3ffp-24f}, {0x0400, 0x1p-14f},
      {0x2e66, 0.0999755859375f}, {0x7c00, INFINITY},    {0xfc00, -INFINITY},
  };
  for (const Form& form : forms()) {
    for (const Case& c : cases) {
      float out;
      form.routine(reinterpret_cast<const uint8_t*>(&c.half), 1, &out);
      EXPECT_EQ(std::bit_cast<uint32_t>(out), std::bit_cast<uint32_t>(c.value)) << form.name << " " << c.half;
    }
  }
}

// Every count up to a few blocks, the halves ending at an inaccessible page
// and the floats too, at odd addresses: nothing outside either is touched.
TEST(Half, StaysInsideItsBuffers) {
  vellum::test::GuardedPage in, out;
  ASSERT_TRUE(in.ok() && out.ok());
  for (const Form& form : forms()) {
    for (size_t n = 0; n <= 40; ++n) {
      uint8_t* src = in.last(2 * n + 1);  // odd address: unaligned halves
      for (size_t i = 0; i < n; ++i) {
        const uint16_t h = static_cast<uint16_t>(0x3c00 + 37 * i);
        std::memcpy(src + 2 * i, &h, 2);
      }
      src[2 * n] = 0xAB;
      auto* dst = reinterpret_cast<float*>(out.last(sizeof(float) * n));
      form.routine(src, n, dst);
      for (size_t i = 0; i < n; ++i) {
        const uint16_t h = static_cast<uint16_t>(0x3c00 + 37 * i);
        ASSERT_EQ(std::bit_cast<uint32_t>(dst[i]), expected_bits(h)) << form.name << " n=" << n << " i=" << i;
      }
    }
  }
}

TEST(Half, FormsAndTheChoice) { EXPECT_EQ(vellum::test::list_problems(vellum::half_forms, vellum::half_routines), ""); }

}  // namespace
