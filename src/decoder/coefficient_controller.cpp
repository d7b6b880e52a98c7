#include "decoder/coefficient_controller.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "common/result_codes.h"
#include "decoder/band_machinery.h"
#include "decoder/mcu_rows.h"
#include "decoder/scaled_output.h"
#include "driver/stages.h"
#include "entropy/huffman_decoder.h"
#include "entropy/progressive_decoder.h"

namespace iffjpeg {
namespace {

constexpr int32_t kMcusPerCall = 32;
constexpr int64_t kMiB = int64_t{1} << 20;
// More bits than the sequential Huffman decoder's reader ever holds ahead
// of the byte stream (its register and the bits held aside).
constexpr int64_t kMaxBufferedBits = 128;

int32_t CeilDiv(int32_t a, int32_t b) { return (a + b - 1) / b; }

// Block rows first .. first + accessHeight - 1 of a component's array, the
// window starting at the access unit that holds row `row`; returns the row
// pointers from `row` on, or null.
BlockRow* AccessRows(DecoderState& dec, CoefficientFields& cf, int32_t c, int32_t row,
                     bool writable) {
  int32_t v = dec.components[c].vSampFactor;
  int32_t start = row - row % v;
  BlockArray rows = dec.memory->accessVirtualBlockArray(cf.arrays[c], start, writable, dec.pool);
  return rows == nullptr ? nullptr : rows + (row - start);
}

// The data ran out, or the restart sequence was lost, at MCU row mcuRow of
// the current scan: the first line that may differ from an intact decode is
// the first line made from that row, or the line above it where the 2x2
// filter takes that row as context.
void NoteDamage(const DecoderState& dec, CoefficientFields& cf, int32_t mcuRow) {
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
  auto first = static_cast<int32_t>(line);
  if (cf.firstDamagedLine < 0 || first < cf.firstDamagedLine) cf.firstDamagedLine = first;
}

// True when no byte of the current scan's entropy-coded data is left in the
// stream: the next bytes are a marker other than RSTn, or the file ended.
bool ScanDataExhausted(const IFFHandle& handle) {
  if (handle.stream.dataEnded) return true;
  if (handle.stream.byteCount < 2 || handle.stream.cursor[0] != 0xFF) return false;
  int code = handle.stream.cursor[1];
  return code != 0x00 && (code < 0xD0 || code > 0xD7);
}

// The block lists of MCUs first .. first + count - 1 of the current scan's
// MCU row, whose rows of each scan component are given.
int32_t ListBlocks(const DecoderState& dec, BlockRow* const* rows, int32_t first, int32_t count,
                   CoefBlock** list) {
  int32_t n = 0;
  if (dec.scanComponentCount == 1) {
    for (int32_t m = 0; m < count; ++m) list[n++] = &rows[0][0][first + m];
    return n;
  }
  for (int32_t m = first; m < first + count; ++m) {
    for (int32_t c = 0; c < dec.scanComponentCount; ++c) {
      const ComponentInfo& comp = *dec.scanComponents[c];
      for (int32_t r = 0; r < comp.mcuHeight; ++r) {
        BlockRow row = rows[c][r] + m * comp.mcuWidth;
        for (int32_t col = 0; col < comp.mcuWidth; ++col) list[n++] = &row[col];
      }
    }
  }
  return n;
}

// An end-of-band run that covers the whole of a lone AC scan's next block
// row, over blocks it cannot change (any block for a first scan, blocks no
// scan has reached for a refinement): the row is passed over without being
// brought into memory, so that long runs cost no work.
bool SkipCoveredRow(const DecoderState& dec, CoefficientFields& cf, int32_t row) {
  ProgressiveScan& scan = cf.scan;
  if (dec.scanComponentCount != 1 || dec.restartInterval != 0) return false;
  if (scan.kind != ProgressiveKind::kAcFirst && scan.kind != ProgressiveKind::kAcRefine) {
    return false;
  }
  if (scan.eobRun < dec.mcusPerRow) return false;
  int32_t c = dec.scanComponents[0]->componentIndex;
  if (scan.kind == ProgressiveKind::kAcRefine && row < cf.rowsReached[c]) return false;
  scan.eobRun -= dec.mcusPerRow;
  return true;
}

// Decodes the current scan into the arrays, one MCU row at a time. Returns
// kErrMemory when an array cannot be accessed; a scan that ends early
// leaves the rows it did not reach as they were.
int32_t DecodeScanRows(IFFHandle& handle, DecoderState& dec, CoefficientFields& cf) {
  DecompressFields& f = handle.decomp;
  const bool lone = dec.scanComponentCount == 1;
  const bool progressive = dec.progressive != 0;
  CoefBlock* list[kMcusPerCall * kMaxBlocksInMcu];
  BlockRow* rows[kMaxScanComponents];
  for (int32_t r = 0; r < dec.mcuRowsInScan; ++r) {
    f.mcuRowIndex = r;  // the stream buffer's end-of-data rule reads it
    f.mcuRowInBand = 0;
    if (progressive && SkipCoveredRow(dec, cf, r)) continue;
    for (int32_t i = 0; i < dec.scanComponentCount; ++i) {
      const ComponentInfo& comp = *dec.scanComponents[i];
      int32_t c = comp.componentIndex;
      int32_t blockRow = lone ? r : r * comp.vSampFactor;
      rows[i] = AccessRows(dec, cf, c, blockRow, true);
      if (rows[i] == nullptr) return kErrMemory;
      cf.rowsReached[c] = std::max(cf.rowsReached[c], blockRow + (lone ? 1 : comp.vSampFactor));
    }
    handle.stream.lineCode = kOk;
    for (int32_t m = 0; m < dec.mcusPerRow; m += kMcusPerCall) {
      int32_t count = std::min(kMcusPerCall, dec.mcusPerRow - m);
      ListBlocks(dec, rows, m, count, list);
      if (progressive) {
        DecodeProgressiveMcus(handle.stream, dec, cf.scan, list, count);
      } else if (dec.methods->decodeMcus != nullptr) {
        dec.methods->decodeMcus(handle.stream, handle.bitReader, dec, list, count);
      } else {
        for (int32_t i = 0; i < count; ++i)
          dec.methods->decodeMcu(handle.stream, handle.bitReader, dec, list + i * dec.blocksInMcu);
      }
    }
    if (handle.stream.lineCode == kErrDataEnded) NoteDamage(dec, cf, r);
    handle.stream.lineCode = kOk;
    if (progressive) {
      // The data are used up (zero bits past a marker were taken) or the
      // restart sequence is lost: the rest of the scan is not decoded.
      if (cf.scan.reader.overrun || dec.restartsAbandoned) {
        NoteDamage(dec, cf, r);
        return kOk;
      }
      continue;
    }
    int64_t remaining =
        static_cast<int64_t>(dec.mcuRowsInScan - r - 1) * dec.mcusPerRow * dec.blocksInMcu;
    if (r + 1 < dec.mcuRowsInScan && ScanDataExhausted(handle) && remaining > kMaxBufferedBits) {
      // As the default whole-image decoding does: more blocks remain than
      // the bits the reader can still hold could code.
      NoteDamage(dec, cf, r + 1);
      return kOk;
    }
  }
  return kOk;
}

// Whether the scan whose header was just read may be decoded: a
// progressive scan as T.81 G.1.1.1.1 allows after the scans before it, a
// sequential one coding only components no scan coded; and the tables it
// dequantizes with must be defined.
bool ScanAcceptable(const DecoderState& dec, const CoefficientFields& cf) {
  if (dec.progressive) {
    if (!ProgressiveScanValid(dec, cf.coefBits)) return false;
  }
  for (int32_t i = 0; i < dec.scanComponentCount; ++i) {
    const ComponentInfo& comp = *dec.scanComponents[i];
    if (!dec.progressive && cf.coded[comp.componentIndex]) return false;
    if (!cf.quantKnown[comp.componentIndex] && dec.quantTables[comp.quantTableNo] == nullptr) {
      return false;
    }
  }
  return true;
}

// Records what the scan coded: the quantization table a component is first
// coded with (dequantization waits for the output), the point transforms,
// and whether the component took part in an interleaved scan.
void RecordScan(const DecoderState& dec, CoefficientFields& cf) {
  for (int32_t i = 0; i < dec.scanComponentCount; ++i) {
    const ComponentInfo& comp = *dec.scanComponents[i];
    int32_t c = comp.componentIndex;
    if (!cf.quantKnown[c]) {
      const uint16_t* q = dec.quantTables[comp.quantTableNo]->quantval;
      for (int32_t k = 0; k < 64; ++k) cf.quantZigzag[c][k] = q[k];
      cf.quantKnown[c] = 1;
    }
    cf.coded[c] = 1;
    if (dec.scanComponentCount > 1) cf.loneOnly[c] = 0;
    if (dec.progressive) {
      for (int32_t k = dec.spectralStart; k <= dec.spectralEnd; ++k) {
        cf.coefBits[c][k] = static_cast<int8_t>(dec.approxLow);
      }
    } else {
      for (int8_t& bits : cf.coefBits[c]) bits = 0;
    }
  }
}

bool AllCoded(const DecoderState& dec, const CoefficientFields& cf) {
  for (int32_t c = 0; c < dec.numComponents; ++c) {
    if (!cf.coded[c]) return false;
  }
  return true;
}

// Every scan, from the one whose header the open read, until EOI (or, for
// a sequential frame, until every component is coded).
int32_t DecodeScans(IFFHandle& handle, DecoderState& dec, CoefficientFields& cf) {
  for (int32_t scans = 0;; ++scans) {
    if (scans == kMaxScansDecoded) {
      cf.firstDamagedLine = 0;  // a scan beyond the limit reaches no row
      return kOk;
    }
    if (!ScanAcceptable(dec, cf)) {
      cf.firstDamagedLine = 0;
      return kOk;
    }
    int32_t rc = kOk;
    rc = SetUpScan(dec);
    if (rc == kOk) {
      rc = dec.progressive ? StartProgressiveScan(handle.stream, dec, cf.scan)
                           : dec.methods->startEntropyScan(handle.stream, handle.bitReader, dec);
    }
    if (rc != kOk) {
      cf.firstDamagedLine = 0;
      return kOk;
    }
    RecordScan(dec, cf);
    rc = DecodeScanRows(handle, dec, cf);
    if (rc != kOk) return rc;
    dec.methods->finishEntropyScan(dec);
    if (!dec.progressive && AllCoded(dec, cf)) return kOk;

    // The scan ran to its end; data that ended with it (or after it, before
    // the next scan) leave the next scan unreached.
    bool damaged = cf.firstDamagedLine >= 0;
    rc = ReadToNextScan(handle.stream, dec);
    if (rc == kErrMemory) return rc;
    if (rc == kOk && dec.scanComponentCount > 0) continue;
    // EOI. A progressive frame ends here; before it, a damaged segment or
    // data that ended between two scans leave the next scan unreached. A
    // sequential frame that ends with components missing shows them
    // mid-grey from line 0, as the default decoding does.
    if (dec.progressive) {
      if (rc != kOk || (handle.stream.dataEnded && !damaged)) cf.firstDamagedLine = 0;
    } else {
      cf.firstDamagedLine = 0;
    }
    return kOk;
  }
}

// The output pass's fetch: the band's MCU row of every component from the
// arrays into the band's block rows, dequantized (T.81 A.3.4) for a
// progressive frame.
void FetchCoefficientRow(IFFHandle& handle, DecoderState& dec, BlockArray* coefRows) {
  DecompressFields& f = handle.decomp;
  CoefficientFields& cf = f.coefs;
  int32_t mcuRow = f.mcuRowIndex + f.mcuRowInBand;
  for (int32_t i = 0; i < dec.scanComponentCount; ++i) {
    const ComponentInfo& comp = *dec.scanComponents[i];
    int32_t c = comp.componentIndex;
    int32_t blocks = comp.paddedWidth / 8;
    BlockRow* in = AccessRows(dec, cf, c, mcuRow * comp.mcuHeight, false);
    for (int32_t r = 0; r < comp.mcuHeight; ++r) {
      BlockRow out = coefRows[i][r];
      if (in == nullptr) {
        std::memset(out, 0, sizeof(CoefBlock) * static_cast<std::size_t>(blocks));
        handle.stream.lineCode = kErrMemory;
        continue;
      }
      if (!cf.quantized) {
        std::memcpy(out, in[r], sizeof(CoefBlock) * static_cast<std::size_t>(blocks));
        continue;
      }
      const uint16_t* q = cf.quantZigzag[c];
      for (int32_t b = 0; b < blocks; ++b) {
        const int16_t* src = in[r][b];
        int16_t* dst = out[b];
        for (int32_t k = 0; k < 64; ++k) {
          dst[zigzagToNatural[k]] = static_cast<int16_t>(src[k] * static_cast<int32_t>(q[k]));
        }
      }
    }
    // Rows the backing store failed to keep: the line cannot be trusted.
    if (in != nullptr && !virtualArrayHealthy(cf.arrays[c])) handle.stream.lineCode = kErrMemory;
  }
}

// The ordinary reconstruction, then, for a component no interleaved scan
// coded, the samples beyond the blocks its own scans cover repeat the last
// covered column and row, as a sequential component coded alone gives them.
void ReconstructAndPad(IFFHandle& handle, DecoderState& dec, BlockArray* coefRows,
                       SampleArray* sampleRows, int32_t firstRow) {
  ReconstructMcuRow(handle, dec, coefRows, sampleRows, firstRow);
  const CoefficientFields& cf = handle.decomp.coefs;
  int32_t mcuRow = handle.decomp.mcuRowIndex + handle.decomp.mcuRowInBand;
  for (int32_t i = 0; i < dec.scanComponentCount; ++i) {
    const ComponentInfo& comp = *dec.scanComponents[i];
    int32_t c = comp.componentIndex;
    if (!cf.loneOnly[c]) continue;
    int32_t covered = 8 * cf.coveredCols[c];
    int32_t width = comp.paddedWidth;
    SampleArray rows = sampleRows[i] + firstRow;
    int32_t lastCovered = 8 * cf.coveredRows[c] - 1 - 8 * mcuRow * comp.mcuHeight;
    for (int32_t y = 0; y < 8 * comp.mcuHeight; ++y) {
      if (y > lastCovered) {
        std::memcpy(rows[y], rows[lastCovered], static_cast<std::size_t>(width));
      } else if (width > covered) {
        std::memset(rows[y] + covered, rows[y][covered - 1],
                    static_cast<std::size_t>(width - covered));
      }
    }
  }
}

// The geometry lines are served in: a one-component frame as its scans
// cover it, any other with every frame component, in frame order, padded as
// one interleaved scan of the whole frame pads it (T.81 A.2.3), whatever
// the number of blocks in its MCU.
void SetUpOutputPass(IFFHandle& handle, DecoderState& dec) {
  DecompressFields& f = handle.decomp;
  f.rowsPerBand = 8 * dec.maxVSampFactor;
  f.paddedWidth = roundUp(dec.imageWidth, 8 * dec.maxHSampFactor);
  dec.scanComponentCount = dec.numComponents;
  for (int32_t c = 0; c < dec.numComponents; ++c) dec.scanComponents[c] = &dec.components[c];
  if (dec.numComponents == 1) {
    SetUpScan(dec);  // one component: its own block grid, never refused
    f.mcuRowsPerBand = dec.components[0].vSampFactor;
  } else {
    AdoptLayout(dec,
                LayOutInterleavedGeometry(dec.scanComponents, dec.numComponents, FrameOf(dec)));
    dec.methods->prepareScan(dec);
    f.mcuRowsPerBand = 1;
  }
  dec.methods->decodeMcuRow = FetchCoefficientRow;
  dec.methods->reconstructMcuRow = ReconstructAndPad;
}

template <typename T>
T* AllocList(DecoderState& dec, int32_t count) {
  return static_cast<T*>(
      dec.memory->allocSmall(sizeof(T) * static_cast<std::size_t>(count), dec.pool));
}

// Sizes and realizes the arrays, decodes the scans and sets up the output.
int32_t StartCoefficients(IFFHandle& handle, DecoderState& dec) {
  DecompressFields& f = handle.decomp;
  CoefficientFields& cf = f.coefs;
  int32_t mcusPerRow = CeilDiv(dec.imageWidth, 8 * dec.maxHSampFactor);
  int32_t mcuRows = CeilDiv(dec.imageHeight, 8 * dec.maxVSampFactor);
  int64_t total = 0;
  for (int32_t c = 0; c < dec.numComponents; ++c) {
    const ComponentInfo& comp = dec.components[c];
    cf.blocksPerRow[c] = mcusPerRow * comp.hSampFactor;
    cf.blockRows[c] = mcuRows * comp.vSampFactor;
    cf.coveredCols[c] = CeilDiv(comp.trueWidth, 8);
    cf.coveredRows[c] = CeilDiv(comp.trueHeight, 8);
    cf.loneOnly[c] = 1;
    cf.coded[c] = 0;
    cf.rowsReached[c] = 0;
    cf.quantKnown[c] = 0;
    for (int8_t& bits : cf.coefBits[c]) bits = -1;
    total +=
        int64_t{cf.blocksPerRow[c]} * cf.blockRows[c] * static_cast<int64_t>(sizeof(CoefBlock));
  }
  int64_t memoryLimit =
      (dec.wholeMemoryMiB > 0 ? dec.wholeMemoryMiB : kDefaultWholeMemoryMiB) * kMiB;
  int64_t storeLimit = (dec.wholeStoreMiB > 0 ? dec.wholeStoreMiB : kDefaultWholeStoreMiB) * kMiB;
  if (total > memoryLimit && total > storeLimit) return kErrMemory;

  for (int32_t c = 0; c < dec.numComponents; ++c) {
    cf.arrays[c] = dec.memory->requestVirtualBlockArray(cf.blocksPerRow[c], cf.blockRows[c],
                                                        dec.components[c].vSampFactor, dec.pool);
    if (cf.arrays[c] == nullptr) return kErrMemory;
  }
  dec.pool.virtualBudget = memoryLimit;
  dec.memory->realizeVirtualArrays(0, 0, 0, dec.pool);
  for (int32_t c = 0; c < dec.numComponents; ++c) {
    if (!virtualArrayRealized(cf.arrays[c])) return kErrMemory;
  }
  cf.quantized = dec.progressive;
  cf.firstDamagedLine = -1;
  cf.nextLine = 0;

  int32_t rc = DecodeScans(handle, dec, cf);
  if (rc != kOk) return rc;
  handle.stream.lineCode = kOk;

  SetUpOutputPass(handle, dec);
  f.coefRows = AllocList<BlockArray>(dec, dec.scanComponentCount);
  if (f.coefRows == nullptr) return kErrMemory;
  for (int32_t c = 0; c < dec.scanComponentCount; ++c) {
    const ComponentInfo& comp = *dec.scanComponents[c];
    f.coefRows[c] = dec.memory->allocBlockArray(comp.paddedWidth / 8, comp.mcuHeight, dec.pool);
    if (f.coefRows[c] == nullptr) return kErrMemory;
  }
  if (AllocateBandBuffers(handle, dec) != kOk) return kErrMemory;
  StartBands(handle);
  return kOk;
}

int32_t ServeLine(IFFHandle& handle, DecoderState& dec) {
  CoefficientFields& cf = handle.decomp.coefs;
  if (!cf.begun) {
    cf.begun = 1;
    cf.startCode = StartCoefficients(handle, dec);
  }
  if (cf.startCode != kOk) return cf.startCode;
  // A scaled line stands for d full lines; the damaged line is the first of
  // an MCU row, a multiple of 8 x V and so of d.
  int32_t damagedLine = cf.firstDamagedLine;
  if (dec.scaleDenom > 1) {
    int32_t rc = HandOverScaledLine(handle, dec);
    if (rc != kOk) return rc;
    if (damagedLine > 0) damagedLine /= dec.scaleDenom;
  } else {
    HandOverLine(handle, dec);
  }
  if (cf.nextLine == damagedLine) handle.stream.lineCode = kErrDataEnded;
  if (cf.nextLine < INT32_MAX) ++cf.nextLine;
  return kOk;
}

}  // namespace

void RestartCoefficientLines(IFFHandle& handle) {
  CoefficientFields& cf = handle.decomp.coefs;
  if (!cf.begun || cf.startCode != kOk) return;
  StartBands(handle);
  RestartScaledLines(handle);
  cf.nextLine = 0;
}

int32_t CoefficientControl(IFFHandle& handle, DecoderState& dec, int32_t mode) {
  switch (mode) {
    case kPipelineStart:
      if (dec.numComponents > kMaxScanComponents) return kErrBadData;
      std::memset(&handle.decomp.coefs, 0, sizeof handle.decomp.coefs);
      return kOk;
    case kPipelineLine:
      return ServeLine(handle, dec);
    default:
      return kOk;
  }
}

}  // namespace iffjpeg
