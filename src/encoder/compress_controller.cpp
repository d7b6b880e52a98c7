// The per-line compression driver. Lines are collected into chunks of 8 row
// groups (one MCU row of an interleaved scan). Each chunk is downsampled with
// one group of context above and below, which is why a chunk's last group,
// and so its MCU row, can only be finished once the next chunk is complete.
// Two row-pointer views over the same full-size rows carry the previous
// chunk's last two groups forward without copying samples.
#include <cstring>

#include "common/result_codes.h"
#include "driver/handle.h"
#include "driver/stages.h"
#include "encoder/coefficient_store.h"
#include "encoder/compress_setup.h"
#include "encoder/mcu_assembly.h"
#include "format/marker_writer.h"

namespace iffjpeg {
namespace {

constexpr int32_t kGroupsPerChunk = 8;
constexpr int32_t kGroupsInBuffer = 10;  // a chunk plus two groups of context

// Context sources other than a group of the current view.
constexpr int32_t kRepeatFirstRow = -1;  // above the first chunk
constexpr int32_t kRepeatLastRow = -2;   // below the last chunk

// Releases a partly built full-size buffer; done components are 0..count-1.
void ReleaseFullSize(EncoderState& enc, CompressFields& f, int32_t count) {
  MemoryManager& mm = *enc.memory;
  for (int32_t c = 0; c < count; ++c) {
    if (f.fullSizeViews[0][c] != nullptr) mm.freeSampleArray(f.fullSizeViews[0][c], enc.pool);
    if (f.fullSizeViews[1][c] != nullptr) mm.freeSmall(f.fullSizeViews[1][c], enc.pool);
  }
  mm.freeSmall(f.fullSizeViews[0], enc.pool);
  mm.freeSmall(f.fullSizeViews[1], enc.pool);
  f.fullSizeViews[0] = nullptr;
  f.fullSizeViews[1] = nullptr;
}

// The full-size buffer: per component fullSizeWidth x 10V rows in view 0;
// view 1 has groups 6,7 and 8,9 exchanged.
int32_t AllocateFullSize(EncoderState& enc, CompressFields& f) {
  MemoryManager& mm = *enc.memory;
  const int32_t n = enc.numComponents;
  const int32_t vMax = enc.maxVSampFactor;
  const int32_t rows = kGroupsInBuffer * vMax;
  auto* views0 = static_cast<SampleArray*>(mm.allocSmall(n * sizeof(SampleArray), enc.pool));
  auto* views1 = static_cast<SampleArray*>(mm.allocSmall(n * sizeof(SampleArray), enc.pool));
  f.fullSizeViews[0] = views0;
  f.fullSizeViews[1] = views1;
  if (views0 == nullptr || views1 == nullptr) {
    if (views0 != nullptr) mm.freeSmall(views0, enc.pool);
    if (views1 != nullptr) mm.freeSmall(views1, enc.pool);
    f.fullSizeViews[0] = nullptr;
    f.fullSizeViews[1] = nullptr;
    return kErrMemory;
  }
  for (int32_t c = 0; c < n; ++c) {
    views0[c] = mm.allocSampleArray(f.fullSizeWidth, rows, enc.pool);
    views1[c] = views0[c] == nullptr
                    ? nullptr
                    : static_cast<SampleArray>(mm.allocSmall(rows * sizeof(SampleRow), enc.pool));
    if (views1[c] == nullptr) {
      ReleaseFullSize(enc, f, c + 1);
      return kErrMemory;
    }
    std::memcpy(views1[c], views0[c], rows * sizeof(SampleRow));
    for (int32_t k = 0; k < 2 * vMax; ++k) {
      views1[c][6 * vMax + k] = views0[c][8 * vMax + k];
      views1[c][8 * vMax + k] = views0[c][6 * vMax + k];
    }
  }
  return 0;
}

int32_t AllocateOutputBuffers(EncoderState& enc, CompressFields& f) {
  MemoryManager& mm = *enc.memory;
  f.outputBuffers =
      static_cast<SampleArray*>(mm.allocSmall(enc.numComponents * sizeof(SampleArray), enc.pool));
  if (f.outputBuffers == nullptr) return kErrMemory;
  for (int32_t c = 0; c < enc.numComponents; ++c) {
    const ComponentInfo& comp = enc.components[c];
    f.outputBuffers[c] =
        mm.allocSampleArray(comp.paddedWidth, kGroupsPerChunk * comp.vSampFactor, enc.pool);
    if (f.outputBuffers[c] == nullptr) return kErrMemory;
  }
  return 0;
}

int32_t StartScan(IFFHandle& handle, EncoderState& enc) {
  CompressFields& f = handle.comp;
  if (enc.numComponents > kMaxScanComponents) return kErrInvalid;
  enc.componentsInScan = enc.numComponents;
  for (int i = 0; i < enc.numComponents; ++i) enc.scanComponents[i] = &enc.components[i];
  int32_t rc = SetUpScan(enc);
  // A lone component's MCU row is one block row: a chunk takes V of them.
  f.mcuRowsPerChunk = enc.componentsInScan == 1 ? enc.scanComponents[0]->vSampFactor : 1;
  if (rc != 0) return rc;

  f.rowsPerChunk = kGroupsPerChunk * enc.maxVSampFactor;
  f.fullSizeWidth = roundUp(enc.imageWidth, 8 * enc.maxHSampFactor);
  rc = AllocateFullSize(enc, f);
  if (rc != 0) return rc;
  rc = AllocateOutputBuffers(enc, f);
  if (rc != 0) return rc;
  if (enc.optimizeCoding || enc.progressiveCoding) {
    rc = RequestCoefficientStore(enc);
    if (rc != 0) return rc;
  }
  enc.memory->realizeVirtualArrays(0, 0, 0, enc.pool);

  if (enc.optimizeCoding || enc.progressiveCoding) {
    // Tables, scan header and data follow at the finish, from the store.
    rc = CheckCoefficientStore(enc);
    if (rc != 0) return rc;
  } else {
    WriteScanHeader(handle.stream, enc);
    rc = enc.methods->startEntropy(handle.stream, handle.bitWriter, enc);
    if (rc != 0) return rc;
  }

  f.mcuRowsEmitted = 0;
  f.currentView = 1;
  f.rowsConsumed = 0;
  f.rowsLeft = 0;
  f.scanStarted = 1;
  return 0;
}

// Extends every row of the chunk to the full-size width with its last
// sample, and a short chunk to its full height with its last row.
void ExpandEdges(EncoderState& enc, CompressFields& f) {
  const int32_t width = enc.imageWidth;
  const int32_t pad = f.fullSizeWidth - width;
  for (int32_t c = 0; c < enc.numComponents; ++c) {
    SampleArray rows = f.fullSizeViews[f.currentView][c];
    if (pad > 0) {
      for (int32_t r = 0; r < f.chunkRows; ++r) {
        std::memset(rows[r] + width, rows[r][width - 1], static_cast<std::size_t>(pad));
      }
    }
    for (int32_t r = f.chunkRows; r < f.rowsPerChunk; ++r) {
      std::memcpy(rows[r], rows[f.chunkRows - 1], static_cast<std::size_t>(f.fullSizeWidth));
    }
  }
}

// Downsamples group g of the current view into output group outGroup, with
// the given groups (or a repeated edge row) as context above and below.
void DownsampleGroup(EncoderState& enc, CompressFields& f, int32_t g, int32_t above, int32_t below,
                     int32_t outGroup) {
  const int32_t vMax = enc.maxVSampFactor;
  SampleRow repeated[kMaxScanComponents];
  for (int32_t ci = 0; ci < enc.componentsInScan; ++ci) {
    const ComponentInfo& comp = *enc.scanComponents[ci];
    SampleArray view = f.fullSizeViews[f.currentView][ci];
    SampleRow* aboveRows = repeated;
    SampleRow* belowRows = repeated;
    if (above == kRepeatFirstRow || below == kRepeatLastRow) {
      SampleRow edge = above == kRepeatFirstRow ? view[0] : view[kGroupsPerChunk * vMax - 1];
      for (int32_t k = 0; k < vMax; ++k) repeated[k] = edge;
    }
    if (above >= 0) aboveRows = view + above * vMax;
    if (below >= 0) belowRows = view + below * vMax;
    const int32_t v = comp.vSampFactor;
    enc.methods->downsample[ci](enc, ci, f.fullSizeWidth, vMax, comp.paddedWidth, v, aboveRows,
                                view + g * vMax, belowRows, f.outputBuffers[ci] + outGroup * v);
  }
}

void EncodeRows(IFFHandle& handle, EncoderState& enc, int32_t n) {
  EncodeMcuRows(handle, enc, n);
  handle.comp.mcuRowsEmitted += n;
}

// Mode 1: one line from handle.currentLine.
void TakeLine(IFFHandle& handle, EncoderState& enc) {
  CompressFields& f = handle.comp;
  if (!f.scanStarted || f.rowsConsumed >= enc.imageHeight) return;  // extra lines are ignored
  if (f.rowsLeft == 0) {
    f.currentView = 1 - f.currentView;
    f.chunkRows = enc.imageHeight - f.rowsConsumed;
    if (f.chunkRows > f.rowsPerChunk) f.chunkRows = f.rowsPerChunk;
    f.rowsLeft = f.chunkRows;
  }
  enc.methods->convertLine(handle, enc, f.chunkRows - f.rowsLeft, f.fullSizeViews[f.currentView]);
  if (--f.rowsLeft != 0) return;

  // The chunk is complete.
  ExpandEdges(enc, f);
  if (f.rowsConsumed != 0) {
    // The previous chunk's last group is now group 9, its context group 8.
    DownsampleGroup(enc, f, 9, 8, 0, 7);
    EncodeRows(handle, enc, f.mcuRowsPerChunk);
    DownsampleGroup(enc, f, 0, 9, 1, 0);
  } else {
    DownsampleGroup(enc, f, 0, kRepeatFirstRow, 1, 0);
  }
  for (int32_t g = 1; g < kGroupsPerChunk - 1; ++g) DownsampleGroup(enc, f, g, g - 1, g + 1, g);
  f.rowsConsumed += f.rowsPerChunk;

  if (f.rowsConsumed >= enc.imageHeight) {
    // The last line: finish the last group and encode what is left.
    DownsampleGroup(enc, f, kGroupsPerChunk - 1, kGroupsPerChunk - 2, kRepeatLastRow,
                    kGroupsPerChunk - 1);
    EncodeRows(handle, enc, enc.mcuRows - f.mcuRowsEmitted);
  }
}

}  // namespace

int32_t RunCompressPipeline(IFFHandle& handle, EncoderState& enc, int32_t mode) {
  if (enc.methods == nullptr || !enc.methods->controller) return 0;
  switch (mode) {
    case kPipelineStart:
      return StartScan(handle, enc);
    case kPipelineLine:
      TakeLine(handle, enc);
      return 0;
    case kPipelineFinish:
      if (handle.comp.scanStarted)
        return enc.methods->finishEntropy(handle.stream, handle.bitWriter, enc);
      return 0;
    case kPipelineRelease:
      enc.memory->freeAll(enc.pool);
      // Everything the methods and fields pointed into is gone.
      enc.methods->controller = 0;
      enc.components = nullptr;
      enc.colourTable = nullptr;
      enc.store = nullptr;
      enc.metadata = {};
      for (int i = 0; i < kNumTables; ++i) {
        enc.quantTables[i] = nullptr;
        enc.dcHuffTables[i] = nullptr;
        enc.acHuffTables[i] = nullptr;
      }
      handle.comp.scanStarted = 0;
      handle.comp.outputBuffers = nullptr;
      handle.comp.fullSizeViews[0] = nullptr;
      handle.comp.fullSizeViews[1] = nullptr;
      return 0;
    default:
      return 0;
  }
}

}  // namespace iffjpeg
