// The decoder's record and its operation table.
#pragma once

#include <cstdint>

#include "entropy/mcu_plan.h"
#include "format/jpeg_records.h"
#include "format/segment_collection.h"
#include "memory/memory_manager.h"

namespace iffjpeg {

struct IFFHandle;
struct DecoderState;

struct YccTables {
  int32_t crToR[256];
  int32_t cbToB[256];
  int32_t crToG[256];
  int32_t cbToG[256];
};
const YccTables& YccToRgbTables();
struct ByteStream;
struct BitReader;

using UpsampleFn = void (*)(DecoderState& dec, int32_t componentPos, int32_t inputWidth,
                            int32_t inputRows, int32_t outputWidth, int32_t outputRows,
                            SampleRow* above, SampleRow* current, SampleRow* below,
                            SampleRow* output);

enum class ControllerKind : int32_t { kNone = 0, kLine = 1, kWholeImage = 2, kCoefficients = 3 };

// Variable stages of decoding, selected once per file (or per scan).
struct DecoderMethods {
  int32_t (*startEntropyScan)(ByteStream& stream, BitReader& bits, DecoderState& dec);
  int32_t (*decodeMcu)(ByteStream& stream, BitReader& bits, DecoderState& dec, CoefBlock** blocks);
  // Optional: count MCUs at once, their block lists one after another, with
  // the effect of count decodeMcu calls. Null: decodeMcu alone is used.
  void (*decodeMcus)(ByteStream& stream, BitReader& bits, DecoderState& dec, CoefBlock** blocks,
                     int32_t count);
  void (*finishEntropyScan)(DecoderState& dec);
  void (*decodeMcuRow)(IFFHandle& handle, DecoderState& dec, BlockArray* coefRows);
  void (*reconstructMcuRow)(IFFHandle& handle, DecoderState& dec, BlockArray* coefRows,
                            SampleArray* sampleRows, int32_t firstRow);
  UpsampleFn upsample[kMaxScanComponents];
  void (*convertColour)(DecoderState& dec, int32_t line, int32_t width, SampleArray* input,
                        SampleRow* output);
  ControllerKind controller;
  void (*prepareScan)(DecoderState& dec);
};

struct DecoderState {
  DecoderMethods* methods;
  MemoryManager* memory;
  // IFF_MODE_EXTENDED: progressive frames, the Adobe and RGB colour models,
  // whole-image decoding of every multi-scan file into coefficients. Zero:
  // exactly the default reading.
  int32_t extendedReading;
  // A progressive frame (SOF2, extended reading only), and the current
  // scan's spectral selection and successive approximation (T.81 B.2.3).
  int32_t progressive;
  int16_t spectralStart;
  int16_t spectralEnd;
  int16_t approxHigh;
  int16_t approxLow;
  // Extended reading: what the coefficient arrays may keep in memory and in
  // the backing store, in MiB (IFF_CTL_WHOLE_IMAGE_LIMITS; 0 = the defaults).
  int32_t wholeMemoryMiB;
  int32_t wholeStoreMiB;
  // IFF_CTL_SCALE's denominator: 1 (or 0) full size, else 2, 4 or 8.
  int32_t scaleDenom;
  int32_t outputColourSpace;
  int32_t imageWidth;
  int32_t imageHeight;
  int16_t dataPrecision;
  int32_t jpegColourSpace;
  uint8_t densityUnit;
  uint16_t xDensity;
  uint16_t yDensity;
  // What chooses the colour model in extended reading. jfifSeen is set in
  // either mode; the Adobe APP14 segment (not part of T.81) is read only in
  // extended reading, the first one before the first scan (transform -1 when
  // none came), and colourModelFixed is set once the first scan header has
  // decided the model from them.
  int32_t jfifSeen;
  int32_t colourModelFixed;
  int32_t adobeTransform;
  uint16_t adobeVersion;
  uint16_t adobeFlags0;
  uint16_t adobeFlags1;
  int16_t numComponents;
  ComponentInfo* components;
  QuantTable* quantTables[kNumTables];
  HuffTable* dcHuffTables[kNumTables];
  HuffTable* acHuffTables[kNumTables];
  // The tables a sequential scan's components decode with (startHuffmanPass):
  // their own tables derived, or the Annex K tables derived at compile time.
  const HuffTable* dcDecoding[kMaxScanComponents];
  const HuffTable* acDecoding[kMaxScanComponents];
  McuPlan mcuPlan;  // the fast decoder's, for the scan
  uint8_t arithDcL[16];
  uint8_t arithDcU[16];
  uint8_t arithAcK[16];
  int32_t arithCode;
  uint16_t restartInterval;
  int16_t maxHSampFactor;
  int16_t maxVSampFactor;
  int16_t outputComponents;
  const uint8_t* rangeLimit;  // points at the centre of the 768-byte table
  int16_t scanComponentCount;
  ComponentInfo* scanComponents[kMaxScanComponents];
  // Extended reading: set once a scan whose selectors did not all name
  // frame components was matched by position; scanIdAlias then holds the
  // selector standing for each frame component, and later scans use it.
  int32_t positionalIds;
  int16_t scanIdAlias[kMaxScanComponents];
  int32_t mcusPerRow;
  int32_t mcuRowsInScan;
  int16_t blocksInMcu;
  int16_t mcuMembership[kMaxBlocksInMcu];
  int16_t lastDcVal[kMaxScanComponents];
  // Scaled decoding through the line controller: per scan component, the
  // coefficients (bit k: zigzag index k) its reduced transform never reads.
  // The Huffman decoders still decode them, to move through the data, but
  // neither dequantize nor store them, so those places of the blocks stay
  // zero. 0 (every other decode): each coefficient is stored.
  uint64_t unusedCoefficients[kMaxScanComponents];
  // MCUs left before the next restart marker. 32 bits: the interval itself
  // may be as large as 65535.
  int32_t restartsToGo;
  int16_t nextRestartNum;
  // Set when a marker other than RST0..RST7 stood where a restart was due:
  // the rest of the scan decodes from zero bits and no restart is processed.
  int32_t restartsAbandoned;
  // Extended reading: MCUs still to be passed over without decoding, their
  // blocks left as they are, after a restart marker named a later interval
  // than the one expected or the data ran into a marker inside an interval.
  int32_t skipMcus;
  // Extended reading: the current interval ran into a restart marker of
  // another number before its MCUs were complete (a marker was lost).
  int32_t intervalDamaged;
  // Extended reading, sequential scans with restarts: error concealment
  // (entropy/error_concealment.h). concealDc: per scan component, the DC
  // prediction (quantized) at the end of the last interval that ended
  // intact, for blocks with no row above them.
  int16_t concealDc[kMaxScanComponents];
  // MCUs begun in the scan (counted only while restarts are processed),
  // and the index of the first MCU decoded from the current interval's data.
  int32_t mcuInScan;
  int32_t intervalStart;
  // Where the blocks of the MCU row being decoded are, so that a damaged
  // interval's MCUs can still be concealed once its end shows the damage:
  // block b of the row's MCU m is rowBase[b] + m x rowStride[b], in column
  // m x rowStride[b] + rowColumn[b] of its component's blocks; rowBottom
  // holds each scan component's last block row of the MCU row. rowFirstMcu
  // is the scan index of the row's first MCU (-1: no row).
  BlockRow rowBase[kMaxBlocksInMcu];
  int32_t rowStride[kMaxBlocksInMcu];
  int32_t rowColumn[kMaxBlocksInMcu];
  BlockRow rowBottom[kMaxScanComponents];
  int32_t rowFirstMcu;
  // The dequantized DC terms of the block row above the MCU row, per scan
  // component (aboveDcStride apart), valid once aboveDcKept; allocated from
  // the pool at the first scan that needs it, null when that failed.
  int16_t* aboveDc;
  int32_t aboveDcStride;
  int32_t aboveDcKept;
  // A restart processed early, at a row's end, whose 10 is still to be
  // reported: with the next MCU, where it would have been processed, so
  // that line codes stay those of intact files in the default mode.
  int32_t restartReportDue;
  // Metadata segments and the values the description reports, collected in
  // either mode up to the first scan header; their bytes live in the pool.
  SegmentCollection extras;
  MemoryPool pool;

  // The four YCbCr-to-RGB tables (colour_deconvert.cpp), the same for every
  // file.
  const int32_t* crToR() const { return YccToRgbTables().crToR; }
  const int32_t* cbToB() const { return YccToRgbTables().cbToB; }
  const int32_t* crToG() const { return YccToRgbTables().crToG; }
  const int32_t* cbToG() const { return YccToRgbTables().cbToG; }
};

}  // namespace iffjpeg
