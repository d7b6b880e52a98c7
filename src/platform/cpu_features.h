// The processor service the SIMD kernels' dispatch asks: which instruction
// sets this processor runs. Each stage folder chooses its own kernels from
// the answer (decoder/decoder_kernels.h, encoder/encoder_kernels.h,
// transform/transform_kernels.h; the Huffman coders pick theirs in place),
// once per process; platform/ knows none of them.
#pragma once

namespace iffjpeg::platform {

// True when the processor executes AVX2 instructions and the operating
// system keeps their registers across task switches; always false in a
// build without the AVX2 kernels (IFFJPEG_SCALAR_ONLY, MSVC, other
// processors). SSE2 needs no question: it is part of every x86-64.
bool ProcessorHasAvx2();

// True when the processor executes the AVX-512 foundation and byte/word
// instructions, the operating system keeps their registers, and the
// processor runs them at full width and clock (AMD family 1Ah, Zen 5, and
// later; elsewhere the 256-bit kernels are as fast or faster). Always false
// in a build without the 512-bit kernels (those above, and Windows).
bool ProcessorHasAvx512();

// True when the processor executes the AVX-512 foundation, byte/word and
// vector-length instructions and the operating system keeps their
// registers, whatever the width and clock it runs 512-bit operations at:
// for kernels that use the instructions on 256-bit registers only, which
// leave the clock alone. Always false in a build without the 512-bit
// kernels.
bool ProcessorHasAvx512OnYmm();

// True when the processor executes the BMI2 bit-deposit (PDEP) and POPCNT
// instructions; always false where the AVX2 kernels are not built (the same
// x86-64 builds and compilers).
bool ProcessorHasBitOps();

// True while a test has forced the scalar kernels (ForceScalarKernels); the
// dispatch of every stage then hands out its scalar twins. Always false in
// the shipped library, where it costs nothing.
#if defined(IFFJPEG_FAULT_INJECTION)
bool ScalarKernelsForced();
#else
constexpr bool ScalarKernelsForced() { return false; }
#endif

// A stage's kernel table as its dispatch hands it out: the one kMakeFastest
// builds on first use, once per process (thread-safe, never changed
// afterwards), or the scalar table while a test forces the scalar kernels.
template <class Table, Table (*kMakeFastest)()>
const Table& ChooseKernels(const Table& scalar) {
  if (ScalarKernelsForced()) return scalar;
  static const Table fastest = kMakeFastest();
  return fastest;
}

}  // namespace iffjpeg::platform

#if defined(IFFJPEG_FAULT_INJECTION)
namespace iffjpeg::testing {
// Test builds only: route every stage's kernel choice to the scalar twins,
// so whole files can be compared with the fast paths off and on.
void ForceScalarKernels(bool scalar);
}  // namespace iffjpeg::testing
#endif
