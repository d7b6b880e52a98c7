#include "encoder/mcu_assembly.h"

#include "driver/handle.h"
#include "transform/fdct.h"
#include "transform/transform_kernels.h"

namespace iffjpeg {

void QuantizeBlock(const int16_t* coefficients, const QuantTable& table, int16_t* destination) {
  // Divide with rounding to nearest, halves away from zero (T.81 A.3.4),
  // in 16-bit sums: quantizers stay below 32768 and coefficients far below
  // 16384, so nothing overflows.
  for (int k = 0; k < 64; ++k) {
    int16_t c = coefficients[zigzagToNatural[k]];
    int16_t q = static_cast<int16_t>(table.quantval[k]);
    int16_t h = static_cast<int16_t>(q >> 1);
    if (c < 0) {
      int16_t sum = static_cast<int16_t>(h - c);
      destination[k] = static_cast<int16_t>(-(sum / q));
    } else {
      int16_t sum = static_cast<int16_t>(c + h);
      destination[k] = static_cast<int16_t>(sum / q);
    }
  }
}

void TransformAndQuantize(const SampleArray rows, int32_t firstRow, int32_t firstColumn,
                          const QuantTable& table, int16_t* workspace, int16_t* destination) {
  // Level shift to a signed range centred on zero (T.81 A.3.1).
  for (int y = 0; y < 8; ++y) {
    const uint8_t* in = rows[firstRow + y] + firstColumn;
    int16_t* out = workspace + 8 * y;
    for (int x = 0; x < 8; ++x) out[x] = static_cast<int16_t>(in[x] - 128);
  }
  forwardDct(workspace);
  QuantizeBlock(workspace, table, destination);
}

void EncodeMcuRows(IFFHandle& handle, EncoderState& enc, int32_t n) {
  CompressFields& f = handle.comp;
  // The kernel quantizes in natural order: each scan component's table is
  // laid out that way once per call.
  QuantDivisors divisors[kMaxScanComponents];
  for (int ci = 0; ci < enc.componentsInScan; ++ci) {
    const QuantTable& table = *enc.quantTables[enc.scanComponents[ci]->quantTableNo];
    PrepareQuantDivisors(table.quantval, divisors[ci]);
  }
  const ForwardDctQuantizeFn transform = SelectedTransformKernels().forwardDctQuantize;
  const ForwardDctQuantizePairFn pair = SelectedTransformKernels().forwardDctQuantizePair;
  FdctBlock list[kMaxBlocksInMcu];
  for (int32_t i = 0; i < n; ++i) {
    for (int32_t j = 0; j < enc.mcusPerRow; ++j) {
      // The MCU's blocks in order (T.81 A.2.3), then through the kernels two
      // at a time where there is a pair kernel.
      int32_t count = 0;
      int16_t* block = f.mcuBuffer;
      for (int ci = 0; ci < enc.componentsInScan; ++ci) {
        const ComponentInfo& comp = *enc.scanComponents[ci];
        SampleArray rows = f.outputBuffers[ci];
        for (int32_t y = 0; y < comp.mcuHeight; ++y) {
          SampleRow const* blockRows = rows + (i * comp.mcuHeight + y) * 8;
          for (int32_t x = 0; x < comp.mcuWidth; ++x, block += 64) {
            list[count++] = {blockRows, (j * comp.mcuWidth + x) * 8, &divisors[ci], block};
          }
        }
      }
      int32_t b = 0;
      if (pair != nullptr) {
        for (; b + 1 < count; b += 2) pair(list[b], list[b + 1]);
      }
      for (; b < count; ++b) {
        transform(list[b].rows, list[b].column, *list[b].divisors, list[b].destination);
      }
      enc.methods->encodeMcu(handle, enc, f.mcuBuffer);
    }
  }
}

}  // namespace iffjpeg
