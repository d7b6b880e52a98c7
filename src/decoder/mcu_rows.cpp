#include "decoder/mcu_rows.h"

#include <algorithm>
#include <cstring>

#include "entropy/error_concealment.h"
#include "transform/idct.h"
#include "transform/transform_kernels.h"

namespace iffjpeg {
namespace {

// MCUs handed to a batch decoder at once (their block lists on the stack).
// Each batch pays for the decoder's set-up (the coefficient placement, the
// search for the next 0xFF), so batches are long: 512 MCUs of one block for
// a lone component, 256 for an interleaved scan. Only where the blocks are
// cleared batch by batch, just before decoding (scaled decoding), is a
// batch kept to 64 MCUs, small enough for the first-level cache.
constexpr int32_t kSingleMcusPerCall = 512;
constexpr int32_t kLongMcusPerCall = 256;
constexpr int32_t kMcusPerCall = 64;

void ClearBlocks(BlockRow row, int32_t count) {
  std::memset(row, 0, sizeof(CoefBlock) * static_cast<std::size_t>(count));
}

// Zeroes the coefficients a block of the given extent may hold, after its
// transform, while the block is still in the first-level cache.
inline void ClearAfterUse(int16_t* block, BlockExtent extent) {
  if (extent == BlockExtent::kDcOnly) {
    block[0] = 0;
  } else if (extent == BlockExtent::kLowFour) {
    for (int32_t r = 0; r < 4; ++r) std::memset(block + 8 * r, 0, 4 * sizeof(int16_t));
  } else {
    std::memset(block, 0, sizeof(CoefBlock));
  }
}

}  // namespace

void DecodeMcuRowSingle(IFFHandle& handle, DecoderState& dec, BlockArray* coefRows) {
  BlockRow row = coefRows[0][0];
  if (!handle.decomp.coefRowsClear) ClearBlocks(row, dec.mcusPerRow);
  beginMcuRow(dec, coefRows);
  if (dec.methods->decodeMcus != nullptr) {
    CoefBlock* list[kSingleMcusPerCall];
    for (int32_t m = 0; m < dec.mcusPerRow; m += kSingleMcusPerCall) {
      int32_t n = std::min(kSingleMcusPerCall, dec.mcusPerRow - m);
      for (int32_t i = 0; i < n; ++i) list[i] = &row[m + i];
      dec.methods->decodeMcus(handle.stream, handle.bitReader, dec, list, n);
    }
  } else {
    for (int32_t m = 0; m < dec.mcusPerRow; ++m) {
      CoefBlock* list[1] = {&row[m]};
      dec.methods->decodeMcu(handle.stream, handle.bitReader, dec, list);
    }
  }
  finishMcuRow(handle.stream, handle.bitReader, dec);
}

void DecodeMcuRowInterleaved(IFFHandle& handle, DecoderState& dec, BlockArray* coefRows) {
  CoefBlock* list[kLongMcusPerCall * kMaxBlocksInMcu];
  const bool batch = dec.methods->decodeMcus != nullptr;
  const int32_t perCall = handle.decomp.coefRowsClear ? kLongMcusPerCall : kMcusPerCall;
  // Block b of MCU m is base[b] + m x stride[b]: the blocks of each scan
  // component in turn, row by row of the MCU (T.81 A.2.3).
  BlockRow base[kMaxBlocksInMcu];
  int32_t stride[kMaxBlocksInMcu];
  int32_t blocks = 0;
  beginMcuRow(dec, coefRows);
  for (int32_t c = 0; c < dec.scanComponentCount; ++c) {
    const ComponentInfo& comp = *dec.scanComponents[c];
    for (int32_t r = 0; r < comp.mcuHeight; ++r) {
      for (int32_t col = 0; col < comp.mcuWidth && blocks < kMaxBlocksInMcu; ++col) {
        base[blocks] = coefRows[c][r] + col;
        stride[blocks++] = comp.mcuWidth;
      }
    }
  }
  for (int32_t m = 0; m < dec.mcusPerRow;) {
    int32_t count = batch ? std::min(perCall, dec.mcusPerRow - m) : 1;
    // The batch's blocks are cleared just before they are decoded, while
    // they fit in the first-level cache (unless the reconstruction cleared
    // them after their last use).
    for (int32_t c = 0; !handle.decomp.coefRowsClear && c < dec.scanComponentCount; ++c) {
      const ComponentInfo& comp = *dec.scanComponents[c];
      for (int32_t r = 0; r < comp.mcuHeight; ++r) {
        ClearBlocks(coefRows[c][r] + m * comp.mcuWidth, comp.mcuWidth * count);
      }
    }
    int32_t n = 0;
    for (int32_t i = 0; i < count; ++i, ++m) {
      for (int32_t b = 0; b < blocks; ++b) list[n++] = base[b] + m * stride[b];
    }
    if (batch) {
      dec.methods->decodeMcus(handle.stream, handle.bitReader, dec, list, count);
    } else {
      dec.methods->decodeMcu(handle.stream, handle.bitReader, dec, list);
    }
  }
  finishMcuRow(handle.stream, handle.bitReader, dec);
}

void TransformBlockRow(BlockRow blocks, int32_t count, SampleRow const* out, bool clear) {
  // The transform and the level shift and clamp run as one kernel per block
  // (the scalar twin is inverseDct followed by the range limit). A block
  // with nothing but its DC term is filled with its one value; two blocks
  // side by side go through the pair kernel, its reduced form when neither
  // has coefficients outside the top-left 4 x 4.
  const TransformKernels& k = SelectedTransformKernels();
  for (int32_t b = 0; b < count;) {
    BlockExtent first = ClassifyBlock(blocks[b]);
    if (k.inverseDctQuadToSamples != nullptr && b + 3 < count && first != BlockExtent::kDcOnly) {
      // Four blocks with terms beside their DC go through the quad kernel.
      BlockExtent rest[3] = {ClassifyBlock(blocks[b + 1]), ClassifyBlock(blocks[b + 2]),
                             ClassifyBlock(blocks[b + 3])};
      if (rest[0] != BlockExtent::kDcOnly && rest[1] != BlockExtent::kDcOnly &&
          rest[2] != BlockExtent::kDcOnly) {
        bool full = first == BlockExtent::kFull || rest[0] == BlockExtent::kFull ||
                    rest[1] == BlockExtent::kFull || rest[2] == BlockExtent::kFull;
        (full ? k.inverseDctQuadToSamples : k.inverseDctQuadLowToSamples)(blocks[b], out, 8 * b);
        if (clear) {
          ClearAfterUse(blocks[b], first);
          for (int32_t j = 0; j < 3; ++j) ClearAfterUse(blocks[b + 1 + j], rest[j]);
        }
        b += 4;
        continue;
      }
    }
    if (first == BlockExtent::kDcOnly) {
      DcOnlyToSamples(blocks[b][0], out, 8 * b);
      if (clear) ClearAfterUse(blocks[b], first);
      b += 1;
    } else if (k.inverseDctPairToSamples != nullptr && b + 1 < count) {
      BlockExtent second = ClassifyBlock(blocks[b + 1]);
      bool low = first != BlockExtent::kFull && second != BlockExtent::kFull;
      (low ? k.inverseDctPairLowToSamples : k.inverseDctPairToSamples)(blocks[b], blocks[b + 1],
                                                                       out, 8 * b);
      if (clear) {
        ClearAfterUse(blocks[b], first);
        ClearAfterUse(blocks[b + 1], second);
      }
      b += 2;
    } else {
      k.inverseDctToSamples(blocks[b], out, 8 * b);
      if (clear) ClearAfterUse(blocks[b], first);
      b += 1;
    }
  }
}

void ReconstructMcuRow(IFFHandle& handle, DecoderState& dec, BlockArray* coefRows,
                       SampleArray* sampleRows, int32_t firstRow) {
  const bool clear = handle.decomp.coefRowsClear != 0;
  for (int32_t c = 0; c < dec.scanComponentCount; ++c) {
    const ComponentInfo& comp = *dec.scanComponents[c];
    int32_t blocksPerRow = comp.paddedWidth / 8;
    SampleArray rows = sampleRows[c];
    for (int32_t r = 0; r < comp.mcuHeight; ++r) {
      TransformBlockRow(coefRows[c][r], blocksPerRow, rows + firstRow + 8 * r, clear);
    }
  }
}

}  // namespace iffjpeg
