#include "encoder/coefficient_store.h"

#include <cstddef>
#include <cstring>

#include "common/result_codes.h"
#include "decoder/coefficient_controller.h"
#include "encoder/progressive_scans.h"
#include "entropy/huffman_encoder.h"
#include "entropy/huffman_optimizer.h"
#include "format/marker_writer.h"

namespace iffjpeg {
namespace {

constexpr int64_t kMiB = int64_t{1} << 20;

// The block rows of MCU row `mcuRow` of scan component ci, or null.
BlockArray McuRowBlocks(EncoderState& enc, int32_t ci, int32_t mcuRow, bool writable) {
  const ComponentInfo& comp = *enc.scanComponents[ci];
  return enc.memory->accessVirtualBlockArray(enc.store->arrays[ci], mcuRow * comp.mcuHeight,
                                             writable, enc.pool);
}

// Copies MCU `index` between the arrays and an MCU buffer (blocks in the
// order EncodeMcuRows lays them out). False when an array cannot be reached.
bool MoveMcu(EncoderState& enc, int32_t index, int16_t* mcu, bool store) {
  int32_t row = index / enc.mcusPerRow;
  int32_t column = index % enc.mcusPerRow;
  for (int ci = 0; ci < enc.componentsInScan; ++ci) {
    const ComponentInfo& comp = *enc.scanComponents[ci];
    BlockArray rows = McuRowBlocks(enc, ci, row, store);
    if (rows == nullptr) return false;
    for (int32_t y = 0; y < comp.mcuHeight; ++y) {
      CoefBlock* blocks = rows[y] + column * comp.mcuWidth;
      for (int32_t x = 0; x < comp.mcuWidth; ++x, mcu += 64) {
        if (store) {
          std::memcpy(blocks[x], mcu, sizeof(CoefBlock));
        } else {
          std::memcpy(mcu, blocks[x], sizeof(CoefBlock));
        }
      }
    }
  }
  return true;
}

// Counts the MCU's symbols per table (tables built for the image), with
// the DC predictions reset where the Huffman encoder resets them (each
// restart interval): done as the MCU is stored, while it is at hand.
void CountMcu(EncoderState& enc, CoefficientStore& s, const int16_t* mcu) {
  if (enc.restartInterval != 0 && s.mcusStored % enc.restartInterval == 0) {
    for (int32_t& v : s.lastDc) v = 0;
  }
  for (int b = 0; b < enc.blocksInMcu; ++b) {
    const int16_t* block = mcu + 64 * b;
    int ci = enc.mcuMembership[b];
    const ComponentInfo& comp = *enc.scanComponents[ci];
    CountBlockSymbols(block, block[0] - s.lastDc[ci], s.dcCounts[comp.dcTableNo],
                      s.acCounts[comp.acTableNo]);
    s.lastDc[ci] = block[0];
  }
}

// The line that completed the MCU reports a lost array once; IFFClose
// reports it again.
void StoreMcu(ByteStream& stream, BitWriter&, EncoderState& enc, int16_t* mcu) {
  CoefficientStore& s = *enc.store;
  if (s.dcCounts != nullptr) CountMcu(enc, s, mcu);
  if (s.failed == kOk && !MoveMcu(enc, s.mcusStored, mcu, true)) {
    s.failed = kErrMemory;
    stream.lineCode = kErrMemory;
  }
  if (s.dcTerms != nullptr) {
    int16_t* terms = s.dcTerms + static_cast<std::ptrdiff_t>(s.mcusStored) * enc.blocksInMcu;
    for (int b = 0; b < enc.blocksInMcu; ++b) terms[b] = mcu[64 * b];
  }
  ++s.mcusStored;
  // A progressive file's symbols are counted a row at a time, while the
  // row's blocks are still in the cache.
  if (s.progressive != nullptr && s.failed == kOk && s.mcusStored % enc.mcusPerRow == 0 &&
      !CountStoredRows(enc, s.mcusStored / enc.mcusPerRow)) {
    s.failed = kErrMemory;
    stream.lineCode = kErrMemory;
  }
}

// At IFFClose: the tables from the counts, the scan header, then every
// stored MCU through the Huffman encoder.
int32_t FinishOptimizedScan(ByteStream& stream, BitWriter& bits, EncoderState& enc) {
  CoefficientStore& s = *enc.store;
  if (s.failed != kOk) return s.failed;
  for (int ci = 0; ci < enc.componentsInScan; ++ci) {
    const ComponentInfo& comp = *enc.scanComponents[ci];
    BuildOptimalTable(s.dcCounts[comp.dcTableNo], *enc.dcHuffTables[comp.dcTableNo]);
    BuildOptimalTable(s.acCounts[comp.acTableNo], *enc.acHuffTables[comp.acTableNo]);
  }

  WriteScanHeader(stream, enc);
  int32_t rc = startHuffmanEncoding(stream, bits, enc);
  if (rc != kOk) return rc;
  int16_t mcu[kMaxBlocksInMcu * 64];
  for (int32_t m = 0; m < s.mcusStored; ++m) {
    if (!MoveMcu(enc, m, mcu, false)) return kErrMemory;
    s.entropyMcu(stream, bits, enc, mcu);
  }
  return finishHuffmanEncoding(stream, bits, enc);
}

}  // namespace

int32_t RequestCoefficientStore(EncoderState& enc) {
  int64_t total = 0;
  for (int ci = 0; ci < enc.componentsInScan; ++ci) {
    const ComponentInfo& comp = *enc.scanComponents[ci];
    total += int64_t{enc.mcusPerRow} * comp.mcuWidth * enc.mcuRows * comp.mcuHeight *
             static_cast<int64_t>(sizeof(CoefBlock));
  }
  int64_t memoryLimit =
      (enc.wholeMemoryMiB > 0 ? enc.wholeMemoryMiB : kDefaultWholeMemoryMiB) * kMiB;
  int64_t storeLimit = (enc.wholeStoreMiB > 0 ? enc.wholeStoreMiB : kDefaultWholeStoreMiB) * kMiB;
  if (total > memoryLimit && total > storeLimit) return kErrMemory;

  auto* s =
      static_cast<CoefficientStore*>(enc.memory->allocSmall(sizeof(CoefficientStore), enc.pool));
  if (s == nullptr) return kErrMemory;
  std::memset(s, 0, sizeof *s);
  enc.store = s;
  for (int ci = 0; ci < enc.componentsInScan; ++ci) {
    const ComponentInfo& comp = *enc.scanComponents[ci];
    s->arrays[ci] = enc.memory->requestVirtualBlockArray(
        enc.mcusPerRow * comp.mcuWidth, enc.mcuRows * comp.mcuHeight, comp.mcuHeight, enc.pool);
    if (s->arrays[ci] == nullptr) return kErrMemory;
  }
  enc.pool.virtualBudget = memoryLimit;
  if (enc.progressiveCoding) {
    int32_t rc = PrepareProgressiveScans(enc);
    if (rc != kOk) return rc;
    // The copy of the DC terms is 1/64 of the coefficients and must fit in
    // the budget beside them; without it the DC scans read the arrays.
    const int64_t dcBytes = int64_t{enc.mcusPerRow} * enc.mcuRows * enc.blocksInMcu *
                            static_cast<int64_t>(sizeof(int16_t));
    if (total + dcBytes <= memoryLimit) {
      s->dcTerms = static_cast<int16_t*>(
          enc.memory->allocLarge(static_cast<std::size_t>(dcBytes), enc.pool));
      if (s->dcTerms == nullptr) return kErrMemory;
    }
  } else {
    s->dcCounts = static_cast<SymbolCounts*>(
        enc.memory->allocSmall(2 * kNumTables * sizeof(SymbolCounts), enc.pool));
    if (s->dcCounts == nullptr) return kErrMemory;
    std::memset(s->dcCounts, 0, 2 * kNumTables * sizeof(SymbolCounts));
    s->acCounts = s->dcCounts + kNumTables;
  }
  s->entropyMcu = enc.methods->encodeMcu;
  enc.methods->encodeMcu = StoreMcu;
  enc.methods->finishEntropy = enc.progressiveCoding ? FinishProgressiveScans : FinishOptimizedScan;
  return kOk;
}

const CoefBlock* StoredBlockRow(EncoderState& enc, int32_t c, int32_t blockRow) {
  // The scan that stored the MCUs held every frame component in order.
  int32_t h = enc.scanComponents[c]->mcuHeight;
  BlockArray rows = enc.memory->accessVirtualBlockArray(enc.store->arrays[c],
                                                        blockRow - blockRow % h, false, enc.pool);
  return rows == nullptr ? nullptr : rows[blockRow % h];
}

int32_t CheckCoefficientStore(EncoderState& enc) {
  for (int ci = 0; ci < enc.componentsInScan; ++ci) {
    if (!virtualArrayRealized(enc.store->arrays[ci])) return kErrMemory;
  }
  return kOk;
}

}  // namespace iffjpeg
