// The geometry of a frame and its scans (T.81 A.1.1, A.2.2, A.2.3), one
// piece for the decoder, the whole-image decoder's output pass and the
// encoder: each component's true and padded size and MCU shape, the MCU
// grid and the order of the blocks within an MCU.
#pragma once

#include <cstdint>

#include "format/jpeg_records.h"

namespace iffjpeg {

// The frame: its size in samples and the largest sampling factors.
struct FrameSize {
  int32_t width;
  int32_t height;
  int32_t maxHSampFactor;
  int32_t maxVSampFactor;
};

// A scan's MCUs: how many in a row and how many rows, and for each block of
// one MCU, in coding order, the position of its component in the scan.
struct McuLayout {
  int32_t mcusPerRow;
  int32_t mcuRows;
  int16_t blocksInMcu;
  int16_t membership[kMaxBlocksInMcu];
};

// T.81 A.1.1: the component's true size, ceil(X x H / Hmax) x
// ceil(Y x V / Vmax).
void SizeComponent(ComponentInfo& comp, const FrameSize& frame);

// Lays out a scan of `count` components (their true sizes known): a lone
// component is coded block by block over its own padded size (T.81 A.2.2),
// several are interleaved, each contributing H x V blocks to every MCU
// (T.81 A.2.3). Sets each component's mcuWidth, mcuHeight, mcuBlocks,
// paddedWidth and paddedHeight and fills `layout`. 0, or kErrInvalid when
// an interleaved MCU would hold more than 10 blocks (T.81 B.2.3).
int32_t LayOutScan(ComponentInfo* const* components, int32_t count, const FrameSize& frame,
                   McuLayout& layout);

// The geometry of `count` components as one interleaved scan would lay them
// out, without the 10-block limit and with no block list (blocksInMcu 0):
// for the padded planes of the whole-image decoder, which never decodes an
// MCU from it.
McuLayout LayOutInterleavedGeometry(ComponentInfo* const* components, int32_t count,
                                    const FrameSize& frame);

}  // namespace iffjpeg
