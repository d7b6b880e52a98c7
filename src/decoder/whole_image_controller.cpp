// The whole-image controller. Every scan is decoded, at open, into one
// full-height plane per frame component, held in a virtual sample array so
// that a large image keeps only a window of each plane in memory and the
// rest in the backing store. Lines are then served by the line controller's
// band machinery, whose decoding step takes each band's rows from the planes
// instead of from the entropy decoder, so upsampling and colour conversion
// (and their context rows at band edges) are exactly those of a file whose
// components were coded in one interleaved scan.
#include "decoder/whole_image_controller.h"

#include <climits>
#include <cstring>

#include "common/result_codes.h"
#include "decoder/band_machinery.h"
#include "driver/stages.h"

namespace iffjpeg {
namespace {

// What a component no scan coded (because the data ended) comes out as.
constexpr uint8_t kMidGrey = 128;

SampleArray AccessPlane(DecoderState& dec, int32_t component, int32_t firstRow, bool writable,
                        WholeImageFields& w) {
  return dec.memory->accessVirtualSampleArray(w.planes[component], firstRow, writable, dec.pool);
}

// The output pass reads no entropy-coded data.
void NoCoefficients(IFFHandle&, DecoderState&, BlockArray*) {}

// Stands in for the reconstruction of the band's MCU row: copies the band's
// rows of every plane into the sample buffers the upsamplers read.
void FetchBandFromPlanes(IFFHandle& handle, DecoderState& dec, BlockArray*, SampleArray* sampleRows,
                         int32_t firstRow) {
  DecompressFields& f = handle.decomp;
  WholeImageFields& w = f.whole;
  int32_t band = f.mcuRowIndex + f.mcuRowInBand;
  for (int32_t c = 0; c < dec.numComponents; ++c) {
    int32_t bandRows = 8 * dec.components[c].vSampFactor;
    int32_t top = band * bandRows;
    auto width = static_cast<std::size_t>(w.planeWidth[c]);
    bool decoded = w.coded[c] && top < w.codedRows[c];
    SampleArray in = decoded ? AccessPlane(dec, c, top, false, w) : nullptr;
    SampleArray out = sampleRows[c] + firstRow;
    for (int32_t k = 0; k < bandRows; ++k) {
      if (in != nullptr && top + k < w.codedRows[c]) {
        std::memcpy(out[k], in[k], width);
      } else {
        std::memset(out[k], kMidGrey, width);
      }
    }
    // Rows the backing store failed to keep: the line cannot be trusted.
    if (in != nullptr && !virtualArrayHealthy(w.planes[c])) handle.stream.lineCode = kErrMemory;
  }
}

// The geometry lines are served in: every frame component, in frame order,
// padded as one interleaved scan of the whole frame would pad it (T.81
// A.2.3), so that the band machinery sees what it sees for such a file.
void SetUpOutputPass(DecoderState& dec) {
  dec.scanComponentCount = dec.numComponents;
  for (int32_t c = 0; c < dec.numComponents; ++c) dec.scanComponents[c] = &dec.components[c];
  AdoptLayout(dec, LayOutInterleavedGeometry(dec.scanComponents, dec.numComponents, FrameOf(dec)));
  dec.methods->prepareScan(dec);
  dec.methods->decodeMcuRow = NoCoefficients;
  dec.methods->reconstructMcuRow = FetchBandFromPlanes;
}

// A lone component is coded over ceil(width / 8) x ceil(height / 8) blocks
// (T.81 A.2.2), fewer than the plane keeps when the component's factors
// exceed 1: the columns and rows no block covers repeat the last coded ones,
// as the line controller repeats a missing block row.
void PadLoneComponent(DecoderState& dec, WholeImageFields& w, SampleArray rows, int32_t firstRow,
                      bool lastMcuRow) {
  const ComponentInfo& comp = *dec.scanComponents[0];
  int32_t c = comp.componentIndex;
  int32_t coded = comp.paddedWidth;
  int32_t width = w.planeWidth[c];
  if (width > coded) {
    for (int32_t k = firstRow; k < firstRow + 8; ++k) {
      std::memset(rows[k] + coded, rows[k][coded - 1], static_cast<std::size_t>(width - coded));
    }
  }
  if (!lastMcuRow) return;
  for (int32_t k = firstRow + 8; k < 8 * comp.vSampFactor; ++k) {
    std::memcpy(rows[k], rows[firstRow + 7], static_cast<std::size_t>(width));
  }
}

// Records the damage met while MCU row mcuRow was decoded.
void NoteDamage(const DecoderState& dec, WholeImageFields& w, int32_t mcuRow) {
  int32_t first = FirstLineOfMcuRow(dec, mcuRow);
  if (w.firstDamagedLine < 0 || first < w.firstDamagedLine) w.firstDamagedLine = first;
}

// Blocks of the current scan after MCU row r.
int64_t RemainingBlocks(const DecoderState& dec, int32_t r) {
  return static_cast<int64_t>(dec.mcuRowsInScan - r - 1) * dec.mcusPerRow * dec.blocksInMcu;
}

// Decodes the current scan into the planes, one MCU row at a time.
int32_t DecodeScanRows(IFFHandle& handle, DecoderState& dec) {
  DecompressFields& f = handle.decomp;
  WholeImageFields& w = f.whole;
  bool lone = dec.scanComponentCount == 1;
  BlockArray coefRows[kMaxScanComponents];
  SampleArray rows[kMaxScanComponents];
  for (int32_t i = 0; i < dec.scanComponentCount; ++i) {
    coefRows[i] = w.coefRows[dec.scanComponents[i]->componentIndex];
  }
  for (int32_t r = 0; r < dec.mcuRowsInScan; ++r) {
    f.mcuRowIndex = r;  // the stream buffer's end-of-data rule reads it
    f.mcuRowInBand = 0;
    int32_t firstRow = 0;
    for (int32_t i = 0; i < dec.scanComponentCount; ++i) {
      const ComponentInfo& comp = *dec.scanComponents[i];
      // Planes are accessed a band (8 x v rows) at a time; a lone
      // component's MCU row is one block row of it.
      int32_t bandRows = 8 * comp.vSampFactor;
      int32_t top = lone ? 8 * r : r * bandRows;
      firstRow = top % bandRows;
      rows[i] = AccessPlane(dec, comp.componentIndex, top - firstRow, true, w);
      if (rows[i] == nullptr) return kErrMemory;
    }
    handle.stream.lineCode = 0;
    dec.methods->decodeMcuRow(handle, dec, coefRows);
    dec.methods->reconstructMcuRow(handle, dec, coefRows, rows, firstRow);
    if (lone) PadLoneComponent(dec, w, rows[0], firstRow, r == dec.mcuRowsInScan - 1);
    if (handle.stream.lineCode == kErrDataEnded) NoteDamage(dec, w, r);
    if (r + 1 < dec.mcuRowsInScan && ScanDataExhausted(handle.stream) &&
        RemainingBlocks(dec, r) > kMaxBufferedBits) {
      // The scan's data are used up (the reader stands at a marker that is
      // not a restart marker, or at the end of the file) while more blocks
      // remain than the bits the reader can still hold could code (every
      // block takes at least one bit): the rest would decode from zero bits
      // alone. Stop here, so that a tiny file declaring a huge frame costs
      // work in proportion to its bytes; the rows not decoded come out
      // mid-grey and the first of them reports 10.
      NoteDamage(dec, w, r + 1);
      for (int32_t i = 0; i < dec.scanComponentCount; ++i) {
        const ComponentInfo& comp = *dec.scanComponents[i];
        int32_t done = lone ? 8 * (r + 1) : (r + 1) * 8 * comp.vSampFactor;
        w.codedRows[comp.componentIndex] = done;
      }
      handle.stream.lineCode = 0;
      return 0;
    }
  }
  for (int32_t i = 0; i < dec.scanComponentCount; ++i) {
    int32_t c = dec.scanComponents[i]->componentIndex;
    w.codedRows[c] = w.planeRows[c];
  }
  handle.stream.lineCode = 0;
  return 0;
}

// A scan may code only components no earlier scan coded, and their
// quantization tables must be defined by the time the scan starts.
int32_t CheckScan(const DecoderState& dec, const WholeImageFields& w) {
  for (int32_t i = 0; i < dec.scanComponentCount; ++i) {
    const ComponentInfo& comp = *dec.scanComponents[i];
    if (w.coded[comp.componentIndex]) return kErrBadData;
    if (dec.quantTables[comp.quantTableNo] == nullptr) return kErrBadData;
  }
  return 0;
}

bool AllCoded(const DecoderState& dec, const WholeImageFields& w) {
  for (int32_t c = 0; c < dec.numComponents; ++c) {
    if (!w.coded[c]) return false;
  }
  return true;
}

// Every scan, from the one whose header the open read, until every
// component is coded. Each scan has its own tables, restart interval and
// entropy-decoder start (T.81 E.2.3).
int32_t DecodeScans(IFFHandle& handle, DecoderState& dec) {
  WholeImageFields& w = handle.decomp.whole;
  for (;;) {
    int32_t rc = CheckScan(dec, w);
    if (rc != 0) return rc;
    rc = SetUpScan(dec);
    if (rc != 0) return rc;
    rc = dec.methods->startEntropyScan(handle.stream, handle.bitReader, dec);
    if (rc != 0) return rc;
    rc = DecodeScanRows(handle, dec);
    if (rc != 0) return rc;
    dec.methods->finishEntropyScan(dec);
    for (int32_t i = 0; i < dec.scanComponentCount; ++i) {
      w.coded[dec.scanComponents[i]->componentIndex] = 1;
    }
    if (AllCoded(dec, w)) return 0;

    rc = ReadToNextScan(handle.stream, dec);
    if (rc == kErrMemory) return kErrMemory;
    if (rc == 0 && dec.scanComponentCount > 0) continue;
    // An EOI or a malformed segment before every component is coded: a
    // malformed file, unless the data simply ended, in which case the
    // components still missing come out mid-grey from line 0.
    if (!handle.stream.dataEnded) return kErrBadData;
    w.firstDamagedLine = 0;
    return 0;
  }
}

int32_t StartWholeImage(IFFHandle& handle, DecoderState& dec) {
  if (dec.numComponents > kMaxScanComponents) return kErrBadData;
  DecompressFields& f = handle.decomp;
  WholeImageFields& w = f.whole;
  int16_t firstScanCount = dec.scanComponentCount;
  ComponentInfo* firstScan[kMaxScanComponents];
  std::memcpy(firstScan, dec.scanComponents, sizeof firstScan);

  f.rowsPerBand = 8 * dec.maxVSampFactor;
  f.paddedWidth = roundUp(dec.imageWidth, 8 * dec.maxHSampFactor);
  f.mcuRowsPerBand = 1;
  SetUpOutputPass(dec);
  for (int32_t c = 0; c < dec.numComponents; ++c) {
    const ComponentInfo& comp = dec.components[c];
    w.planeWidth[c] = comp.paddedWidth;
    w.planeRows[c] = comp.paddedHeight;
    w.coded[c] = 0;
    w.planes[c] = dec.memory->requestVirtualSampleArray(comp.paddedWidth, comp.paddedHeight,
                                                        8 * comp.vSampFactor, dec.pool);
    w.coefRows[c] = dec.memory->allocBlockArray(comp.paddedWidth / 8, comp.vSampFactor, dec.pool);
    if (w.planes[c] == nullptr || w.coefRows[c] == nullptr) return kErrMemory;
  }
  if (AllocateBandBuffers(handle, dec) != 0) return kErrMemory;
  // The planes alone share the memory the system layer allows; the band
  // buffers above are not counted against it.
  dec.memory->realizeVirtualArrays(0, 0, 0, dec.pool);
  for (int32_t c = 0; c < dec.numComponents; ++c) {
    if (!virtualArrayRealized(w.planes[c])) return kErrMemory;
  }
  w.firstDamagedLine = -1;
  w.nextLine = 0;

  dec.scanComponentCount = firstScanCount;
  std::memcpy(dec.scanComponents, firstScan, sizeof firstScan);
  int32_t rc = DecodeScans(handle, dec);
  if (rc != 0) return rc;
  SetUpOutputPass(dec);
  StartBands(handle);
  return 0;
}

int32_t ServeLine(IFFHandle& handle, DecoderState& dec) {
  WholeImageFields& w = handle.decomp.whole;
  HandOverLine(handle, dec);
  if (w.nextLine == w.firstDamagedLine) handle.stream.lineCode = kErrDataEnded;
  if (w.nextLine < INT32_MAX) ++w.nextLine;
  return 0;
}

}  // namespace

void RestartWholeImageLines(IFFHandle& handle) {
  StartBands(handle);
  handle.decomp.whole.nextLine = 0;
}

int32_t WholeImageControl(IFFHandle& handle, DecoderState& dec, int32_t mode) {
  switch (mode) {
    case kPipelineStart:
      return StartWholeImage(handle, dec);
    case kPipelineLine:
      return ServeLine(handle, dec);
    default:
      return 0;  // the entropy pass ended with the last scan; mode 3 is shared
  }
}

}  // namespace iffjpeg
