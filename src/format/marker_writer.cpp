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

constexpr uint8_t kExifIdentifier[6] = {'E', 'x', 'i', 'f', 0, 0};
constexpr uint8_t kIccIdentifier[12] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
// The XMP packet's namespace name, zero-terminated, as the XMP segment
// carries it.
constexpr char kXmpIdentifier[] = "http://ns.adobe.com/xap/1.0/";

// One segment: marker, length, identifier, payload.
void WriteSegment(ByteStream& stream, int marker, const uint8_t* identifier, uint32_t idLength,
                  const uint8_t* payload, uint32_t length) {
  PutMarker(stream, marker);
  PutWord(stream, static_cast<int>(2 + idLength + length));
  PutBytes(stream, identifier, idLength);
  PutBytes(stream, payload, length);
}

// EXIF, the ICC profile in numbered chunks, XMP, then the comment.
void WriteMetadata(ByteStream& stream, const EncoderMetadata& m) {
  if (m.length[kMetadataExif] != 0) {
    WriteSegment(stream, kMarkerApp1, kExifIdentifier, sizeof kExifIdentifier,
                 m.bytes[kMetadataExif], m.length[kMetadataExif]);
  }
  if (uint32_t total = m.length[kMetadataIcc]; total != 0) {
    uint32_t chunks = (total + kMaxIccChunk - 1) / kMaxIccChunk;
    for (uint32_t i = 0; i < chunks; ++i) {
      uint32_t offset = i * kMaxIccChunk;
      uint32_t n = total - offset < kMaxIccChunk ? total - offset : kMaxIccChunk;
      PutMarker(stream, kMarkerApp2);
      PutWord(stream, static_cast<int>(2 + sizeof kIccIdentifier + 2 + n));
      PutBytes(stream, kIccIdentifier, sizeof kIccIdentifier);
      PutByte(stream, static_cast<int>(i + 1));  // sequence number, from 1
      PutByte(stream, static_cast<int>(chunks));
      PutBytes(stream, m.bytes[kMetadataIcc] + offset, n);
    }
  }
  if (m.length[kMetadataXmp] != 0) {
    WriteSegment(stream, kMarkerApp1, reinterpret_cast<const uint8_t*>(kXmpIdentifier),
                 sizeof kXmpIdentifier, m.bytes[kMetadataXmp], m.length[kMetadataXmp]);
  }
  if (m.length[kMetadataComment] != 0) {
    WriteSegment(stream, kMarkerCom, nullptr, 0, m.bytes[kMetadataComment],
                 m.length[kMetadataComment]);
  }
}

}  // namespace

uint32_t MaxMetadataLength(int32_t kind) {
  switch (kind) {
    case kMetadataIcc:
      return kMaxIccChunk * kMaxIccChunks;
    case kMetadataExif:
      return kMaxSegmentLength - 2 - sizeof kExifIdentifier;
    case kMetadataXmp:
      return kMaxSegmentLength - 2 - sizeof kXmpIdentifier;
    case kMetadataComment:
      return kMaxSegmentLength - 2;
    default:
      return 0;
  }
}

int32_t WriteQuantTable(EncoderState& enc, ByteStream& stream, int32_t tableNo) {
  const QuantTable& table = *enc.quantTables[tableNo];
  int32_t precision = 0;
  for (uint16_t q : table.quantval) {
    if (q > 255) precision = 1;
  }
  PutMarker(stream, kMarkerDqt);
  PutWord(stream, precision ? 64 * 2 + 3 : 64 + 3);
  PutByte(stream, (precision << 4) + tableNo);
  uint8_t bytes[128];
  uint32_t n = 0;
  for (uint16_t q : table.quantval) {
    if (precision) bytes[n++] = static_cast<uint8_t>(q >> 8);
    bytes[n++] = static_cast<uint8_t>(q & 0xFF);
  }
  PutBytes(stream, bytes, n);
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
  PutBytes(stream, table->bits + 1, 16);
  PutBytes(stream, table->huffval, static_cast<uint32_t>(n));
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

void WriteSosSegment(ByteStream& stream, const ComponentInfo* const* components, int32_t count,
                     const ProgressiveScanParams& params) {
  PutMarker(stream, kMarkerSos);
  PutWord(stream, 6 + 2 * count);
  PutByte(stream, count);
  for (int i = 0; i < count; ++i) {
    const ComponentInfo& c = *components[i];
    int32_t dc = params.ss == 0 ? c.dcTableNo : 0;
    int32_t ac = params.se != 0 ? c.acTableNo : 0;
    PutByte(stream, c.componentId & 0xFF);
    PutByte(stream, (dc << 4) + ac);
  }
  PutByte(stream, params.ss);
  PutByte(stream, params.se);
  PutByte(stream, (params.ah << 4) + params.al);
}

void WriteRestartInterval(ByteStream& stream, const EncoderState& enc) {
  if (enc.restartInterval == 0) return;
  PutMarker(stream, kMarkerDri);
  PutWord(stream, 4);
  PutWord(stream, enc.restartInterval);
}

void WriteFileHeader(EncoderState& enc, ByteStream& stream) {
  PutMarker(stream, kMarkerSoi);
  if (enc.writeJfif) WriteJfifSegment(stream, enc);
  WriteMetadata(stream, enc.metadata);

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
  int32_t frame = baseline ? kMarkerSof0 : kMarkerSof1;
  if (enc.progressiveCoding) frame = kMarkerSof2;
  WriteFrameHeader(frame, stream, enc);
}

void WriteScanHeader(ByteStream& stream, EncoderState& enc) {
  for (int i = 0; i < enc.componentsInScan; ++i) {
    const ComponentInfo& c = *enc.scanComponents[i];
    WriteHuffmanTable(stream, enc, c.dcTableNo, 0);
    WriteHuffmanTable(stream, enc, c.acTableNo, 1);
  }
  WriteRestartInterval(stream, enc);
  WriteSosSegment(stream, enc.scanComponents, enc.componentsInScan, {0, 63, 0, 0});
}

}  // namespace iffjpeg
