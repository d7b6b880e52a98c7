#include "platform/cpu_features.h"

#if defined(IFFJPEG_HAVE_AVX512)
#include <cpuid.h>
#endif

namespace iffjpeg::platform {

bool ProcessorHasAvx2() {
#if defined(IFFJPEG_HAVE_AVX2)
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

#if defined(IFFJPEG_HAVE_AVX512)
namespace {

// AMD family 1Ah (Zen 5) and later execute 512-bit operations at full width
// and clock. Earlier AVX-512 processors split them in two or lower the
// core's clock while they run, which leaves little gain, or a loss across
// the whole decode, against the 256-bit kernels.
bool RunsAvx512AtFullWidth() {
  unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(0, &eax, &ebx, &ecx, &edx) == 0) return false;
  const bool amd = ebx == 0x68747541 && edx == 0x69746E65 && ecx == 0x444D4163;  // AuthenticAMD
  if (!amd || __get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
  unsigned int family = (eax >> 8) & 0xF;
  if (family == 0xF) family += (eax >> 20) & 0xFF;
  return family >= 0x1A;
}

}  // namespace
#endif

bool ProcessorHasAvx512() {
#if defined(IFFJPEG_HAVE_AVX512)
  static const bool full = __builtin_cpu_supports("avx512f") &&
                           __builtin_cpu_supports("avx512bw") && RunsAvx512AtFullWidth();
  return full;
#else
  return false;
#endif
}

bool ProcessorHasAvx512OnYmm() {
#if defined(IFFJPEG_HAVE_AVX512)
  static const bool present = __builtin_cpu_supports("avx512f") &&
                              __builtin_cpu_supports("avx512bw") &&
                              __builtin_cpu_supports("avx512vl");
  return present;
#else
  return false;
#endif
}

bool ProcessorHasBitOps() {
#if defined(IFFJPEG_HAVE_AVX2)
  return __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
#else
  return false;
#endif
}

#if defined(IFFJPEG_FAULT_INJECTION)
namespace {
bool g_forceScalar = false;  // test hook only; never compiled into the shipped library
}  // namespace

bool ScalarKernelsForced() { return g_forceScalar; }
#endif

}  // namespace iffjpeg::platform

#if defined(IFFJPEG_FAULT_INJECTION)
namespace iffjpeg::testing {
void ForceScalarKernels(bool scalar) { platform::g_forceScalar = scalar; }
}  // namespace iffjpeg::testing
#endif
