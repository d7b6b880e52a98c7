// The line controller: decodes one band (one MCU row of output) at a time
// and hands over one colour-converted line per call. Only one band of
// coefficients, one band of component rows plus two context slices, and one
// band of upsampled rows are ever held, whatever the image height.
#include <algorithm>
#include <cstring>

#include "common/result_codes.h"
#include "decoder/band_machinery.h"
#include "decoder/coefficient_controller.h"
#include "decoder/scaled_output.h"
#include "decoder/whole_image_controller.h"
#include "driver/stages.h"
#include "platform/cpu_features.h"

namespace iffjpeg {
namespace {

constexpr int32_t kSlicesPerBand = 8;
constexpr int32_t kSlicesHeld = 10;  // a band and two context slices
constexpr int32_t kNone = -1;
constexpr std::size_t kRangeLimitBytes = 768;

// For each scan component: the natural list of ten slices M0..M9, and a
// second list over the same rows with M6, M7 exchanged with M8, M9. Bands
// alternate between the lists, so positions 8 and 9 of either list always
// hold slices 6 and 7 of the band before.
//
// A component at the full sampling of the frame needs no context rows: its
// band's rows are handed to the colour conversion as they are (sharedRows)
// instead of being copied into the upsampled band, and must therefore
// outlast the decoding of the next band, which comes before the band's
// lines are handed over. Such a component gets two whole bands, A and B:
// the natural list is A0..A7, B6, B7 and the exchanged one B0..B7, A6, A7,
// so that positions 8 and 9 still hold the band before's slices 6 and 7 and
// a band never overwrites the one before it. (The array's own row list is
// left as allocated: the memory manager frees the rows through it.)
int32_t AllocSampleBuffers(IFFHandle& handle, DecoderState& dec) {
  DecompressFields& f = handle.decomp;
  f.sampleSets[0] = AllocList<SampleArray>(dec, dec.scanComponentCount);
  f.sampleSets[1] = AllocList<SampleArray>(dec, dec.scanComponentCount);
  if (f.sampleSets[0] == nullptr || f.sampleSets[1] == nullptr) return kErrMemory;
  for (int32_t c = 0; c < dec.scanComponentCount; ++c) {
    const ComponentInfo& comp = *dec.scanComponents[c];
    int32_t v = comp.vSampFactor;
    // With the scalar kernels forced (tests), the copy through the
    // upsampled band, the straightforward twin.
    bool shared = !platform::ScalarKernelsForced() && comp.hSampFactor == dec.maxHSampFactor &&
                  v == dec.maxVSampFactor;
    f.sharedRows[c] = shared ? 1 : 0;
    int32_t rows = (shared ? 2 * kSlicesPerBand : kSlicesHeld) * v;
    SampleArray storage = dec.memory->allocSampleArray(comp.paddedWidth, rows, dec.pool);
    SampleArray natural = AllocList<SampleRow>(dec, kSlicesHeld * v);
    SampleArray exchanged = AllocList<SampleRow>(dec, kSlicesHeld * v);
    if (storage == nullptr || natural == nullptr || exchanged == nullptr) return kErrMemory;
    auto place = [v](SampleArray list, int32_t slot, const SampleRow* from, int32_t slices) {
      std::memcpy(list + slot * v, from, sizeof(SampleRow) * static_cast<std::size_t>(slices * v));
    };
    if (shared) {
      SampleRow* a = storage;
      SampleRow* b = storage + kSlicesPerBand * v;
      place(natural, 0, a, 8);
      place(natural, 8, b + 6 * v, 2);
      place(exchanged, 0, b, 8);
      place(exchanged, 8, a + 6 * v, 2);
    } else {
      place(natural, 0, storage, 10);
      place(exchanged, 0, storage, 6);
      place(exchanged, 6, storage + 8 * v, 2);
      place(exchanged, 8, storage + 6 * v, 2);
    }
    f.sampleSets[0][c] = natural;
    f.sampleSets[1][c] = exchanged;
  }
  return 0;
}

// 768 bytes addressed at byte 256: indices -256..511 clamp to 0..255.
int32_t BuildRangeLimit(DecoderState& dec) {
  auto* table = static_cast<uint8_t*>(dec.memory->allocSmall(kRangeLimitBytes, dec.pool));
  if (table == nullptr) return kErrMemory;
  std::memset(table, 0, 256);
  for (int32_t i = 0; i < 256; ++i) table[256 + i] = static_cast<uint8_t>(i);
  std::memset(table + 512, 255, 256);
  dec.rangeLimit = table + 256;
  return 0;
}

int32_t StartDecompress(IFFHandle& handle, DecoderState& dec) {
  DecompressFields& f = handle.decomp;
  f.rowsPerBand = 8 * dec.maxVSampFactor;
  f.paddedWidth = roundUp(dec.imageWidth, 8 * dec.maxHSampFactor);
  int32_t rc = SetUpScan(dec);
  if (rc != 0) return rc;
  // A lone component's MCU row is one block row: a band takes V of them.
  f.mcuRowsPerBand = dec.scanComponentCount == 1 ? dec.scanComponents[0]->vSampFactor : 1;

  f.coefRows = AllocList<BlockArray>(dec, dec.scanComponentCount);
  if (f.coefRows == nullptr) return kErrMemory;
  for (int32_t c = 0; c < dec.scanComponentCount; ++c) {
    const ComponentInfo& comp = *dec.scanComponents[c];
    f.coefRows[c] = dec.memory->allocBlockArray(comp.paddedWidth / 8, comp.mcuHeight, dec.pool);
    if (f.coefRows[c] == nullptr) return kErrMemory;
  }
  // At full size every block goes through ReconstructMcuRow, which then
  // clears it after use; the blocks start out zero. (A scale set before the
  // first line turns this off again: AllocateScaledBands; with the scalar
  // kernels forced the blocks are cleared before decoding, the
  // straightforward twin.)
  for (int32_t c = 0; c < dec.scanComponentCount; ++c) {
    const ComponentInfo& comp = *dec.scanComponents[c];
    for (int32_t r = 0; r < comp.mcuHeight; ++r) {
      std::memset(f.coefRows[c][r], 0,
                  sizeof(CoefBlock) * static_cast<std::size_t>(comp.paddedWidth / 8));
    }
  }
  f.coefRowsClear = platform::ScalarKernelsForced() ? 0 : 1;
  if (AllocateBandBuffers(handle, dec) != 0) return kErrMemory;
  dec.memory->realizeVirtualArrays(0, 0, 0, dec.pool);

  rc = dec.methods->startEntropyScan(handle.stream, handle.bitReader, dec);
  if (rc != 0) return rc;
  StartBands(handle);
  return 0;
}

// Upsamples slice `current` of every scan component of the given set into
// slice `target` of the upsampled rows; kNone above or below stands for the
// image's top or bottom edge.
void UpsampleSlice(IFFHandle& handle, DecoderState& dec, int32_t set, int32_t above,
                   int32_t current, int32_t below, int32_t target) {
  DecompressFields& f = handle.decomp;
  int32_t maxV = dec.maxVSampFactor;
  for (int32_t c = 0; c < dec.scanComponentCount; ++c) {
    const ComponentInfo& comp = *dec.scanComponents[c];
    int32_t v = comp.vSampFactor;
    SampleArray rows = f.sampleSets[set][c];
    SampleRow* currentRows = rows + current * v;
    SampleRow edgeAbove[4], edgeBelow[4];
    SampleRow* aboveRows = edgeAbove;
    SampleRow* belowRows = edgeBelow;
    if (above == kNone) {
      for (int32_t i = 0; i < v; ++i) edgeAbove[i] = rows[0];
    } else {
      aboveRows = rows + above * v;
    }
    if (below == kNone) {
      for (int32_t i = 0; i < v; ++i) edgeBelow[i] = currentRows[v - 1];
    } else {
      belowRows = rows + below * v;
    }
    if (f.sharedRows[c]) {
      // v = maxV: the slice's rows are the output rows.
      std::memcpy(f.outputRows[comp.componentIndex] + target * maxV, currentRows,
                  sizeof(SampleRow) * static_cast<std::size_t>(v));
      continue;
    }
    SampleRow* output = f.upsampledRows[comp.componentIndex] + target * maxV;
    dec.methods->upsample[c](dec, c, comp.paddedWidth, v, f.paddedWidth, maxV, aboveRows,
                             currentRows, belowRows, output);
  }
}

void UpsampleSlices1To6(IFFHandle& handle, DecoderState& dec) {
  for (int32_t s = 1; s <= 6; ++s)
    UpsampleSlice(handle, dec, handle.decomp.currentSet, s - 1, s, s + 1, s);
}

// Past the bottom of a one-component scan: the band's missing block row
// repeats the last sample row above it.
void RepeatLastRow(DecoderState& dec, SampleArray rows, int32_t firstRow) {
  const ComponentInfo& comp = *dec.scanComponents[0];
  for (int32_t k = 0; k < 8; ++k) {
    std::memcpy(rows[firstRow + k], rows[firstRow - 1], static_cast<std::size_t>(comp.paddedWidth));
  }
}

void DecodeBand(IFFHandle& handle, DecoderState& dec) {
  DecompressFields& f = handle.decomp;
  SampleArray* sampleRows = f.sampleSets[f.currentSet];
  for (int32_t j = 0; j < f.mcuRowsPerBand; ++j) {
    if (f.mcuRowIndex + j < dec.mcuRowsInScan) {
      f.mcuRowInBand = j;  // the end-of-data check reads the current MCU row
      dec.methods->decodeMcuRow(handle, dec, f.coefRows);
      dec.methods->reconstructMcuRow(handle, dec, f.coefRows, sampleRows, 8 * j);
    } else {
      RepeatLastRow(dec, sampleRows[0], 8 * j);
    }
  }
  f.mcuRowInBand = 0;
}

// Makes the next band's lines available. A band's lines are handed over
// only once the band after it is decoded, so that its last slice has the
// context below it.
void DecodingStep(IFFHandle& handle, DecoderState& dec) {
  DecompressFields& f = handle.decomp;
  if (f.bandPending) {
    UpsampleSlice(handle, dec, f.currentSet, 9, 0, 1, 0);
    UpsampleSlices1To6(handle, dec);
    f.mcuRowIndex += f.mcuRowsPerBand;
    f.bandPending = 0;
  }
  for (;;) {
    if (f.mcuRowIndex >= dec.mcuRowsInScan) {
      UpsampleSlice(handle, dec, f.currentSet, 6, 7, kNone, 7);
      f.linesAvailable = dec.imageHeight - f.linesDelivered;
      f.linesHandedOver = 0;
      return;
    }
    f.currentSet ^= 1;
    DecodeBand(handle, dec);
    if (f.mcuRowIndex != 0) {
      UpsampleSlice(handle, dec, f.currentSet, 8, 9, 0, 7);
      f.linesDelivered += f.rowsPerBand;
      f.linesAvailable = f.rowsPerBand;
      f.bandPending = 1;
      f.linesHandedOver = 0;
      return;
    }
    UpsampleSlice(handle, dec, f.currentSet, kNone, 0, 1, 0);
    UpsampleSlices1To6(handle, dec);
    f.mcuRowIndex += f.mcuRowsPerBand;
  }
}

}  // namespace

FrameSize FrameOf(const DecoderState& dec) {
  return {dec.imageWidth, dec.imageHeight, dec.maxHSampFactor, dec.maxVSampFactor};
}

void AdoptLayout(DecoderState& dec, const McuLayout& layout) {
  dec.mcusPerRow = layout.mcusPerRow;
  dec.mcuRowsInScan = layout.mcuRows;
  dec.blocksInMcu = layout.blocksInMcu;
  std::copy_n(layout.membership, kMaxBlocksInMcu, dec.mcuMembership);
}

int32_t FirstLineOfMcuRow(const DecoderState& dec, int32_t mcuRow) {
  int32_t maxV = dec.maxVSampFactor;
  int64_t line = int64_t{8} * mcuRow * maxV;
  if (dec.scanComponentCount == 1) line /= dec.scanComponents[0]->vSampFactor;
  bool context = false;
  for (int32_t i = 0; i < dec.scanComponentCount; ++i) {
    const ComponentInfo& comp = *dec.scanComponents[i];
    if (2 * comp.hSampFactor == dec.maxHSampFactor && 2 * comp.vSampFactor == maxV) context = true;
  }
  if (context && line > 0) --line;
  if (line > dec.imageHeight - 1) line = dec.imageHeight - 1;
  return static_cast<int32_t>(line);
}

bool ScanDataExhausted(const ByteStream& stream) {
  if (stream.dataEnded) return true;
  if (stream.byteCount < 2 || stream.cursor[0] != 0xFF) return false;
  int code = stream.cursor[1];
  return code != 0x00 && (code < 0xD0 || code > 0xD7);
}

int32_t SetUpScan(DecoderState& dec) {
  McuLayout layout;
  int32_t rc = LayOutScan(dec.scanComponents, dec.scanComponentCount, FrameOf(dec), layout);
  if (rc != 0) return rc;
  AdoptLayout(dec, layout);
  dec.methods->prepareScan(dec);
  return 0;
}

int32_t AllocateBandBuffers(IFFHandle& handle, DecoderState& dec) {
  DecompressFields& f = handle.decomp;
  if (AllocSampleBuffers(handle, dec) != 0) return kErrMemory;
  f.upsampledRows = AllocList<SampleArray>(dec, dec.numComponents);
  f.outputRows = AllocList<SampleArray>(dec, dec.numComponents);
  if (f.upsampledRows == nullptr || f.outputRows == nullptr) return kErrMemory;
  for (int32_t c = 0; c < dec.numComponents; ++c) {
    f.upsampledRows[c] = nullptr;
    f.outputRows[c] = nullptr;
  }
  // The scan components of the band machinery are the frame's components.
  for (int32_t i = 0; i < dec.scanComponentCount; ++i) {
    int32_t c = dec.scanComponents[i]->componentIndex;
    if (f.sharedRows[i]) {
      f.outputRows[c] = AllocList<SampleRow>(dec, f.rowsPerBand);
      if (f.outputRows[c] == nullptr) return kErrMemory;
      for (int32_t r = 0; r < f.rowsPerBand; ++r) f.outputRows[c][r] = nullptr;
    }
  }
  for (int32_t c = 0; c < dec.numComponents; ++c) {
    if (f.outputRows[c] != nullptr) continue;
    f.upsampledRows[c] = dec.memory->allocSampleArray(f.paddedWidth, f.rowsPerBand, dec.pool);
    if (f.upsampledRows[c] == nullptr) return kErrMemory;
    f.outputRows[c] = f.upsampledRows[c];
  }
  return BuildRangeLimit(dec);
}

void StartBands(IFFHandle& handle) {
  DecompressFields& f = handle.decomp;
  f.linesAvailable = f.linesHandedOver = f.bandPending = 0;
  f.linesDelivered = 0;
  f.currentSet = 1;
  f.mcuRowIndex = 0;
  f.mcuRowInBand = 0;
}

void HandOverLine(IFFHandle& handle, DecoderState& dec) {
  DecompressFields& f = handle.decomp;
  if (f.linesAvailable == 0 || f.linesHandedOver == f.linesAvailable) DecodingStep(handle, dec);
  if (handle.currentLine != nullptr) {
    SampleRow output[1] = {handle.currentLine};
    dec.methods->convertColour(dec, f.linesHandedOver, dec.imageWidth, f.outputRows, output);
  }
  ++f.linesHandedOver;
}

int32_t DecompressControl(IFFHandle& handle, DecoderState& dec, int32_t mode) {
  if (mode == kPipelineRelease) {
    // Release whatever set-up got as far as allocating; safe to repeat.
    if (dec.memory != nullptr && dec.memory->freeAll != nullptr) dec.memory->freeAll(dec.pool);
    return 0;
  }
  if (dec.methods == nullptr || dec.methods->controller == ControllerKind::kNone) return 0;
  if (dec.methods->controller == ControllerKind::kWholeImage) {
    return WholeImageControl(handle, dec, mode);
  }
  if (dec.methods->controller == ControllerKind::kCoefficients) {
    return CoefficientControl(handle, dec, mode);
  }
  switch (mode) {
    case kPipelineStart:
      return StartDecompress(handle, dec);
    case kPipelineLine:
      if (dec.scaleDenom > 1) return HandOverScaledLine(handle, dec);
      HandOverLine(handle, dec);
      return 0;
    case kPipelineFinish:
      dec.methods->finishEntropyScan(dec);
      return 0;
    default:
      return 0;
  }
}

}  // namespace iffjpeg
