// The band machinery of the line controller, shared with the whole-image
// controller: scan geometry, the band buffers (the alternating pair of
// sample-row lists, one band of upsampled rows, the range-limit table), and
// handing over one line, which decodes or fetches the next band when the
// current one is used up.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver/handle.h"
#include "format/scan_layout.h"

namespace iffjpeg {

// The frame's size and largest sampling factors, as the scan layout takes them.
FrameSize FrameOf(const DecoderState& dec);

// Takes a layout's MCU grid and block list into the decoder's record.
void AdoptLayout(DecoderState& dec, const McuLayout& layout);

// The current scan's geometry (LayOutScan: T.81 A.2.2 for a lone
// component, A.2.3 for several), then prepareScan. 0, or 2 when an MCU
// would hold more than 10 blocks.
int32_t SetUpScan(DecoderState& dec);

// Allocates, for the current scan components, the sample buffer pair, then
// one band of upsampled rows per frame component and the range-limit table.
// 0, or 5 when memory runs out.
int32_t AllocateBandBuffers(IFFHandle& handle, DecoderState& dec);

// Sets the band counters for line 0: no lines available, nothing pending.
void StartBands(IFFHandle& handle);

// Hands over one line into handle.currentLine (nothing when it is null),
// running the decoding step first when the band is used up. The step calls
// decodeMcuRow and reconstructMcuRow for every MCU row of a band.
void HandOverLine(IFFHandle& handle, DecoderState& dec);

// The data ran out, or the restart sequence was lost, while MCU row mcuRow
// of the current scan was decoded: the first line that may differ from an
// intact decode is the first line made from that row, or the line above it
// where the 2x2 filter takes that row as context.
int32_t FirstLineOfMcuRow(const DecoderState& dec, int32_t mcuRow);

// More bits than the Huffman decoder's bit reader ever holds ahead of the
// byte stream (its register and the bits held aside).
inline constexpr int64_t kMaxBufferedBits = 128;

// True when no byte of the current scan's entropy-coded data is left in the
// stream: the next bytes are a marker other than RSTn (T.81 B.1.1.2), or the
// file ended.
bool ScanDataExhausted(const ByteStream& stream);

// An uninitialised list of count records from the decoder's pool.
template <typename T>
T* AllocList(DecoderState& dec, int32_t count) {
  return static_cast<T*>(
      dec.memory->allocSmall(sizeof(T) * static_cast<std::size_t>(count), dec.pool));
}

}  // namespace iffjpeg
