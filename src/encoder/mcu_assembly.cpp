#include "encoder/mcu_assembly.h"

#include "driver/handle.h"
#include "transform/fdct.h"
#include "transform/transform_kernels.h"

namespace iffjpeg {

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
      enc.methods->encodeMcu(handle.stream, handle.bitWriter, enc, f.mcuBuffer);
    }
  }
}

}  // namespace iffjpeg
