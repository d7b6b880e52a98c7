#include "entropy/error_concealment.h"

#include <algorithm>

#include "entropy/huffman_decoder.h"

namespace iffjpeg {
namespace {

bool Concealing(const DecoderState& dec) {
  return dec.extendedReading != 0 && dec.restartInterval != 0;
}

// The blocks of the row's MCU m (0 <= m < mcusPerRow), zero, get flat
// values: the DC term above each block where a row above was kept, else
// the component's last intact prediction.
void ConcealBlocks(const DecoderState& dec, CoefBlock** blocks, int32_t m) {
  const bool above = dec.aboveDcKept != 0 && m >= 0 && m < dec.mcusPerRow;
  for (int32_t b = 0; b < dec.blocksInMcu; ++b) {
    int32_t ci = dec.mcuMembership[b];
    if (above) {
      int32_t column = m * dec.rowStride[b] + dec.rowColumn[b];
      (*blocks[b])[0] = dec.aboveDc[ci * dec.aboveDcStride + column];
    } else {
      const uint16_t* q = dec.quantTables[dec.scanComponents[ci]->quantTableNo]->quantval;
      (*blocks[b])[0] = static_cast<int16_t>(dec.concealDc[ci] * static_cast<int32_t>(q[0]));
    }
  }
}

}  // namespace

void startConcealment(DecoderState& dec) {
  dec.mcuInScan = 0;
  dec.intervalStart = 0;
  dec.rowFirstMcu = -1;
  dec.aboveDcKept = 0;
  dec.restartReportDue = 0;
  std::fill_n(dec.concealDc, kMaxScanComponents, int16_t{0});
  if (!Concealing(dec) || dec.aboveDc != nullptr || dec.progressive != 0) return;
  int32_t widest = 0;
  for (int32_t c = 0; c < dec.numComponents; ++c) {
    widest = std::max(widest, dec.components[c].paddedWidth / 8);
  }
  // Without the store, blocks take the prediction beside them.
  std::size_t bytes = sizeof(int16_t) * kMaxScanComponents * static_cast<std::size_t>(widest);
  dec.aboveDc = static_cast<int16_t*>(dec.memory->allocLarge(bytes, dec.pool));
  dec.aboveDcStride = widest;
}

void beginMcuRow(DecoderState& dec, const BlockArray* rows) {
  if (!Concealing(dec)) return;
  dec.rowFirstMcu = dec.mcuInScan;
  if (dec.scanComponentCount == 1) {
    dec.rowBase[0] = rows[0][0];
    dec.rowStride[0] = 1;
    dec.rowColumn[0] = 0;
    dec.rowBottom[0] = rows[0][0];
    return;
  }
  // The blocks of each scan component in turn, row by row of the MCU
  // (T.81 A.2.3).
  int32_t b = 0;
  for (int32_t c = 0; c < dec.scanComponentCount; ++c) {
    const ComponentInfo& comp = *dec.scanComponents[c];
    dec.rowBottom[c] = rows[c][comp.mcuHeight - 1];
    for (int32_t r = 0; r < comp.mcuHeight; ++r) {
      for (int32_t col = 0; col < comp.mcuWidth && b < kMaxBlocksInMcu; ++col, ++b) {
        dec.rowBase[b] = rows[c][r] + col;
        dec.rowStride[b] = comp.mcuWidth;
        dec.rowColumn[b] = col;
      }
    }
  }
}

void finishMcuRow(ByteStream& stream, BitReader& bits, DecoderState& dec) {
  if (!Concealing(dec) || dec.rowFirstMcu < 0) return;
  const int64_t mcusInScan = int64_t{dec.mcusPerRow} * dec.mcuRowsInScan;
  if (dec.restartsAbandoned == 0 && dec.restartsToGo == 0 && dec.mcuInScan < mcusInScan) {
    processRestartEarly(stream, bits, dec);
  }
  if (dec.aboveDc == nullptr) return;
  for (int32_t c = 0; c < dec.scanComponentCount; ++c) {
    int32_t columns = dec.scanComponentCount == 1
                          ? dec.mcusPerRow
                          : dec.mcusPerRow * dec.scanComponents[c]->mcuWidth;
    int16_t* kept = dec.aboveDc + c * dec.aboveDcStride;
    for (int32_t x = 0; x < columns; ++x) kept[x] = dec.rowBottom[c][x][0];
  }
  dec.aboveDcKept = 1;
}

void concealSkippedMcu(const DecoderState& dec, CoefBlock** blocks) {
  ConcealBlocks(dec, blocks, dec.rowFirstMcu < 0 ? -1 : dec.mcuInScan - 1 - dec.rowFirstMcu);
}

void concealMcus(DecoderState& dec, int32_t from, int32_t to) {
  // MCUs are counted only while restarts are processed.
  if (dec.rowFirstMcu < 0 || dec.restartsAbandoned != 0) return;
  from = std::max(from, dec.rowFirstMcu);
  to = std::min(to, dec.rowFirstMcu + dec.mcusPerRow);
  CoefBlock* list[kMaxBlocksInMcu];
  for (int32_t m = from; m < to; ++m) {
    for (int32_t b = 0; b < dec.blocksInMcu; ++b) {
      list[b] = dec.rowBase[b] + (m - dec.rowFirstMcu) * dec.rowStride[b];
      std::fill_n(*list[b], 64, int16_t{0});
    }
    ConcealBlocks(dec, list, m - dec.rowFirstMcu);
  }
}

}  // namespace iffjpeg
