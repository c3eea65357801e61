#include "base/cpu_features.hpp"

#include <atomic>
#include <cpuid.h>
#include <cstdlib>
#include <cstring>

namespace vellum::cpu {
namespace {

struct CpuidRegs {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
};

CpuidRegs cpuid(unsigned leaf, unsigned subleaf) {
  CpuidRegs r;
  if (!__get_cpuid_count(leaf, subleaf, &r.eax, &r.ebx, &r.ecx, &r.edx)) return CpuidRegs{};
  return r;
}

uint64_t xgetbv0() {
  uint32_t lo, hi;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  return (uint64_t{hi} << 32) | lo;
}

constexpr unsigned bit(unsigned n) { return 1u << n; }

// Both words are filled once; racing threads store the same value.
std::atomic<uint64_t> host_word{0};
std::atomic<uint64_t> selected_word{0};

}  // namespace

uint64_t probe_features() {
  const CpuidRegs leaf1 = cpuid(1, 0);
  uint64_t word = Filled;
  const bool os_xsave = (leaf1.ecx & bit(26)) && (leaf1.ecx & bit(27));
  if (!os_xsave) return word;
  const uint64_t xcr0 = xgetbv0();
  const bool ymm_state = (xcr0 & 0x6) == 0x6;                 // XMM and YMM
  const bool zmm_state = ymm_state && (xcr0 & 0xe0) == 0xe0;  // opmask, ZMM_Hi256, Hi16_ZMM

  const CpuidRegs leaf7 = cpuid(7, 0);
  const CpuidRegs extended1 = cpuid(0x80000001, 0);
  // The features whose every extension the processor has.
  uint64_t offered = Avx2 | Avx512Vl | F16c;
  for (const Extension& e : Extensions) {
    const CpuidRegs& regs = e.leaf == 1 ? leaf1 : e.leaf == 7 ? leaf7 : extended1;
    const unsigned value = e.reg == CpuidRegister::Ebx ? regs.ebx : e.reg == CpuidRegister::Ecx ? regs.ecx : regs.edx;
    if (!(value & bit(e.bit))) offered &= ~e.needed_by;
  }
  // Every form is VEX- or EVEX-encoded: without the register state it faults.
  if (ymm_state) word |= offered & (Avx2 | F16c);
  if (zmm_state) word |= offered & Avx512Vl;
  return word;
}

uint64_t features() {
  uint64_t word = host_word.load(std::memory_order_relaxed);
  if (word & Filled) [[likely]]
    return word;
  word = probe_features();
  host_word.store(word, std::memory_order_relaxed);
  return word;
}

uint64_t cap_of(const char* value) {
  if (value == nullptr) return AllFeatures;
  if (std::strcmp(value, "portable") == 0) return 0;
  if (std::strcmp(value, "avx2") == 0) return Avx2 | F16c;
  return AllFeatures;  // "avx512", and values that name nothing
}

uint64_t selected_features() {
  uint64_t word = selected_word.load(std::memory_order_relaxed);
  if (word & Filled) [[likely]]
    return word;
  word = features() & (cap_of(std::getenv("VELLUM_CPU")) | Filled);
  selected_word.store(word, std::memory_order_relaxed);
  return word;
}

}  // namespace vellum::cpu
