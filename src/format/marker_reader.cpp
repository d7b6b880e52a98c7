#include "format/marker_reader.h"

#include <cstddef>
#include <cstring>

#include "common/result_codes.h"
#include "entropy/annex_k_tables.h"
#include "entropy/huffman_decoder.h"
#include "entropy/progressive_decoder.h"
#include "format/segment_collection.h"
#include "stream/byte_stream.h"

namespace iffjpeg {
namespace {

constexpr int32_t kJfifBytes = 14;
// "Adobe", version, flags0, flags1, transform.
constexpr int32_t kAdobeBytes = 12;

template <typename T>
T* AllocTable(DecoderState& dec) {
  return static_cast<T*>(dec.memory->allocSmall(sizeof(T), dec.pool));
}

bool EndsRun(int code) {
  return (code >= 0xC0 && code <= 0xCF && code != kMarkerDht && code != kMarkerDac) ||
         code == kMarkerSoi || code == kMarkerEoi || code == kMarkerSos;
}

// count bytes into out: straight from the buffer when it holds them all
// (a DHT segment's counts and symbols), else byte by byte with
// whatever refills that takes.
void ReadBytes(ByteStream& stream, uint8_t* out, int32_t count) {
  if (stream.byteCount >= static_cast<uint32_t>(count)) {
    std::memcpy(out, stream.cursor, static_cast<std::size_t>(count));
    stream.cursor += count;
    stream.byteCount -= static_cast<uint32_t>(count);
    return;
  }
  for (int32_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(ReadByte(stream));
}

void SkipBytes(ByteStream& stream, int32_t count) {
  for (int32_t i = 0; i < count; ++i) ReadByte(stream);
}

}  // namespace

int NextMarker(ByteStream& stream) {
  int32_t passed = 0;
  return NextMarker(stream, passed);
}

int NextMarker(ByteStream& stream, int32_t& passed) {
  passed = 0;
  for (;;) {
    int byte = ReadByte(stream);
    if (byte != 0xFF) {
      ++passed;
      continue;
    }
    do {
      byte = ReadByte(stream);
    } while (byte == 0xFF);
    if (byte != 0x00) return byte;
    ++passed;  // a stuffed 0xFF: a data byte
  }
}

// DHT (T.81 B.2.4.2): one or more tables of class/number, 16 counts, symbols.
int32_t ReadHuffmanTables(ByteStream& stream, DecoderState& dec) {
  int32_t remaining = ReadWord(stream) - 2;
  while (remaining > 0) {
    int tcTh = ReadByte(stream);
    uint8_t bits[17];
    bits[0] = 0;
    ReadBytes(stream, bits + 1, 16);
    int32_t total = 0;
    for (int32_t l = 1; l <= 16; ++l) total += bits[l];
    remaining -= 17;
    if (total > 256 || total > remaining) return kErrBadData;
    uint8_t huffval[256];
    ReadBytes(stream, huffval, total);
    remaining -= total;
    int number = tcTh & ~0x10;
    if (number > 3) return kErrBadData;
    if (huffmanCodesOverflow(bits)) return kErrBadData;
    HuffTable*& slot = (tcTh & 0x10) ? dec.acHuffTables[number] : dec.dcHuffTables[number];
    if (slot == nullptr) {
      slot = AllocTable<HuffTable>(dec);
      if (slot == nullptr) return kErrMemory;
      // The counts and symbols; the decoding tables are written whole
      // before they are read (decodingTable, buildDecodingTable and
      // buildCombinedLookup), and the scans of tables of T.81 Annex K never
      // read them (they decode with the copies made at compile time).
      std::memset(static_cast<void*>(slot), 0, offsetof(HuffTable, decode));
    }
    std::memcpy(slot->bits, bits, sizeof bits);
    std::memcpy(slot->huffval, huffval, static_cast<std::size_t>(total));
  }
  return 0;
}

// DAC (T.81 B.2.4.3): conditioning values; read and checked, never used.
int32_t ReadArithConditioning(ByteStream& stream, DecoderState& dec) {
  int32_t remaining = ReadWord(stream) - 2;
  while (remaining > 0) {
    int index = ReadByte(stream);
    int value = ReadByte(stream);
    if (index > 31) return kErrBadData;
    if (index < 16) {
      dec.arithDcL[index] = static_cast<uint8_t>(value & 0x0F);
      dec.arithDcU[index] = static_cast<uint8_t>(value >> 4);
      if (dec.arithDcL[index] > dec.arithDcU[index]) return kErrBadData;
    } else {
      dec.arithAcK[index - 16] = static_cast<uint8_t>(value);
    }
    remaining -= 2;
  }
  return 0;
}

// DQT (T.81 B.2.4.1): tables of 64 values in zigzag order, 8 or 16 bits.
int32_t ReadQuantTables(ByteStream& stream, DecoderState& dec) {
  int32_t remaining = ReadWord(stream) - 2;
  while (remaining > 0) {
    int pqTq = ReadByte(stream);
    int number = pqTq & 0x0F;
    bool sixteenBit = (pqTq >> 4) != 0;
    if (number > 3) return kErrBadData;
    QuantTable*& slot = dec.quantTables[number];
    if (slot == nullptr) {
      slot = AllocTable<QuantTable>(dec);
      if (slot == nullptr) return kErrMemory;
    }
    if (sixteenBit) {
      for (uint16_t& value : slot->quantval) value = static_cast<uint16_t>(ReadWord(stream));
    } else {
      uint8_t values[64];
      ReadBytes(stream, values, 64);
      for (int32_t k = 0; k < 64; ++k) slot->quantval[k] = values[k];
    }
    remaining -= sixteenBit ? 129 : 65;
  }
  return 0;
}

// APP0: the JFIF segment gives the density and marks the data as YCbCr.
int32_t ReadJfifSegment(ByteStream& stream, DecoderState& dec) {
  int32_t remaining = ReadWord(stream) - 2;
  if (remaining >= kJfifBytes) {
    uint8_t b[kJfifBytes];
    for (uint8_t& byte : b) byte = static_cast<uint8_t>(ReadByte(stream));
    remaining -= kJfifBytes;
    if (std::memcmp(b, "JFIF", 5) == 0) {
      if (b[5] != 1) return kErrBadData;
      dec.jfifSeen = 1;
      if (!dec.extras.closed) dec.extras.jfifVersion = (b[5] << 8) | b[6];
      dec.densityUnit = b[7];
      dec.xDensity = static_cast<uint16_t>((b[8] << 8) | b[9]);
      dec.yDensity = static_cast<uint16_t>((b[10] << 8) | b[11]);
      if (dec.jpegColourSpace == kColourUnknown) dec.jpegColourSpace = kColourYcc;
    }
  }
  SkipBytes(stream, remaining);
  return 0;
}

// APP14, extended reading only. A segment too short for the twelve bytes,
// with another identifier, or after one already recorded is passed over.
int32_t ReadAdobeSegment(ByteStream& stream, DecoderState& dec) {
  int32_t remaining = ReadWord(stream) - 2;
  if (remaining >= kAdobeBytes) {
    uint8_t b[kAdobeBytes];
    for (uint8_t& byte : b) byte = static_cast<uint8_t>(ReadByte(stream));
    remaining -= kAdobeBytes;
    if (std::memcmp(b, "Adobe", 5) == 0 && dec.adobeTransform < 0 && !dec.colourModelFixed) {
      dec.adobeVersion = static_cast<uint16_t>((b[5] << 8) | b[6]);
      dec.adobeFlags0 = static_cast<uint16_t>((b[7] << 8) | b[8]);
      dec.adobeFlags1 = static_cast<uint16_t>((b[9] << 8) | b[10]);
      dec.adobeTransform = b[11];
    }
  }
  SkipBytes(stream, remaining);
  return 0;
}

void SkipSegment(ByteStream& stream) { SkipBytes(stream, ReadWord(stream) - 2); }

// SOF0, SOF1, SOF9 (T.81 B.2.2). Checked later, by decompression set-up.
int32_t ReadFrameHeader(ByteStream& stream, DecoderState& dec, int32_t arithmetic) {
  ReadWord(stream);  // the length is not relied upon
  dec.arithCode = arithmetic;
  dec.dataPrecision = static_cast<int16_t>(ReadByte(stream));
  dec.imageHeight = ReadWord(stream);
  dec.imageWidth = ReadWord(stream);
  dec.numComponents = static_cast<int16_t>(ReadByte(stream));
  std::size_t bytes = sizeof(ComponentInfo) * static_cast<std::size_t>(dec.numComponents);
  dec.components = static_cast<ComponentInfo*>(dec.memory->allocSmall(bytes, dec.pool));
  if (dec.components == nullptr) return kErrMemory;
  std::memset(dec.components, 0, bytes);
  for (int16_t i = 0; i < dec.numComponents; ++i) {
    ComponentInfo& comp = dec.components[i];
    comp.componentId = static_cast<int16_t>(ReadByte(stream));
    comp.componentIndex = i;
    int factors = ReadByte(stream);
    comp.hSampFactor = static_cast<int16_t>(factors >> 4);
    comp.vSampFactor = static_cast<int16_t>(factors & 0x0F);
    comp.quantTableNo = static_cast<int16_t>(ReadByte(stream));
  }
  return 0;
}

namespace {

// The frame component a scan selector names. Once a scan was matched by
// position, later scans are matched through the identifiers it used.
ComponentInfo* FindScanComponent(DecoderState& dec, int selector) {
  for (int16_t c = 0; c < dec.numComponents; ++c) {
    int id = dec.positionalIds ? dec.scanIdAlias[c] : dec.components[c].componentId;
    if (id == selector) return &dec.components[c];
  }
  return nullptr;
}

// Extended reading: a slot a scan uses that no DHT segment defined gets the
// Annex K table of its class (T.81 K.3): slot 0 luminance, 1..3 chrominance.
int32_t FillDefaultHuffmanTables(DecoderState& dec) {
  for (int16_t i = 0; i < dec.scanComponentCount; ++i) {
    const ComponentInfo& comp = *dec.scanComponents[i];
    for (int32_t ac = 0; ac < 2; ++ac) {
      int32_t number = ac ? comp.acTableNo : comp.dcTableNo;
      HuffTable*& slot = ac ? dec.acHuffTables[number] : dec.dcHuffTables[number];
      if (slot != nullptr) continue;
      slot = AllocTable<HuffTable>(dec);
      if (slot == nullptr) return kErrMemory;
      std::memset(slot, 0, sizeof(HuffTable));
      bool luminance = number == 0;
      const uint8_t* bits = ac ? (luminance ? kAcLuminanceBits : kAcChrominanceBits)
                               : (luminance ? kDcLuminanceBits : kDcChrominanceBits);
      const uint8_t* values = ac ? (luminance ? kAcLuminanceValues : kAcChrominanceValues)
                                 : (luminance ? kDcLuminanceValues : kDcChrominanceValues);
      int32_t total = 0;
      for (int32_t l = 1; l <= 16; ++l) total += bits[l];
      std::memcpy(slot->bits, bits, 17);
      std::memcpy(slot->huffval, values, static_cast<std::size_t>(total));
    }
  }
  return kOk;
}

}  // namespace

// SOS (T.81 B.2.3). Each component at most once, table numbers 0..3. In
// extended reading, a scan none of whose selectors all name frame
// components, but with as many components as the frame, is matched by
// position; and slots without a table get the Annex K ones.
int32_t ReadScanHeader(ByteStream& stream, DecoderState& dec) {
  int32_t length = ReadWord(stream);
  int32_t count = ReadByte(stream);
  dec.scanComponentCount = static_cast<int16_t>(count);
  if (length != 2 * count + 6 || count < 1 || count > kMaxScanComponents) return kErrBadData;
  int selectors[kMaxScanComponents];
  int tables[kMaxScanComponents];
  bool allFound = true;
  for (int32_t i = 0; i < count; ++i) {
    selectors[i] = ReadByte(stream);
    tables[i] = ReadByte(stream);
    for (int32_t j = 0; j < i; ++j) {
      if (selectors[j] == selectors[i]) return kErrBadData;
    }
    allFound = allFound && FindScanComponent(dec, selectors[i]) != nullptr;
  }
  if (!allFound && dec.extendedReading && !dec.positionalIds && count == dec.numComponents) {
    dec.positionalIds = 1;
    for (int32_t i = 0; i < count; ++i) dec.scanIdAlias[i] = static_cast<int16_t>(selectors[i]);
  }
  for (int32_t i = 0; i < count; ++i) {
    ComponentInfo* comp = FindScanComponent(dec, selectors[i]);
    if (comp == nullptr) return kErrBadData;
    comp->dcTableNo = static_cast<int16_t>(tables[i] >> 4);
    comp->acTableNo = static_cast<int16_t>(tables[i] & 0x0F);
    if (comp->dcTableNo >= kNumTables || comp->acTableNo >= kNumTables) return kErrBadData;
    dec.scanComponents[i] = comp;
  }
  // Spectral selection and successive approximation: a sequential frame's
  // are not relied upon; a progressive frame's are checked by its decoder.
  dec.spectralStart = static_cast<int16_t>(ReadByte(stream));
  dec.spectralEnd = static_cast<int16_t>(ReadByte(stream));
  int approximation = ReadByte(stream);
  dec.approxHigh = static_cast<int16_t>(approximation >> 4);
  dec.approxLow = static_cast<int16_t>(approximation & 0x0F);
  if (dec.extendedReading && dec.arithCode == 0) return FillDefaultHuffmanTables(dec);
  return kOk;
}

int ReadMarkers(ByteStream& stream, DecoderState& dec) {
  for (;;) {
    int code = NextMarker(stream);
    if (EndsRun(code)) return code;
    int32_t rc = 0;
    switch (code) {
      case kMarkerTem:
        break;
      case kMarkerDht:
        rc = ReadHuffmanTables(stream, dec);
        break;
      case kMarkerDac:
        rc = ReadArithConditioning(stream, dec);
        break;
      case kMarkerDqt:
        rc = ReadQuantTables(stream, dec);
        break;
      case kMarkerDri:
        if (ReadWord(stream) != 4) return kErrBadData;
        dec.restartInterval = static_cast<uint16_t>(ReadWord(stream));
        break;
      case kMarkerApp0:
        rc = ReadJfifSegment(stream, dec);
        break;
      case kMarkerApp14:
        if (dec.extendedReading) {
          rc = ReadAdobeSegment(stream, dec);
        } else {
          NoteAdobeSegment(stream, dec);
        }
        break;
      case kMarkerApp1:
        rc = ReadApp1Segment(stream, dec);
        break;
      case kMarkerApp2:
        rc = ReadApp2Segment(stream, dec);
        break;
      case kMarkerCom:
        rc = ReadCommentSegment(stream, dec);
        break;
      default:
        if (code >= kMarkerRst0 && code <= kMarkerRst7) break;  // no length
        SkipSegment(stream);
        break;
    }
    if (rc == kErrMemory) return kErrMemory;
    if (rc != 0) return kErrBadData;
  }
}

int32_t ClassifyColourSpace(const DecoderState& dec) {
  switch (dec.numComponents) {
    case 1:
      return kColourGrey;
    case 3:
      if (dec.jpegColourSpace == kColourYcc) return kColourYcc;  // JFIF says so
      if (dec.components[0].componentId == 1 && dec.components[1].componentId == 4 &&
          dec.components[2].componentId == 5) {
        return kColourOtherThree;
      }
      return kColourYcc;
    case 4:
      return kColourFour;
    default:
      return kColourUnknown;
  }
}

int32_t ClassifyExtendedColourSpace(const DecoderState& dec) {
  int32_t transform = dec.adobeTransform;
  switch (dec.numComponents) {
    case 1:
      return kColourGrey;
    case 3:
      if (transform == 0) return kColourRgb;
      if (transform == 1) return kColourYcc;
      // No Adobe segment, or a transform that does not fit three components.
      if (dec.jfifSeen) return kColourYcc;
      if (dec.components[0].componentId == 'R' && dec.components[1].componentId == 'G' &&
          dec.components[2].componentId == 'B') {
        return kColourRgb;
      }
      return ClassifyColourSpace(dec);
    case 4:
      // Four components are inks unless the Adobe segment says transform 2;
      // any other transform (and a JFIF segment, which cannot describe four
      // components) leaves them CMYK.
      return transform == 2 ? kColourYcck : kColourCmyk;
    default:
      return kColourUnknown;
  }
}

int32_t ReadFileHeader(ByteStream& stream, DecoderState& dec) {
  if (ReadByte(stream) != 0xFF || ReadByte(stream) != kMarkerSoi) return kErrBadData;
  for (int i = 0; i < 16; ++i) {
    dec.arithDcL[i] = 0;
    dec.arithDcU[i] = 1;
    dec.arithAcK[i] = 5;
  }
  dec.xDensity = 1;
  dec.yDensity = 1;
  dec.densityUnit = 0;
  dec.restartInterval = 0;
  dec.jfifSeen = 0;
  dec.colourModelFixed = 0;
  dec.adobeTransform = -1;
  dec.positionalIds = 0;
  dec.extras.adobeTransform = -1;
  int code = ReadMarkers(stream, dec);
  dec.extras.frameMarker = code;
  int32_t rc;
  if (code == kMarkerSof0 || code == kMarkerSof1) {
    rc = ReadFrameHeader(stream, dec, 0);
  } else if (code == kMarkerSof9) {
    rc = ReadFrameHeader(stream, dec, 1);
  } else if (code == kMarkerSof2 && dec.extendedReading) {
    dec.progressive = 1;
    rc = ReadFrameHeader(stream, dec, 0);
  } else {
    return code == 5 ? 5 : 7;
  }
  if (rc != 0) return rc;
  dec.jpegColourSpace = ClassifyColourSpace(dec);
  return 0;
}

int32_t ReadToFirstScan(ByteStream& stream, DecoderState& dec) {
  int code = ReadMarkers(stream, dec);
  if (code == kMarkerSos) {
    int32_t rc = ReadScanHeader(stream, dec);
    // Segments between the frame header and the first scan count too: the
    // model is fixed here, and later segments no longer change it.
    if (rc == 0 && dec.extendedReading) {
      dec.jpegColourSpace = ClassifyExtendedColourSpace(dec);
      dec.colourModelFixed = 1;
    }
    if (rc == kOk) CloseSegmentCollection(dec);
    // The first scan of a progressive frame can refine nothing (T.81
    // G.1.1.1.1); a later scan's header is checked when it is reached.
    if (rc == kOk && dec.progressive && !ProgressiveScanValid(dec, nullptr)) rc = kErrBadData;
    return rc;
  }
  if (code == kErrMemory) return kErrMemory;
  // EOI (a header with no scan), another frame header, SOI, or a malformed
  // segment: nothing can be decoded.
  return kErrBadData;
}

// Between the scans of a multi-scan frame (T.81 B.2.1, B.6): DHT, DQT, DRI,
// COM and APPn may come before the next SOS; EOI ends the image.
int32_t ReadToNextScan(ByteStream& stream, DecoderState& dec) {
  dec.scanComponentCount = 0;
  int code = ReadMarkers(stream, dec);
  if (code == kMarkerSos) return ReadScanHeader(stream, dec);
  if (code == kMarkerEoi) return 0;
  return code == 5 ? 5 : 7;
}

}  // namespace iffjpeg
