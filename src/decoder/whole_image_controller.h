// The whole-image controller: serves files whose first scan lacks some
// component (one scan per component, or luminance and then chroma together).
#pragma once

#include <cstdint>

#include "driver/handle.h"

namespace iffjpeg {

// The four modes of DecompressControl for such files. Mode 0 decodes every
// scan of the file into full-height component planes, so IFFOpen costs the
// whole decode; it returns 0, 2 (more than 10 blocks in an MCU, a missing
// Huffman table), 5 (memory) or 7 (a scan that codes a component again,
// a quantization table no DQT defined, an EOI or a malformed segment before
// every component is coded). Mode 1 hands over one line through the same
// band machinery as the line controller, with the band's rows taken from
// the planes; it reports 10 once, on the first line that may differ from an
// intact decode (a component never coded because the data ended comes out
// as mid-grey 128 and makes that line 0).
int32_t WholeImageControl(IFFHandle& handle, DecoderState& dec, int32_t mode);

// Brings a started whole-image decoder back to line 0 without reading the
// file again: the planes already hold every scan. A damaged line reports 10
// again when it is reached again.
void RestartWholeImageLines(IFFHandle& handle);

}  // namespace iffjpeg
