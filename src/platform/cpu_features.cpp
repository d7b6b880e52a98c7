#include "platform/cpu_features.h"

namespace iffjpeg::platform {

bool ProcessorHasAvx2() {
#if defined(IFFJPEG_HAVE_AVX2)
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

bool ProcessorHasAvx512() {
#if defined(IFFJPEG_HAVE_AVX512)
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
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
