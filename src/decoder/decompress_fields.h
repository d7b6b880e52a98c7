// The decompression controller's working fields, kept in the handle.
#pragma once

#include <cstdint>

#include "decoder/coefficient_fields.h"
#include "format/jpeg_records.h"
#include "memory/memory_manager.h"

namespace iffjpeg {

// The whole-image controller's own fields: one full-height plane per frame
// component, in a virtual array, and what the scans made of them.
struct WholeImageFields {
  VirtualSampleArray* planes[kMaxScanComponents];
  BlockArray coefRows[kMaxScanComponents];  // per frame component, one MCU row
  int32_t planeWidth[kMaxScanComponents];   // as an interleaved scan pads them
  int32_t planeRows[kMaxScanComponents];
  int32_t coded[kMaxScanComponents];  // a scan has coded the component
  // Plane rows that hold decoded samples; the rest come out mid-grey. Less
  // than planeRows only when the data ended inside the component's scan.
  int32_t codedRows[kMaxScanComponents];
  int32_t firstDamagedLine;  // the line that reports 10, -1 for none
  int32_t nextLine;          // lines handed over so far
};

// Scaled decoding (IFF_CTL_SCALE): one band of reduced-transform samples
// per scan component and of replicated samples per frame component, at
// `size` samples per block side.
struct ScaledFields {
  int32_t begun;
  int32_t size;
  int32_t width;  // the scaled image
  int32_t height;
  SampleArray compRows[kMaxScanComponents];  // per scan component
  // Per scan component: samples per block side (a subsampled component's
  // blocks cover more of the reduced image, up to 8) and the replication
  // left to reach the reduced size.
  int32_t compWidth[kMaxScanComponents];
  int32_t compHeight[kMaxScanComponents];
  int32_t repeatH[kMaxScanComponents];
  int32_t repeatV[kMaxScanComponents];
  SampleArray upRows[kMaxScanComponents];  // per frame component
  int32_t bandRows;
  int32_t bandLines;   // lines of the current band
  int32_t nextInBand;  // its next line to hand over
  int32_t linesDone;   // lines of all bands decoded so far
  uint8_t* fullLines;  // the whole-image controller's full-size lines, averaged
};

struct DecompressFields {
  int32_t paddedWidth;     // image width rounded up to 8 x max horizontal sampling
  int32_t mcuRowIndex;     // first MCU row of the band the next step reads
  int32_t linesDelivered;  // lines of all bands but the last
  int32_t mcuRowsPerBand;
  BlockArray* coefRows;  // per scan component
  // Every block of coefRows is zero between MCU rows: the reconstruction
  // clears each block after its transform (the full-size line controller).
  int32_t coefRowsClear;
  SampleArray* sampleSets[2];  // per scan component: natural and exchanged lists
  SampleArray* upsampledRows;  // per frame component; null where its rows are shared
  // Per frame component: the band's rows the colour conversion reads, the
  // upsampled rows, or the component's own sample rows where no upsampling
  // is needed (sharedRows, per scan component).
  SampleArray* outputRows;
  int32_t sharedRows[kMaxScanComponents];
  int32_t rowsPerBand;
  int32_t currentSet;
  int32_t mcuRowInBand;
  int32_t linesAvailable;
  int32_t linesHandedOver;
  int32_t bandPending;
  CoefBlock transformBlock;
  WholeImageFields whole;
  CoefficientFields coefs;
  ScaledFields scaled;
};

// The Huffman decoder's bit reader.
struct BitReader {
  uint32_t bitBuffer;
  int32_t bitsLeft;
  int32_t heldBits;
  int32_t heldCount;
  // The restart marker's code when zero bits had to stand in for data in
  // front of it (the MCU being decoded ran past its interval's data), else 0.
  int32_t zerosSupplied;
};

}  // namespace iffjpeg
