// Placeholders for the reading stages until the decoder lands: every open
// for reading is refused as unsupported data.
#include "driver/stages.h"

namespace iffjpeg {

int32_t SetDecompressDefaults(DecoderState& dec) {
  dec.components = nullptr;
  dec.jpegColourSpace = kColourUnknown;
  dec.outputColourSpace = kColourRgb;
  return 0;
}
int32_t ReadFileHeader(IFFHandle&, DecoderState&) { return 7; }
int32_t ReadToFirstScan(IFFHandle&, DecoderState&) { return 7; }
int32_t PrepareDecompress(DecoderState&) { return 7; }
int32_t DecompressControl(IFFHandle&, DecoderState& dec, int32_t mode) {
  if (mode == 3 && dec.memory != nullptr && dec.memory->freeAll != nullptr) {
    dec.memory->freeAll(dec.pool);
  }
  return 0;
}

}  // namespace iffjpeg
