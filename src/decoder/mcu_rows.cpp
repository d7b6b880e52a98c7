#include "decoder/mcu_rows.h"

#include <algorithm>
#include <cstring>

#include "transform/idct.h"
#include "transform/transform_kernels.h"

namespace iffjpeg {
namespace {

// MCUs handed to a batch decoder at once (their block lists on the stack).
constexpr int32_t kMcusPerCall = 32;

void ClearBlocks(BlockRow row, int32_t count) {
  std::memset(row, 0, sizeof(CoefBlock) * static_cast<std::size_t>(count));
}

}  // namespace

void DecodeMcuRowSingle(IFFHandle& handle, DecoderState& dec, BlockArray* coefRows) {
  BlockRow row = coefRows[0][0];
  ClearBlocks(row, dec.mcusPerRow);
  if (dec.methods->decodeMcus != nullptr) {
    CoefBlock* list[kMcusPerCall];
    for (int32_t m = 0; m < dec.mcusPerRow; m += kMcusPerCall) {
      int32_t n = std::min(kMcusPerCall, dec.mcusPerRow - m);
      for (int32_t i = 0; i < n; ++i) list[i] = &row[m + i];
      dec.methods->decodeMcus(handle, dec, list, n);
    }
    return;
  }
  for (int32_t m = 0; m < dec.mcusPerRow; ++m) {
    CoefBlock* list[1] = {&row[m]};
    dec.methods->decodeMcu(handle, dec, list);
  }
}

void DecodeMcuRowInterleaved(IFFHandle& handle, DecoderState& dec, BlockArray* coefRows) {
  CoefBlock* list[kMcusPerCall * kMaxBlocksInMcu];
  const bool batch = dec.methods->decodeMcus != nullptr;
  for (int32_t m = 0; m < dec.mcusPerRow;) {
    int32_t count = batch ? std::min(kMcusPerCall, dec.mcusPerRow - m) : 1;
    // The batch's blocks are cleared just before they are decoded, while
    // they fit in the first-level cache.
    for (int32_t c = 0; c < dec.scanComponentCount; ++c) {
      const ComponentInfo& comp = *dec.scanComponents[c];
      for (int32_t r = 0; r < comp.mcuHeight; ++r) {
        ClearBlocks(coefRows[c][r] + m * comp.mcuWidth, comp.mcuWidth * count);
      }
    }
    int32_t n = 0;
    for (int32_t i = 0; i < count; ++i, ++m) {
      for (int32_t c = 0; c < dec.scanComponentCount; ++c) {
        const ComponentInfo& comp = *dec.scanComponents[c];
        for (int32_t r = 0; r < comp.mcuHeight; ++r) {
          BlockRow row = coefRows[c][r] + m * comp.mcuWidth;
          for (int32_t col = 0; col < comp.mcuWidth; ++col) list[n++] = &row[col];
        }
      }
    }
    if (batch) {
      dec.methods->decodeMcus(handle, dec, list, count);
    } else {
      dec.methods->decodeMcu(handle, dec, list);
    }
  }
}

void ReconstructMcuRow(IFFHandle&, DecoderState& dec, BlockArray* coefRows, SampleArray* sampleRows,
                       int32_t firstRow) {
  // The transform and the level shift and clamp run as one kernel per block
  // (the scalar twin is inverseDct followed by the range limit). A block
  // with nothing but its DC term is filled with its one value; two blocks
  // side by side go through the pair kernel, its reduced form when neither
  // has coefficients outside the top-left 4 x 4.
  const TransformKernels& k = SelectedTransformKernels();
  for (int32_t c = 0; c < dec.scanComponentCount; ++c) {
    const ComponentInfo& comp = *dec.scanComponents[c];
    int32_t blocksPerRow = comp.paddedWidth / 8;
    SampleArray rows = sampleRows[c];
    for (int32_t r = 0; r < comp.mcuHeight; ++r) {
      BlockRow blocks = coefRows[c][r];
      SampleRow const* out = rows + firstRow + 8 * r;
      for (int32_t b = 0; b < blocksPerRow;) {
        BlockExtent first = ClassifyBlock(blocks[b]);
        if (first == BlockExtent::kDcOnly) {
          DcOnlyToSamples(blocks[b][0], out, 8 * b);
          b += 1;
        } else if (k.inverseDctPairToSamples != nullptr && b + 1 < blocksPerRow) {
          BlockExtent second = ClassifyBlock(blocks[b + 1]);
          bool low = first != BlockExtent::kFull && second != BlockExtent::kFull;
          (low ? k.inverseDctPairLowToSamples : k.inverseDctPairToSamples)(blocks[b], blocks[b + 1],
                                                                           out, 8 * b);
          b += 2;
        } else {
          k.inverseDctToSamples(blocks[b], out, 8 * b);
          b += 1;
        }
      }
    }
  }
}

}  // namespace iffjpeg
