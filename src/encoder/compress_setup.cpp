#include "encoder/compress_setup.h"

#include <algorithm>

#include "common/result_codes.h"
#include "driver/handle.h"
#include "driver/stages.h"
#include "encoder/colour_convert.h"
#include "encoder/downsample.h"
#include "entropy/huffman_encoder.h"
#include "format/scan_layout.h"

namespace iffjpeg {
namespace {

constexpr int32_t kMaxSampFactor = 4;

// A restart interval given in MCU rows becomes one in MCUs.
void DeriveRestartInterval(EncoderState& enc) {
  if (enc.restartRows <= 0) return;
  int64_t interval = int64_t{enc.mcusPerRow} * enc.restartRows;
  enc.restartInterval = static_cast<uint16_t>(interval > 65535 ? 65535 : interval);
}

bool HasTable(HuffTable* const* slots, int32_t tableNo) {
  return tableNo >= 0 && tableNo < kNumTables && slots[tableNo] != nullptr;
}

// Every scan component needs both Huffman tables before anything of the
// scan is written.
int32_t CheckScanTables(const EncoderState& enc) {
  for (int ci = 0; ci < enc.componentsInScan; ++ci) {
    const ComponentInfo& c = *enc.scanComponents[ci];
    if (!HasTable(enc.dcHuffTables, c.dcTableNo) || !HasTable(enc.acHuffTables, c.acTableNo)) {
      return kErrInvalid;
    }
  }
  return 0;
}

}  // namespace

int32_t ComputeComponentSizes(EncoderState& enc) {
  if (enc.numComponents < 1 || enc.numComponents > kMaxScanComponents) return kErrInvalid;
  int16_t hMax = 1, vMax = 1;
  for (int i = 0; i < enc.numComponents; ++i) {
    const ComponentInfo& c = enc.components[i];
    if (c.hSampFactor < 1 || c.hSampFactor > kMaxSampFactor || c.vSampFactor < 1 ||
        c.vSampFactor > kMaxSampFactor) {
      return kErrBadData;
    }
    if (c.hSampFactor > hMax) hMax = c.hSampFactor;
    if (c.vSampFactor > vMax) vMax = c.vSampFactor;
  }
  // The header writer relies on every component's quantization table.
  for (int i = 0; i < enc.numComponents; ++i) {
    int32_t q = enc.components[i].quantTableNo;
    if (q < 0 || q >= kNumTables || enc.quantTables[q] == nullptr) return kErrInvalid;
  }
  enc.maxHSampFactor = hMax;
  enc.maxVSampFactor = vMax;
  const FrameSize frame{enc.imageWidth, enc.imageHeight, hMax, vMax};
  for (int i = 0; i < enc.numComponents; ++i) SizeComponent(enc.components[i], frame);
  return 0;
}

int32_t SelectCompressMethods(EncoderState& enc) {
  int32_t rc = SelectColourConverter(enc);
  if (rc != 0) return rc;
  enc.arithCode = 0;
  rc = selectHuffmanEncoder(enc);
  if (rc != 0) return rc;
  // Only the single-pass controller exists, and it codes every component
  // in one scan: several components need the interleave flag.
  if (!enc.interleave && enc.numComponents != 1) return kErrInvalid;
  enc.methods->controller = 1;
  enc.methods->selectDownsamplers = SelectDownsamplers;
  return 0;
}

int32_t SetUpScan(EncoderState& enc) {
  const FrameSize frame{enc.imageWidth, enc.imageHeight, enc.maxHSampFactor, enc.maxVSampFactor};
  McuLayout layout;
  int32_t rc = LayOutScan(enc.scanComponents, enc.componentsInScan, frame, layout);
  if (rc != 0) return rc;
  enc.mcusPerRow = layout.mcusPerRow;
  enc.mcuRows = layout.mcuRows;
  enc.blocksInMcu = layout.blocksInMcu;
  std::copy_n(layout.membership, kMaxBlocksInMcu, enc.mcuMembership);
  DeriveRestartInterval(enc);
  rc = CheckScanTables(enc);
  if (rc != 0) return rc;
  return enc.methods->selectDownsamplers(enc);
}

int32_t PrepareCompression(IFFHandle&, EncoderState& enc) {
  int32_t rc = ComputeComponentSizes(enc);
  if (rc != 0) return rc;
  return SelectCompressMethods(enc);
}

}  // namespace iffjpeg
