// Segments as T.81 Annex B lays them out, with the JFIF 1.01 APP0 segment
// after SOI. Everything goes through the stream buffer's byte writer, which
// records write failures itself.
#include "format/marker_writer.h"

#include "driver/handle.h"
#include "driver/stages.h"
#include "driver/stream_buffer.h"

namespace iffjpeg {
namespace {

void WriteJfifSegment(IFFHandle& handle, const EncoderState& enc) {
  PutMarker(handle, kMarkerApp0);
  PutWord(handle, 16);
  static constexpr uint8_t kIdentifier[5] = {0x4A, 0x46, 0x49, 0x46, 0x00};  // "JFIF"
  for (uint8_t c : kIdentifier) PutByte(handle, c);
  PutByte(handle, 1);  // version 1.01
  PutByte(handle, 1);
  PutByte(handle, enc.densityUnit);
  PutWord(handle, enc.xDensity);
  PutWord(handle, enc.yDensity);
  PutByte(handle, 0);  // no thumbnail
  PutByte(handle, 0);
}

}  // namespace

int32_t WriteQuantTable(EncoderState& enc, IFFHandle& handle, int32_t tableNo) {
  const QuantTable& table = *enc.quantTables[tableNo];
  int32_t precision = 0;
  for (uint16_t q : table.quantval) {
    if (q > 255) precision = 1;
  }
  PutMarker(handle, kMarkerDqt);
  PutWord(handle, precision ? 64 * 2 + 3 : 64 + 3);
  PutByte(handle, (precision << 4) + tableNo);
  for (uint16_t q : table.quantval) {
    if (precision) PutByte(handle, q >> 8);
    PutByte(handle, q & 0xFF);
  }
  return precision;
}

void WriteHuffmanTable(IFFHandle& handle, EncoderState& enc, int32_t tableNo, int32_t tableClass) {
  if (tableNo < 0 || tableNo >= kNumTables) return;
  HuffTable* table = tableClass ? enc.acHuffTables[tableNo] : enc.dcHuffTables[tableNo];
  if (table == nullptr || table->written) return;
  int32_t n = 0;
  for (int l = 1; l <= 16; ++l) n += table->bits[l];
  if (n > 256) n = 256;
  PutMarker(handle, kMarkerDht);
  PutWord(handle, 19 + n);
  PutByte(handle, tableClass ? tableNo + 16 : tableNo);
  for (int l = 1; l <= 16; ++l) PutByte(handle, table->bits[l]);
  for (int i = 0; i < n; ++i) PutByte(handle, table->huffval[i]);
  table->written = 1;
}

void WriteFrameHeader(int32_t markerCode, IFFHandle& handle, EncoderState& enc) {
  PutMarker(handle, markerCode);
  PutWord(handle, 8 + 3 * enc.numComponents);
  PutByte(handle, enc.dataPrecision & 0xFF);
  PutWord(handle, enc.imageHeight & 0xFFFF);
  PutWord(handle, enc.imageWidth & 0xFFFF);
  PutByte(handle, enc.numComponents);
  for (int i = 0; i < enc.numComponents; ++i) {
    const ComponentInfo& c = enc.components[i];
    PutByte(handle, c.componentId & 0xFF);
    PutByte(handle, (c.hSampFactor << 4) + c.vSampFactor);
    PutByte(handle, c.quantTableNo);
  }
}

void WriteSosSegment(IFFHandle& handle, EncoderState& enc) {
  PutMarker(handle, kMarkerSos);
  PutWord(handle, 6 + 2 * enc.componentsInScan);
  PutByte(handle, enc.componentsInScan);
  for (int i = 0; i < enc.componentsInScan; ++i) {
    const ComponentInfo& c = *enc.scanComponents[i];
    PutByte(handle, c.componentId & 0xFF);
    PutByte(handle, (c.dcTableNo << 4) + c.acTableNo);
  }
  PutByte(handle, 0);   // spectral selection start
  PutByte(handle, 63);  // spectral selection end
  PutByte(handle, 0);   // successive approximation
}

void WriteFileHeader(EncoderState& enc, IFFHandle& handle) {
  PutMarker(handle, kMarkerSoi);
  if (enc.writeJfif) WriteJfifSegment(handle, enc);

  bool used[kNumTables] = {};
  for (int i = 0; i < enc.numComponents; ++i) used[enc.components[i].quantTableNo] = true;
  int32_t sixteenBit = 0;
  for (int t = 0; t < kNumTables; ++t) {
    if (used[t]) sixteenBit |= WriteQuantTable(enc, handle, t);
  }

  // Baseline (T.81 B.2.2): 8-bit samples, 8-bit quantizers, and Huffman
  // tables 0 and 1 only; anything else needs the extended frame.
  bool baseline = enc.dataPrecision == 8 && !sixteenBit;
  for (int i = 0; i < enc.numComponents; ++i) {
    const ComponentInfo& c = enc.components[i];
    if (c.dcTableNo > 1 || c.acTableNo > 1) baseline = false;
  }
  WriteFrameHeader(baseline ? kMarkerSof0 : kMarkerSof1, handle, enc);
}

void WriteScanHeader(IFFHandle& handle, EncoderState& enc) {
  for (int i = 0; i < enc.componentsInScan; ++i) {
    const ComponentInfo& c = *enc.scanComponents[i];
    WriteHuffmanTable(handle, enc, c.dcTableNo, 0);
    WriteHuffmanTable(handle, enc, c.acTableNo, 1);
  }
  if (enc.restartInterval != 0) {
    PutMarker(handle, kMarkerDri);
    PutWord(handle, 4);
    PutWord(handle, enc.restartInterval);
  }
  WriteSosSegment(handle, enc);
}

}  // namespace iffjpeg
