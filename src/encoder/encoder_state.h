// The encoder's record and its operation table.
#pragma once

#include <cstdint>

#include "format/jpeg_records.h"
#include "memory/memory_manager.h"

namespace iffjpeg {

struct IFFHandle;
struct EncoderState;
struct ByteStream;
struct BitWriter;
struct CoefficientStore;

// Metadata segments a host asked for, copied at its IFFControl call (kinds
// in IFF_CTL_METADATA order: ICC profile, EXIF, XMP, comment).
inline constexpr int kMetadataKinds = 4;
struct EncoderMetadata {
  uint8_t* bytes[kMetadataKinds];
  uint32_t length[kMetadataKinds];
};

using DownsampleFn = void (*)(EncoderState& enc, int32_t scanIndex, int32_t inputWidth,
                              int32_t inputRows, int32_t outputWidth, int32_t outputRows,
                              SampleRow* above, SampleRow* group, SampleRow* below,
                              SampleRow* output);

// Variable stages of encoding, selected at set-up (first IFFPutLine).
struct EncoderMethods {
  void (*convertLine)(IFFHandle& handle, EncoderState& enc, int32_t row, SampleArray* view);
  DownsampleFn downsample[kMaxScanComponents];
  // Returns 0, or 2 when a scan component has no Huffman table.
  int32_t (*startEntropy)(ByteStream& stream, BitWriter& bits, EncoderState& enc);
  void (*encodeMcu)(ByteStream& stream, BitWriter& bits, EncoderState& enc, int16_t* mcu);
  int32_t (*finishEntropy)(ByteStream& stream, BitWriter& bits, EncoderState& enc);
  int32_t controller;  // non-zero once set-up installed the single-pass controller
  // Returns 0, or 2 when a component has no downsampler (non-integral ratio).
  int32_t (*selectDownsamplers)(EncoderState& enc);
};

struct EncoderState {
  EncoderMethods* methods;
  MemoryManager* memory;
  int32_t imageWidth;
  int32_t imageHeight;
  int16_t inputComponents;
  int16_t dataPrecision;
  int32_t inputColourSpace;
  int32_t jpegColourSpace;
  int32_t writeJfif;
  uint8_t densityUnit;
  uint16_t xDensity;
  uint16_t yDensity;
  int16_t numComponents;
  ComponentInfo* components;
  QuantTable* quantTables[kNumTables];
  HuffTable* dcHuffTables[kNumTables];
  HuffTable* acHuffTables[kNumTables];
  int32_t arithCode;
  int32_t interleave;
  uint16_t restartInterval;
  int32_t restartRows;
  int16_t maxHSampFactor;
  int16_t maxVSampFactor;
  int16_t componentsInScan;
  ComponentInfo* scanComponents[kMaxScanComponents];
  int32_t mcusPerRow;
  int32_t mcuRows;
  int16_t blocksInMcu;
  int16_t mcuMembership[kMaxBlocksInMcu];
  // Huffman encoder state.
  int16_t lastDcVal[kMaxScanComponents];
  int16_t restartsToGo;
  int16_t nextRestartNum;
  int32_t* colourTable;  // RGB to YCbCr, 2048 entries
  // Writing options (IFFControl before the first line). optimizeCoding:
  // tables built for the image (T.81 K.2), the coefficients held in
  // `store` until IFFClose; the limits in MiB as for extended reading.
  int32_t optimizeCoding;
  int32_t progressiveCoding;  // a progressive file: the scans of progressive_scans.h
  int32_t wholeMemoryMiB;
  int32_t wholeStoreMiB;
  CoefficientStore* store;
  EncoderMetadata metadata;
  MemoryPool pool;
};

}  // namespace iffjpeg
