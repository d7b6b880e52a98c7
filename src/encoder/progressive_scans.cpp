#include "encoder/progressive_scans.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>

#include "common/result_codes.h"
#include "encoder/coefficient_store.h"
#include "encoder/encoder_kernels.h"
#include "entropy/huffman_encoder.h"
#include "entropy/huffman_optimizer.h"
#include "entropy/progressive_encoder.h"
#include "format/marker_writer.h"

namespace iffjpeg {
namespace {

// Spectral selection first, then successive approximation: the first scans
// give a usable picture (DC, then luminance's first five AC terms) and the
// last bit of every coefficient comes at the end.
constexpr ScriptScan kColourScript[] = {
    {3, {0, 1, 2}, {0, 0, 0, 1}}, {1, {0}, {1, 5, 0, 2}},  {1, {2}, {1, 63, 0, 1}},
    {1, {1}, {1, 63, 0, 1}},      {1, {0}, {6, 63, 0, 2}}, {1, {0}, {1, 63, 2, 1}},
    {3, {0, 1, 2}, {0, 0, 1, 0}}, {1, {2}, {1, 63, 1, 0}}, {1, {1}, {1, 63, 1, 0}},
    {1, {0}, {1, 63, 1, 0}},
};
constexpr ScriptScan kGreyScript[] = {
    {1, {0}, {0, 0, 0, 1}},  {1, {0}, {1, 5, 0, 2}}, {1, {0}, {6, 63, 0, 2}},
    {1, {0}, {1, 63, 2, 1}}, {1, {0}, {0, 0, 1, 0}}, {1, {0}, {1, 63, 1, 0}},
};

constexpr int32_t kMaxMcuHeight = 4;

constexpr int32_t kMaxScriptScans = static_cast<int32_t>(std::size(kColourScript));

}  // namespace

// The symbol counts of every Huffman-coded scan, gathered as the MCU rows
// are stored, while their blocks are still in the cache: each scan's
// counter walks the new rows in that scan's own order.
struct ProgressiveCounts {
  int32_t scanCount;
  const ScriptScan* scans;
  int32_t rowsCounted;  // MCU rows every counter has taken
  ProgressiveEncoder counters[kMaxScriptScans];
  SymbolCounts counts[kMaxScriptScans][kNumTables];
};

namespace {

bool HuffmanCoded(const ScriptScan& scan) {
  // A DC refinement scan is raw bits: no tables (T.81 G.1.2.1).
  return !(scan.params.ss == 0 && scan.params.ah != 0);
}

// The blocks of a lone component in MCU row r: its block rows r x V up to
// its true size, row by row (T.81 A.2.2).
bool WalkComponentRows(EncoderState& enc, int32_t c, ProgressiveEncoder& pe, int32_t r) {
  const ComponentInfo& comp = enc.components[c];
  const int32_t wide = ceilDiv(comp.trueWidth, 8);
  const int32_t high = ceilDiv(comp.trueHeight, 8);
  for (int32_t by = r * comp.mcuHeight; by < (r + 1) * comp.mcuHeight && by < high; ++by) {
    const CoefBlock* row = StoredBlockRow(enc, c, by);
    if (row == nullptr) return false;
    EncodeProgressiveRow(pe, row, wide);
  }
  return true;
}

// The frame's MCUs in row r, each component's H x V blocks in turn (T.81
// A.2.3).
bool WalkInterleavedRow(EncoderState& enc, const ScriptScan& scan, ProgressiveEncoder& pe,
                        int32_t r) {
  const CoefBlock* rows[kMaxScanComponents][kMaxMcuHeight];
  for (int32_t i = 0; i < scan.count; ++i) {
    const ComponentInfo& comp = enc.components[scan.components[i]];
    for (int32_t y = 0; y < comp.mcuHeight && y < kMaxMcuHeight; ++y) {
      rows[i][y] = StoredBlockRow(enc, scan.components[i], r * comp.mcuHeight + y);
      if (rows[i][y] == nullptr) return false;
    }
  }
  // The row's MCUs go to the coder a batch at a time.
  constexpr int32_t kBatch = 32;
  const int16_t* blocks[kBatch * kMaxBlocksInMcu];
  int32_t members[kMaxBlocksInMcu];
  int32_t perMcu = 0;
  for (int32_t col = 0; col < enc.mcusPerRow; col += kBatch) {
    const int32_t count = std::min(kBatch, enc.mcusPerRow - col);
    int32_t n = 0;
    for (int32_t m = col; m < col + count; ++m) {
      perMcu = 0;
      for (int32_t i = 0; i < scan.count; ++i) {
        const ComponentInfo& comp = enc.components[scan.components[i]];
        for (int32_t y = 0; y < comp.mcuHeight && y < kMaxMcuHeight; ++y) {
          const CoefBlock* row = rows[i][y] + m * comp.mcuWidth;
          for (int32_t x = 0; x < comp.mcuWidth && perMcu < kMaxBlocksInMcu; ++x, ++perMcu) {
            blocks[n++] = row[x];
            members[perMcu] = i;
          }
        }
      }
    }
    EncodeProgressiveMcus(pe, blocks, members, perMcu, count);
  }
  return true;
}

bool WalkRow(EncoderState& enc, const ScriptScan& scan, ProgressiveEncoder& pe, int32_t r) {
  return scan.count == 1 ? WalkComponentRows(enc, scan.components[0], pe, r)
                         : WalkInterleavedRow(enc, scan, pe, r);
}

void StartScan(EncoderState& enc, const ScriptScan& scan, ProgressiveEncoder& pe) {
  pe.params = scan.params;
  pe.restartInterval = enc.restartInterval;
  const EncoderKernels& kernels = SelectedEncoderKernels();
  pe.magnitudeMasks = kernels.magnitudeMasks;
  pe.refinementMasks = kernels.refinementMasks;
  StartProgressiveEncoding(pe);
}

// Counts the symbols of MCU rows up to `rows` in every Huffman-coded scan.
bool CountRows(EncoderState& enc, ProgressiveCounts& pc, int32_t rows) {
  for (; pc.rowsCounted < rows; ++pc.rowsCounted) {
    for (int32_t i = 0; i < pc.scanCount; ++i) {
      if (!HuffmanCoded(pc.scans[i])) continue;
      if (!WalkRow(enc, pc.scans[i], pc.counters[i], pc.rowsCounted)) return false;
    }
  }
  return true;
}

// The table a scan component's symbols are coded with: its DC table in a
// DC scan, else its AC table.
int32_t TableNumber(const ComponentInfo& comp, bool dcScan) {
  return dcScan ? comp.dcTableNo : comp.acTableNo;
}

// Builds the scan's tables from its counts and writes them (T.81 K.2);
// the coder then uses them.
void BuildScanTables(ByteStream& stream, EncoderState& enc, const ScriptScan& scan,
                     const SymbolCounts* counts, const ComponentInfo* const* comps,
                     ProgressiveEncoder& pe) {
  const bool dcScan = scan.params.ss == 0;
  for (int32_t i = 0; i < scan.count; ++i) {
    int32_t tableNo = TableNumber(*comps[i], dcScan);
    HuffTable& table = dcScan ? *enc.dcHuffTables[tableNo] : *enc.acHuffTables[tableNo];
    BuildOptimalTable(counts[tableNo], table);
    buildEncodingTable(table);
    pe.dcTables[i] = &table;
    pe.acTable = &table;
  }
  for (int32_t i = 0; i < scan.count; ++i) {
    WriteHuffmanTable(stream, enc, TableNumber(*comps[i], dcScan), dcScan ? 0 : 1);
  }
}

int32_t CodeScan(ByteStream& stream, BitWriter& bits, EncoderState& enc, int32_t index) {
  ProgressiveCounts& pc = *enc.store->progressive;
  const ScriptScan& scan = pc.scans[index];
  const ComponentInfo* comps[kMaxScanComponents];
  for (int32_t i = 0; i < scan.count; ++i) comps[i] = &enc.components[scan.components[i]];
  ProgressiveEncoder pe{};
  if (HuffmanCoded(scan)) {
    FinishProgressiveEncoding(pc.counters[index]);  // the last run counted
    BuildScanTables(stream, enc, scan, pc.counts[index], comps, pe);
  }
  if (index == 0) WriteRestartInterval(stream, enc);
  WriteSosSegment(stream, comps, scan.count, scan.params);
  pe.counting = false;
  pe.stream = &stream;
  pe.writer = &bits;
  StartScan(enc, scan, pe);
  const CoefficientStore& store = *enc.store;
  if (scan.params.ss == 0 && store.dcTerms != nullptr) {
    // Every DC scan of the script holds all the frame's components, in the
    // order they were stored.
    int32_t members[kMaxBlocksInMcu];
    for (int32_t b = 0; b < enc.blocksInMcu; ++b) members[b] = enc.mcuMembership[b];
    EncodeProgressiveDcTerms(pe, store.dcTerms, members, enc.blocksInMcu,
                             enc.mcusPerRow * enc.mcuRows);
  } else {
    for (int32_t r = 0; r < enc.mcuRows; ++r) {
      if (!WalkRow(enc, scan, pe, r)) return kErrMemory;
    }
  }
  FinishProgressiveEncoding(pe);
  return kOk;
}

}  // namespace

int32_t ProgressiveScript(int32_t numComponents, const ScriptScan** scans) {
  switch (numComponents) {
    case 1:
      *scans = kGreyScript;
      return static_cast<int32_t>(std::size(kGreyScript));
    case 3:
      *scans = kColourScript;
      return static_cast<int32_t>(std::size(kColourScript));
    default:
      *scans = nullptr;
      return 0;
  }
}

int32_t PrepareProgressiveScans(EncoderState& enc) {
  const ScriptScan* scans = nullptr;
  int32_t count = ProgressiveScript(enc.numComponents, &scans);
  if (count == 0) return kErrInvalid;
  auto* pc =
      static_cast<ProgressiveCounts*>(enc.memory->allocSmall(sizeof(ProgressiveCounts), enc.pool));
  if (pc == nullptr) return kErrMemory;
  // Everything but the counts, then only the counts a scan uses (most of
  // the record, and most of a small file's set-up if cleared whole).
  std::memset(static_cast<void*>(pc), 0, offsetof(ProgressiveCounts, counts));
  pc->scanCount = count;
  pc->scans = scans;
  for (int32_t i = 0; i < count; ++i) {
    const ScriptScan& scan = scans[i];
    ProgressiveEncoder& pe = pc->counters[i];
    pe.counting = true;
    auto use = [&](int32_t tableNo) {
      SymbolCounts* counts = &pc->counts[i][tableNo];
      std::memset(counts, 0, sizeof *counts);
      return counts;
    };
    const bool dcScan = scan.params.ss == 0;
    for (int32_t c = 0; c < scan.count && dcScan; ++c) {
      pe.dcCounts[c] = use(enc.components[scan.components[c]].dcTableNo);
    }
    if (!dcScan) pe.acCounts = use(enc.components[scan.components[0]].acTableNo);
    StartScan(enc, scan, pe);
  }
  enc.store->progressive = pc;
  return kOk;
}

bool CountStoredRows(EncoderState& enc, int32_t rows) {
  return CountRows(enc, *enc.store->progressive, rows);
}

int32_t FinishProgressiveScans(ByteStream& stream, BitWriter& bits, EncoderState& enc) {
  if (enc.store->failed != kOk) return enc.store->failed;
  ProgressiveCounts& pc = *enc.store->progressive;
  // Rows never stored (a file closed early) read as zero blocks.
  if (!CountRows(enc, pc, enc.mcuRows)) return kErrMemory;
  if (int16_t* terms = enc.store->dcTerms; terms != nullptr) {
    const int64_t all = int64_t{enc.mcusPerRow} * enc.mcuRows * enc.blocksInMcu;
    std::fill(terms + int64_t{enc.store->mcusStored} * enc.blocksInMcu, terms + all, int16_t{0});
  }
  for (int32_t i = 0; i < pc.scanCount; ++i) {
    int32_t rc = CodeScan(stream, bits, enc, i);
    if (rc != kOk) return rc;
  }
  return kOk;
}

}  // namespace iffjpeg
