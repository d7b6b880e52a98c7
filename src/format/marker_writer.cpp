// Segments as T.81 Annex B lays them out, with the JFIF 1.01 APP0 segment
// after SOI. Everything goes through the stream buffer's byte writer, which
// records write failures itself.
#include "format/marker_writer.h"

#include "stream/byte_stream.h"

namespace iffjpeg {
namespace {

void WriteJfifSegment(ByteStream& stream, const EncoderState& enc) {
  PutMarker(stream, kMarkerApp0);
  PutWord(stream, 16);
  static constexpr uint8_t kIdentifier[5] = {0x4A, 0x46, 0x49, 0x46, 0x00};  // "JFIF"
  for (uint8_t c : kIdentifier) PutByte(stream, c);
  PutByte(stream, 1);  // version 1.01
  PutByte(stream, 1);
  PutByte(stream, enc.densityUnit);
  PutWord(stream, enc.xDensity);
  PutWord(stream, enc.yDensity);
  PutByte(stream, 0);  // no thumbnail
  PutByte(stream, 0);
}

}  // namespace

int32_t WriteQuantTable(EncoderState& enc, ByteStream& stream, int32_t tableNo) {
  const QuantTable& table = *enc.quantTables[tableNo];
  int32_t precision = 0;
  for (uint16_t q : table.quantval) {
    if (q > 255) precision = 1;
  }
  PutMarker(stream, kMarkerDqt);
  PutWord(stream, precision ? 64 * 2 + 3 : 64 + 3);
  PutByte(stream, (precision << 4) + tableNo);
  for (uint16_t q : table.quantval) {
    if (precision) PutByte(stream, q >> 8);
    PutByte(stream, q & 0xFF);
  }
  return precision;
}

void WriteHuffmanTable(ByteStream& stream, EncoderState& enc, int32_t tableNo, int32_t tableClass) {
  if (tableNo < 0 || tableNo >= kNumTables) return;
  HuffTable* table = tableClass ? enc.acHuffTables[tableNo] : enc.dcHuffTables[tableNo];
  if (table == nullptr || table->written) return;
  int32_t n = 0;
  for (int l = 1; l <= 16; ++l) n += table->bits[l];
  if (n > 256) n = 256;
  PutMarker(stream, kMarkerDht);
  PutWord(stream, 19 + n);
  PutByte(stream, tableClass ? tableNo + 16 : tableNo);
  for (int l = 1; l <= 16; ++l) PutByte(stream, table->bits[l]);
  for (int i = 0; i < n; ++i) PutByte(stream, table->huffval[i]);
  table->written = 1;
}

void WriteFrameHeader(int32_t markerCode, ByteStream& stream, EncoderState& enc) {
  PutMarker(stream, markerCode);
  PutWord(stream, 8 + 3 * enc.numComponents);
  PutByte(stream, enc.dataPrecision & 0xFF);
  PutWord(stream, enc.imageHeight & 0xFFFF);
  PutWord(stream, enc.imageWidth & 0xFFFF);
  PutByte(stream, enc.numComponents);
  for (int i = 0; i < enc.numComponents; ++i) {
    const ComponentInfo& c = enc.components[i];
    PutByte(stream, c.componentId & 0xFF);
    PutByte(stream, (c.hSampFactor << 4) + c.vSampFactor);
    PutByte(stream, c.quantTableNo);
  }
}

void WriteSosSegment(ByteStream& stream, EncoderState& enc) {
  PutMarker(stream, kMarkerSos);
  PutWord(stream, 6 + 2 * enc.componentsInScan);
  PutByte(stream, enc.componentsInScan);
  for (int i = 0; i < enc.componentsInScan; ++i) {
    const ComponentInfo& c = *enc.scanComponents[i];
    PutByte(stream, c.componentId & 0xFF);
    PutByte(stream, (c.dcTableNo << 4) + c.acTableNo);
  }
  PutByte(stream, 0);   // spectral selection start
  PutByte(stream, 63);  // spectral selection end
  PutByte(stream, 0);   // successive approximation
}

void WriteFileHeader(EncoderState& enc, ByteStream& stream) {
  PutMarker(stream, kMarkerSoi);
  if (enc.writeJfif) WriteJfifSegment(stream, enc);

  bool used[kNumTables] = {};
  for (int i = 0; i < enc.numComponents; ++i) used[enc.components[i].quantTableNo] = true;
  int32_t sixteenBit = 0;
  for (int t = 0; t < kNumTables; ++t) {
    if (used[t]) sixteenBit |= WriteQuantTable(enc, stream, t);
  }

  // Baseline (T.81 B.2.2): 8-bit samples, 8-bit quantizers, and Huffman
  // tables 0 and 1 only; anything else needs the extended frame.
  bool baseline = enc.dataPrecision == 8 && !sixteenBit;
  for (int i = 0; i < enc.numComponents; ++i) {
    const ComponentInfo& c = enc.components[i];
    if (c.dcTableNo > 1 || c.acTableNo > 1) baseline = false;
  }
  WriteFrameHeader(baseline ? kMarkerSof0 : kMarkerSof1, stream, enc);
}

void WriteScanHeader(ByteStream& stream, EncoderState& enc) {
  for (int i = 0; i < enc.componentsInScan; ++i) {
    const ComponentInfo& c = *enc.scanComponents[i];
    WriteHuffmanTable(stream, enc, c.dcTableNo, 0);
    WriteHuffmanTable(stream, enc, c.acTableNo, 1);
  }
  if (enc.restartInterval != 0) {
    PutMarker(stream, kMarkerDri);
    PutWord(stream, 4);
    PutWord(stream, enc.restartInterval);
  }
  WriteSosSegment(stream, enc);
}

}  // namespace iffjpeg
