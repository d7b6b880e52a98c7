#include "decoder/mcu_rows.h"

#include <cstring>

#include "transform/idct.h"

namespace iffjpeg {
namespace {

void ClearBlocks(BlockRow row, int32_t count) {
  std::memset(row, 0, sizeof(CoefBlock) * static_cast<std::size_t>(count));
}

// Level shift and clamp (T.81 A.3.1). The range-limit table covers every
// value a valid block produces; wilder values from corrupt data are clamped
// without reading outside it.
inline uint8_t StoreSample(const uint8_t* rangeLimit, int32_t value) {
  int32_t shifted = value + 128;
  if (static_cast<uint32_t>(shifted + 256) < 768u) return rangeLimit[shifted];
  return shifted < 0 ? 0 : 255;
}

}  // namespace

void DecodeMcuRowSingle(IFFHandle& handle, DecoderState& dec, BlockArray* coefRows) {
  BlockRow row = coefRows[0][0];
  ClearBlocks(row, dec.mcusPerRow);
  for (int32_t m = 0; m < dec.mcusPerRow; ++m) {
    CoefBlock* list[1] = {&row[m]};
    dec.methods->decodeMcu(handle, dec, list);
  }
}

void DecodeMcuRowInterleaved(IFFHandle& handle, DecoderState& dec, BlockArray* coefRows) {
  for (int32_t c = 0; c < dec.scanComponentCount; ++c) {
    const ComponentInfo& comp = *dec.scanComponents[c];
    for (int32_t r = 0; r < comp.mcuHeight; ++r) {
      ClearBlocks(coefRows[c][r], comp.mcuWidth * dec.mcusPerRow);
    }
  }
  CoefBlock* list[kMaxBlocksInMcu];
  for (int32_t m = 0; m < dec.mcusPerRow; ++m) {
    int32_t n = 0;
    for (int32_t c = 0; c < dec.scanComponentCount; ++c) {
      const ComponentInfo& comp = *dec.scanComponents[c];
      for (int32_t r = 0; r < comp.mcuHeight; ++r) {
        BlockRow row = coefRows[c][r] + m * comp.mcuWidth;
        for (int32_t col = 0; col < comp.mcuWidth; ++col) list[n++] = &row[col];
      }
    }
    dec.methods->decodeMcu(handle, dec, list);
  }
}

void ReconstructMcuRow(IFFHandle& handle, DecoderState& dec, BlockArray* coefRows,
                       SampleArray* sampleRows, int32_t firstRow) {
  CoefBlock& work = handle.decomp.transformBlock;
  const uint8_t* limit = dec.rangeLimit;
  for (int32_t c = 0; c < dec.scanComponentCount; ++c) {
    const ComponentInfo& comp = *dec.scanComponents[c];
    int32_t blocksPerRow = comp.paddedWidth / 8;
    SampleArray rows = sampleRows[c];
    for (int32_t r = 0; r < comp.mcuHeight; ++r) {
      BlockRow blocks = coefRows[c][r];
      for (int32_t b = 0; b < blocksPerRow; ++b) {
        std::memcpy(work, blocks[b], sizeof(CoefBlock));
        inverseDct(work);
        for (int32_t k = 0; k < 8; ++k) {
          uint8_t* out = rows[firstRow + 8 * r + k] + 8 * b;
          const int16_t* in = work + 8 * k;
          for (int32_t x = 0; x < 8; ++x) out[x] = StoreSample(limit, in[x]);
        }
      }
    }
  }
}

}  // namespace iffjpeg
