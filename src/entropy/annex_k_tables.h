// The example Huffman tables of T.81 Annex K (K.3, Tables K.3 to K.6): the
// encoder's default tables, and the tables extended reading falls back on
// for a scan whose slot no DHT segment defined (Motion-JPEG frames carry
// none). One definition for both.
#pragma once

#include <cstdint>

namespace iffjpeg {

// 17 counts (entry 0 unused) and the symbols in code order.
extern const uint8_t kDcLuminanceBits[17];
extern const uint8_t kDcLuminanceValues[12];
extern const uint8_t kDcChrominanceBits[17];
extern const uint8_t kDcChrominanceValues[12];
extern const uint8_t kAcLuminanceBits[17];
extern const uint8_t kAcLuminanceValues[162];
extern const uint8_t kAcChrominanceBits[17];
extern const uint8_t kAcChrominanceValues[162];

}  // namespace iffjpeg
