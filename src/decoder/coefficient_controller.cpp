#include "decoder/coefficient_controller.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>

#include "common/result_codes.h"
#include "decoder/band_machinery.h"
#include "decoder/decoder_kernels.h"
#include "decoder/dequantize.h"
#include "decoder/mcu_rows.h"
#include "decoder/scaled_output.h"
#include "driver/stages.h"
#include "entropy/error_concealment.h"
#include "entropy/huffman_decoder.h"
#include "entropy/progressive_decoder.h"
#include "platform/cpu_features.h"

namespace iffjpeg {
namespace {

// MCUs handed to the entropy decoder at once: each batch pays for its set-up
// (table placement, the search for the next 0xFF), the lists sit on the stack.
constexpr int32_t kMcusPerCall = 128;
constexpr int64_t kMiB = int64_t{1} << 20;

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

// Records the damage met while MCU row mcuRow was decoded.
void NoteDamage(const DecoderState& dec, CoefficientFields& cf, int32_t mcuRow) {
  int32_t first = FirstLineOfMcuRow(dec, mcuRow);
  if (cf.firstDamagedLine < 0 || first < cf.firstDamagedLine) cf.firstDamagedLine = first;
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
int32_t DecodeRowsOfScan(IFFHandle& handle, DecoderState& dec, CoefficientFields& cf) {
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
    if (!progressive) beginMcuRow(dec, rows);
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
    if (r + 1 < dec.mcuRowsInScan && ScanDataExhausted(handle.stream) &&
        remaining > kMaxBufferedBits) {
      // As the default whole-image decoding does: more blocks remain than
      // the bits the reader can still hold could code.
      NoteDamage(dec, cf, r + 1);
      return kOk;
    }
    finishMcuRow(handle.stream, handle.bitReader, dec);
  }
  return kOk;
}

// An AC refinement goes one bit further down from where the last scan of
// each of its coefficients left it: its Ah is that scan's Al (T.81
// G.1.1.1.1). Which coefficients take a correction bit and which may become
// non-zero follows from the bits sent before (G.1.2.3), so a refinement from
// another bit would be parsed against the wrong coefficients and turn the
// rest of its scan into noise. (A DC refinement is one bit a block whatever
// came before: an out-of-order one only misplaces that bit.)
bool RefinesFromLastPointTransform(const DecoderState& dec, const CoefficientFields& cf) {
  for (int32_t i = 0; i < dec.scanComponentCount; ++i) {
    const int8_t* bits = cf.coefBits[dec.scanComponents[i]->componentIndex];
    for (int32_t k = dec.spectralStart; k <= dec.spectralEnd; ++k) {
      if (bits[k] != dec.approxHigh) return false;
    }
  }
  return true;
}

// A progressive scan's reader tells by itself when it took bits past the
// end of the data (reader.overrun), at the MCU row that needed them. The
// stream's own rule, which counts any end of the data met before the
// scan's last MCU row as early, is left to sequential scans: the reader's
// look-ahead meets the end of a complete scan rows before its last one
// when an end-of-band run covers the rows left, and the data of a complete
// scan may well end the file.
int32_t DecodeScanRows(IFFHandle& handle, DecoderState& dec, CoefficientFields& cf) {
  const int32_t* rowsInScan = handle.stream.rows.rowsInScan;
  if (dec.progressive) handle.stream.rows.rowsInScan = nullptr;
  int32_t rc = DecodeRowsOfScan(handle, dec, cf);
  handle.stream.rows.rowsInScan = rowsInScan;
  return rc;
}

// Whether the scan whose header was just read may be decoded: a
// progressive scan as T.81 G.1.1.1.1 allows after the scans before it, a
// sequential one coding only components no scan coded; and the tables it
// dequantizes with must be defined.
bool ScanAcceptable(const DecoderState& dec, const CoefficientFields& cf) {
  if (dec.progressive) {
    if (!ProgressiveScanValid(dec, cf.coefBits)) return false;
    bool acRefinement = dec.approxHigh != 0 && dec.spectralStart > 0;
    if (acRefinement && !RefinesFromLastPointTransform(dec, cf)) return false;
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

// Every coefficient of every component coded down to its last bit: no
// later scan of a progressive frame could add to the picture.
bool EveryCoefficientWhole(const DecoderState& dec, const CoefficientFields& cf) {
  for (int32_t c = 0; c < dec.numComponents; ++c) {
    for (int8_t bits : cf.coefBits[c]) {
      if (bits != 0) return false;
    }
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
    // data that ended between two scans leave the next scan unreached,
    // unless every coefficient is already whole: then the picture is all
    // there, as a sequential file's is when only its EOI is missing. A
    // sequential frame that ends with components missing shows them
    // mid-grey from line 0, as the default decoding does.
    if (dec.progressive) {
      bool unreached = rc != kOk || (handle.stream.dataEnded && !damaged);
      if (unreached && !EveryCoefficientWhole(dec, cf)) cf.firstDamagedLine = 0;
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
  // A kernel that writes every position, where the processor has one.
  const DequantizeRowFn whole = SelectedDecoderKernels().dequantizeRow;
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
      if (whole != nullptr) {
        whole(in[r], out, blocks, q);
        continue;
      }
      // Most coefficients are zero: the row is cleared (unless the
      // reconstruction left it clear), then only the non-zero ones are
      // dequantized into place.
      if (!f.coefRowsClear) {
        std::memset(out, 0, sizeof(CoefBlock) * static_cast<std::size_t>(blocks));
      }
      DequantizeNonZero(in[r], out, blocks, q);
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

int64_t ArrayBytes(const CoefficientFields& cf, int32_t c) {
  return int64_t{cf.blocksPerRow[c]} * cf.blockRows[c] * static_cast<int64_t>(sizeof(CoefBlock));
}

// Sizes and realizes the arrays, decodes the scans and sets up the output.
int32_t StartCoefficients(IFFHandle& handle, DecoderState& dec) {
  DecompressFields& f = handle.decomp;
  CoefficientFields& cf = f.coefs;
  int32_t mcusPerRow = ceilDiv(dec.imageWidth, 8 * dec.maxHSampFactor);
  int32_t mcuRows = ceilDiv(dec.imageHeight, 8 * dec.maxVSampFactor);
  int64_t total = 0;
  for (int32_t c = 0; c < dec.numComponents; ++c) {
    const ComponentInfo& comp = dec.components[c];
    cf.blocksPerRow[c] = mcusPerRow * comp.hSampFactor;
    cf.blockRows[c] = mcuRows * comp.vSampFactor;
    cf.coveredCols[c] = ceilDiv(comp.trueWidth, 8);
    cf.coveredRows[c] = ceilDiv(comp.trueHeight, 8);
    cf.loneOnly[c] = 1;
    cf.coded[c] = 0;
    cf.rowsReached[c] = 0;
    cf.quantKnown[c] = 0;
    for (int8_t& bits : cf.coefBits[c]) bits = -1;
    total += ArrayBytes(cf, c);
  }
  int64_t memoryLimit =
      (dec.wholeMemoryMiB > 0 ? dec.wholeMemoryMiB : kDefaultWholeMemoryMiB) * kMiB;
  int64_t storeLimit = (dec.wholeStoreMiB > 0 ? dec.wholeStoreMiB : kDefaultWholeStoreMiB) * kMiB;
  if (total > memoryLimit && total > storeLimit) return kErrMemory;

  // When the arrays do not all fit, the largest that fit whole are held
  // whole (realized first, alone) and the others share the rest of the
  // limit, with windows over the backing store. Held alike, every array
  // would move its window through the store twice in each scan it takes
  // part in; this way only the others do.
  bool whole[kMaxScanComponents] = {};
  int64_t wholeBytes = 0;
  if (total > memoryLimit) {
    int64_t reserve = 0;  // room for some access units of any array left over
    for (int32_t c = 0; c < dec.numComponents; ++c) {
      reserve += int64_t{8} * dec.components[c].vSampFactor * cf.blocksPerRow[c] *
                 static_cast<int64_t>(sizeof(CoefBlock));
    }
    for (;;) {
      int32_t best = -1;
      int64_t bestBytes = 0;
      for (int32_t c = 0; c < dec.numComponents; ++c) {
        int64_t bytes = ArrayBytes(cf, c);
        if (!whole[c] && bytes > bestBytes && wholeBytes + bytes + reserve <= memoryLimit) {
          best = c;
          bestBytes = bytes;
        }
      }
      if (best < 0) break;
      whole[best] = true;
      wholeBytes += bestBytes;
    }
  }
  for (int32_t pass = 0; pass < 2; ++pass) {
    bool any = false;
    for (int32_t c = 0; c < dec.numComponents; ++c) {
      if (whole[c] != (pass == 0)) continue;
      cf.arrays[c] = dec.memory->requestVirtualBlockArray(cf.blocksPerRow[c], cf.blockRows[c],
                                                          dec.components[c].vSampFactor, dec.pool);
      if (cf.arrays[c] == nullptr) return kErrMemory;
      any = true;
    }
    if (!any) continue;
    dec.pool.virtualBudget = pass == 0 ? memoryLimit : memoryLimit - wholeBytes;
    dec.memory->realizeVirtualArrays(0, 0, 0, dec.pool);
  }
  dec.pool.virtualBudget = memoryLimit;
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
    for (int32_t r = 0; r < comp.mcuHeight; ++r) {
      std::memset(f.coefRows[c][r], 0,
                  sizeof(CoefBlock) * static_cast<std::size_t>(comp.paddedWidth / 8));
    }
  }
  // A dequantized row has its blocks cleared after their transform, as a
  // sequential decoding's rows are (a scale turns this off again before the
  // first line, AllocateScaledBands; forced scalar kernels clear the rows
  // before each fetch, the straightforward twin). Rows the dequantization
  // kernel writes whole need no clearing at all.
  f.coefRowsClear = cf.quantized && !platform::ScalarKernelsForced() &&
                            SelectedDecoderKernels().dequantizeRow == nullptr
                        ? 1
                        : 0;
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
