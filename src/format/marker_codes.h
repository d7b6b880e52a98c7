// Marker codes (T.81 Table B.1): the one list that the marker reader, the
// marker writer and the Huffman decoder's restart handling share.
#pragma once

namespace iffjpeg {

enum MarkerCode : int {
  kMarkerTem = 0x01,
  kMarkerSof0 = 0xC0,
  kMarkerSof1 = 0xC1,
  kMarkerSof2 = 0xC2,
  kMarkerDht = 0xC4,
  kMarkerSof9 = 0xC9,
  kMarkerDac = 0xCC,
  kMarkerRst0 = 0xD0,
  kMarkerRst7 = 0xD7,
  kMarkerSoi = 0xD8,
  kMarkerEoi = 0xD9,
  kMarkerSos = 0xDA,
  kMarkerDqt = 0xDB,
  kMarkerDri = 0xDD,
  kMarkerApp0 = 0xE0,
  kMarkerApp1 = 0xE1,
  kMarkerApp2 = 0xE2,
  kMarkerApp14 = 0xEE,
  kMarkerCom = 0xFE,
};

}  // namespace iffjpeg
