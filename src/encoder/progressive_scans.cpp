#include "encoder/progressive_scans.h"

#include <cstring>
#include <iterator>

#include "common/result_codes.h"
#include "encoder/coefficient_store.h"
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

// Restart intervals count the scan's own MCUs (T.81 B.2.4.4): a block for
// a lone component, the frame's MCU for an interleaved scan.
struct RestartCounter {
  int32_t interval;
  int32_t left;
  int32_t number;
  void beforeMcu(ProgressiveEncoder& pe) {
    if (interval == 0) return;
    if (left == 0) {
      RestartProgressiveEncoding(pe, number);
      number = (number + 1) & 7;
      left = interval;
    }
    --left;
  }
};

// A lone component's blocks over its true size, row by row (T.81 A.2.2).
bool WalkComponent(EncoderState& enc, int32_t c, ProgressiveEncoder& pe) {
  const ComponentInfo& comp = enc.components[c];
  const int32_t wide = ceilDiv(comp.trueWidth, 8);
  const int32_t high = ceilDiv(comp.trueHeight, 8);
  RestartCounter restart{enc.restartInterval, enc.restartInterval, 0};
  for (int32_t by = 0; by < high; ++by) {
    const CoefBlock* row = StoredBlockRow(enc, c, by);
    if (row == nullptr) return false;
    for (int32_t bx = 0; bx < wide; ++bx) {
      restart.beforeMcu(pe);
      EncodeProgressiveBlock(pe, row[bx], 0);
    }
  }
  return true;
}

// The frame's MCUs, each component's H x V blocks in turn (T.81 A.2.3).
bool WalkInterleaved(EncoderState& enc, const ScriptScan& scan, ProgressiveEncoder& pe) {
  RestartCounter restart{enc.restartInterval, enc.restartInterval, 0};
  const CoefBlock* rows[kMaxScanComponents][kMaxMcuHeight];
  for (int32_t r = 0; r < enc.mcuRows; ++r) {
    for (int32_t i = 0; i < scan.count; ++i) {
      const ComponentInfo& comp = enc.components[scan.components[i]];
      for (int32_t y = 0; y < comp.mcuHeight && y < kMaxMcuHeight; ++y) {
        rows[i][y] = StoredBlockRow(enc, scan.components[i], r * comp.mcuHeight + y);
        if (rows[i][y] == nullptr) return false;
      }
    }
    for (int32_t col = 0; col < enc.mcusPerRow; ++col) {
      restart.beforeMcu(pe);
      for (int32_t i = 0; i < scan.count; ++i) {
        const ComponentInfo& comp = enc.components[scan.components[i]];
        for (int32_t y = 0; y < comp.mcuHeight && y < kMaxMcuHeight; ++y) {
          const CoefBlock* blocks = rows[i][y] + col * comp.mcuWidth;
          for (int32_t x = 0; x < comp.mcuWidth; ++x) EncodeProgressiveBlock(pe, blocks[x], i);
        }
      }
    }
  }
  return true;
}

bool WalkScan(EncoderState& enc, const ScriptScan& scan, ProgressiveEncoder& pe) {
  StartProgressiveEncoding(pe);
  bool ok =
      scan.count == 1 ? WalkComponent(enc, scan.components[0], pe) : WalkInterleaved(enc, scan, pe);
  if (ok) FinishProgressiveEncoding(pe);
  return ok;
}

// The table a scan component's symbols are coded with: its DC table in a
// DC scan, else its AC table.
HuffTable& ScanTable(EncoderState& enc, const ComponentInfo& comp, bool dcScan) {
  return dcScan ? *enc.dcHuffTables[comp.dcTableNo] : *enc.acHuffTables[comp.acTableNo];
}

// Counts the scan's symbols, builds its tables from the counts and writes
// them (T.81 K.2); the coder then uses them.
int32_t BuildScanTables(ByteStream& stream, EncoderState& enc, const ScriptScan& scan,
                        const ComponentInfo* const* comps, ProgressiveEncoder& pe) {
  const bool dcScan = scan.params.ss == 0;
  auto* counts = static_cast<SymbolCounts*>(
      enc.memory->allocSmall(kNumTables * sizeof(SymbolCounts), enc.pool));
  if (counts == nullptr) return kErrMemory;
  std::memset(counts, 0, kNumTables * sizeof(SymbolCounts));
  for (int32_t i = 0; i < scan.count; ++i) {
    pe.dcCounts[i] = &counts[comps[i]->dcTableNo];
  }
  pe.acCounts = &counts[comps[0]->acTableNo];
  pe.counting = true;
  if (!WalkScan(enc, scan, pe)) {
    enc.memory->freeSmall(counts, enc.pool);
    return kErrMemory;
  }
  for (int32_t i = 0; i < scan.count; ++i) {
    int32_t tableNo = dcScan ? comps[i]->dcTableNo : comps[i]->acTableNo;
    HuffTable& table = ScanTable(enc, *comps[i], dcScan);
    BuildOptimalTable(counts[tableNo], table);
    buildEncodingTable(table);
    pe.dcTables[i] = &table;
    pe.acTable = &table;
  }
  for (int32_t i = 0; i < scan.count; ++i) {
    WriteHuffmanTable(stream, enc, dcScan ? comps[i]->dcTableNo : comps[i]->acTableNo,
                      dcScan ? 0 : 1);
  }
  enc.memory->freeSmall(counts, enc.pool);
  return kOk;
}

int32_t CodeScan(ByteStream& stream, BitWriter& bits, EncoderState& enc, const ScriptScan& scan,
                 bool first) {
  const ComponentInfo* comps[kMaxScanComponents];
  for (int32_t i = 0; i < scan.count; ++i) comps[i] = &enc.components[scan.components[i]];
  ProgressiveEncoder pe{};
  pe.params = scan.params;
  // A DC refinement scan is raw bits: no tables (T.81 G.1.2.1).
  if (!(scan.params.ss == 0 && scan.params.ah != 0)) {
    int32_t rc = BuildScanTables(stream, enc, scan, comps, pe);
    if (rc != kOk) return rc;
  }
  if (first) WriteRestartInterval(stream, enc);
  WriteSosSegment(stream, comps, scan.count, scan.params);
  pe.counting = false;
  pe.stream = &stream;
  pe.writer = &bits;
  return WalkScan(enc, scan, pe) ? kOk : kErrMemory;
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

int32_t FinishProgressiveScans(ByteStream& stream, BitWriter& bits, EncoderState& enc) {
  if (enc.store->failed != kOk) return enc.store->failed;
  const ScriptScan* scans = nullptr;
  int32_t count = ProgressiveScript(enc.numComponents, &scans);
  if (count == 0) return kErrInvalid;
  for (int32_t i = 0; i < count; ++i) {
    int32_t rc = CodeScan(stream, bits, enc, scans[i], i == 0);
    if (rc != kOk) return rc;
  }
  return kOk;
}

}  // namespace iffjpeg
