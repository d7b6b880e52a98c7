#include "format/segment_collection.h"

#include <cstring>

#include "common/result_codes.h"
#include "decoder/decoder_state.h"
#include "format/jpeg_records.h"
#include "stream/byte_stream.h"

namespace iffjpeg {
namespace {

constexpr uint8_t kExifId[] = {'E', 'x', 'i', 'f', 0, 0};
constexpr char kXmpId[] = "http://ns.adobe.com/xap/1.0/";  // with its terminating zero
constexpr char kIccId[] = "ICC_PROFILE";                   // with its terminating zero
constexpr int32_t kExifIdBytes = sizeof kExifId;
constexpr int32_t kXmpIdBytes = sizeof kXmpId;
constexpr int32_t kIccIdBytes = sizeof kIccId;
constexpr int32_t kIccHeaderBytes = kIccIdBytes + 2;  // sequence number, count
constexpr int32_t kMaxIccChunks = 255;
constexpr uint32_t kCommentFirstCapacity = 4096;
constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kTypeShort = 3;

uint8_t* ChunkData(MetadataChunk* chunk) { return reinterpret_cast<uint8_t*>(chunk + 1); }

// count bytes of the stream into out, as count ReadByte calls would give
// them, copied from the buffer where it holds them.
void ReadInto(ByteStream& stream, uint8_t* out, int32_t count) {
  while (count > 0) {
    if (stream.byteCount == 0) {
      *out++ = static_cast<uint8_t>(FillBuffer(stream));
      --count;
      continue;
    }
    uint32_t take = stream.byteCount < static_cast<uint32_t>(count) ? stream.byteCount
                                                                    : static_cast<uint32_t>(count);
    std::memcpy(out, stream.cursor, take);
    stream.cursor += take;
    stream.byteCount -= take;
    out += take;
    count -= static_cast<int32_t>(take);
  }
}

void Skip(ByteStream& stream, int32_t count) {
  for (int32_t i = 0; i < count; ++i) ReadByte(stream);
}

void Drop(DecoderState& dec, MetadataItem& item) {
  for (MetadataChunk* chunk = item.first; chunk != nullptr;) {
    MetadataChunk* next = chunk->next;
    dec.memory->freeLarge(chunk, dec.pool);
    chunk = next;
  }
  item.first = item.last = nullptr;
  item.bytes = 0;
  item.chunks = 0;
  item.state = MetadataState::kDropped;
}

// Passes over count bytes; kOk.
int32_t Pass(ByteStream& stream, int32_t count) {
  Skip(stream, count);
  return kOk;
}

// Keeps the next count bytes of the stream as a chunk of item; the bytes are
// passed over when the item is dropped or would grow above the limit (it
// is dropped then). kErrMemory when the chunk cannot be had.
int32_t KeepChunk(ByteStream& stream, DecoderState& dec, MetadataItem& item, int32_t count,
                  int32_t sequence, int32_t chunkCount) {
  if (item.state == MetadataState::kDropped) return Pass(stream, count);
  if (item.bytes + static_cast<uint32_t>(count) > kMaxMetadataBytes) {
    Drop(dec, item);
    return Pass(stream, count);
  }
  auto bytes = static_cast<uint32_t>(count);
  auto* chunk =
      static_cast<MetadataChunk*>(dec.memory->allocLarge(sizeof(MetadataChunk) + bytes, dec.pool));
  if (chunk == nullptr) return kErrMemory;
  chunk->next = nullptr;
  chunk->bytes = bytes;
  chunk->capacity = bytes;
  chunk->sequence = sequence;
  chunk->count = chunkCount;
  ReadInto(stream, ChunkData(chunk), count);
  if (item.last != nullptr) {
    item.last->next = chunk;
  } else {
    item.first = chunk;
  }
  item.last = chunk;
  item.bytes += bytes;
  ++item.chunks;
  item.state = MetadataState::kPresent;
  return kOk;
}

// Comments are joined: appended to the last chunk while it has room, else
// to a new one of at least twice the bytes so far, so that many small COM
// segments cost a few blocks, not one each.
int32_t AppendComment(ByteStream& stream, DecoderState& dec, int32_t count) {
  MetadataItem& item = dec.extras.items[kMetaComment];
  if (item.state == MetadataState::kDropped) return Pass(stream, count);
  auto bytes = static_cast<uint32_t>(count);
  if (item.bytes + bytes > kMaxMetadataBytes) {
    Drop(dec, item);
    return Pass(stream, count);
  }
  MetadataChunk* last = item.last;
  if (last == nullptr || last->capacity - last->bytes < bytes) {
    uint32_t capacity = item.bytes < kCommentFirstCapacity ? kCommentFirstCapacity : 2 * item.bytes;
    if (capacity > kMaxMetadataBytes - item.bytes) capacity = kMaxMetadataBytes - item.bytes;
    if (capacity < bytes) capacity = bytes;
    auto* chunk = static_cast<MetadataChunk*>(
        dec.memory->allocLarge(sizeof(MetadataChunk) + capacity, dec.pool));
    if (chunk == nullptr) return kErrMemory;
    std::memset(chunk, 0, sizeof *chunk);
    chunk->capacity = capacity;
    if (last != nullptr) {
      last->next = chunk;
    } else {
      item.first = chunk;
    }
    item.last = last = chunk;
    ++item.chunks;
  }
  ReadInto(stream, ChunkData(last) + last->bytes, count);
  last->bytes += bytes;
  item.bytes += bytes;
  item.state = MetadataState::kPresent;
  return kOk;
}

// ICC profile chunks (ICC.1 Annex B.4): each names its sequence number
// (from 1) and the number of chunks; all must agree, every number from 1 to
// the count must come exactly once. The list is put in sequence order.
void OrderIccChunks(DecoderState& dec) {
  MetadataItem& item = dec.extras.items[kMetaIcc];
  if (item.state != MetadataState::kPresent) return;
  MetadataChunk* bySequence[kMaxIccChunks + 1] = {};
  const int32_t count = item.first->count;
  bool consistent = count >= 1 && item.chunks == count;
  for (MetadataChunk* chunk = item.first; consistent && chunk != nullptr; chunk = chunk->next) {
    int32_t n = chunk->sequence;
    consistent = chunk->count == count && n >= 1 && n <= count && bySequence[n] == nullptr;
    if (consistent) bySequence[n] = chunk;
  }
  if (!consistent) return Drop(dec, item);
  item.first = bySequence[1];
  for (int32_t n = 1; n < count; ++n) bySequence[n]->next = bySequence[n + 1];
  bySequence[count]->next = nullptr;
  item.last = bySequence[count];
}

int32_t ColourModelCode(int32_t colourSpace) {
  switch (colourSpace) {
    case kColourGrey:
      return 1;
    case kColourRgb:
      return 2;
    case kColourYcc:
      return 3;
    case kColourFour:
    case kColourCmyk:
      return 5;
    case kColourYcck:
      return 6;
    default:
      return 0;
  }
}

// A reader of a TIFF structure's integers that refuses anything outside it.
struct TiffReader {
  const uint8_t* data;
  uint64_t size;
  bool bigEndian;

  bool Word(uint64_t at, uint32_t& value) const {
    if (at > size || size - at < 2) return false;
    uint32_t first = data[at], second = data[at + 1];
    value = bigEndian ? (first << 8) | second : first | (second << 8);
    return true;
  }
  bool Long(uint64_t at, uint32_t& value) const {
    uint32_t first, second;
    if (!Word(at, first) || !Word(at + 2, second)) return false;
    value = bigEndian ? (first << 16) | second : first | (second << 16);
    return true;
  }
};

}  // namespace

int32_t ExifOrientation(const uint8_t* tiff, std::size_t size) {
  if (tiff == nullptr || size < 8) return 0;
  TiffReader reader{tiff, size, false};
  if (tiff[0] == 'M' && tiff[1] == 'M') {
    reader.bigEndian = true;
  } else if (tiff[0] != 'I' || tiff[1] != 'I') {
    return 0;
  }
  uint32_t magic, ifd, entries;
  if (!reader.Word(2, magic) || magic != 42 || !reader.Long(4, ifd)) return 0;
  if (!reader.Word(ifd, entries)) return 0;
  // An IFD whose entries do not all fit is damaged: none of it is trusted.
  if (uint64_t{ifd} + 2 + 12 * uint64_t{entries} > reader.size) return 0;
  // Each 12-byte entry: tag, type, count, value or offset (TIFF 6.0 IFD).
  for (uint32_t i = 0; i < entries; ++i) {
    uint64_t entry = uint64_t{ifd} + 2 + 12 * uint64_t{i};
    uint32_t tag, type, count, value;
    if (!reader.Word(entry, tag) || !reader.Word(entry + 2, type) ||
        !reader.Long(entry + 4, count) || !reader.Word(entry + 8, value)) {
      return 0;
    }
    if (tag != kOrientationTag) continue;
    if (type != kTypeShort || count != 1) return 0;
    return value >= 1 && value <= 8 ? static_cast<int32_t>(value) : 0;
  }
  return 0;
}

int32_t ReadApp1Segment(ByteStream& stream, DecoderState& dec) {
  int32_t remaining = ReadWord(stream) - 2;
  SegmentCollection& extras = dec.extras;
  if (extras.closed || remaining < kExifIdBytes) return Pass(stream, remaining);
  uint8_t id[kXmpIdBytes];
  ReadInto(stream, id, kExifIdBytes);
  remaining -= kExifIdBytes;
  if (std::memcmp(id, kExifId, kExifIdBytes) == 0) {
    MetadataItem& exif = extras.items[kMetaExif];
    if (exif.state != MetadataState::kAbsent) return Pass(stream, remaining);
    return KeepChunk(stream, dec, exif, remaining, 0, 0);
  }
  const int32_t rest = kXmpIdBytes - kExifIdBytes;
  if (remaining < rest) return Pass(stream, remaining);
  ReadInto(stream, id + kExifIdBytes, rest);
  remaining -= rest;
  MetadataItem& xmp = extras.items[kMetaXmp];
  if (std::memcmp(id, kXmpId, kXmpIdBytes) != 0 || xmp.state != MetadataState::kAbsent) {
    return Pass(stream, remaining);
  }
  return KeepChunk(stream, dec, xmp, remaining, 0, 0);
}

int32_t ReadApp2Segment(ByteStream& stream, DecoderState& dec) {
  int32_t remaining = ReadWord(stream) - 2;
  if (dec.extras.closed || remaining < kIccHeaderBytes) return Pass(stream, remaining);
  uint8_t header[kIccHeaderBytes];
  ReadInto(stream, header, kIccHeaderBytes);
  remaining -= kIccHeaderBytes;
  if (std::memcmp(header, kIccId, kIccIdBytes) != 0) return Pass(stream, remaining);
  MetadataItem& icc = dec.extras.items[kMetaIcc];
  // More chunks than a count can name cannot all be distinct.
  if (icc.chunks >= kMaxIccChunks && icc.state == MetadataState::kPresent) Drop(dec, icc);
  return KeepChunk(stream, dec, icc, remaining, header[kIccIdBytes], header[kIccIdBytes + 1]);
}

int32_t ReadCommentSegment(ByteStream& stream, DecoderState& dec) {
  int32_t remaining = ReadWord(stream) - 2;
  if (dec.extras.closed || remaining <= 0) return Pass(stream, remaining);
  return AppendComment(stream, dec, remaining);
}

void NoteAdobeSegment(ByteStream& stream, DecoderState& dec) {
  int32_t remaining = ReadWord(stream) - 2;
  constexpr int32_t kTransformAt = 11;
  if (dec.extras.closed || dec.extras.adobeTransform >= 0 || remaining <= kTransformAt) {
    return Skip(stream, remaining);
  }
  uint8_t b[kTransformAt + 1];
  ReadInto(stream, b, kTransformAt + 1);
  remaining -= kTransformAt + 1;
  if (std::memcmp(b, "Adobe", 5) == 0) dec.extras.adobeTransform = b[kTransformAt];
  Skip(stream, remaining);
}

void CloseSegmentCollection(DecoderState& dec) {
  SegmentCollection& extras = dec.extras;
  if (extras.closed) return;
  extras.closed = 1;
  OrderIccChunks(dec);
  if (dec.extendedReading) extras.adobeTransform = dec.adobeTransform;
  extras.colourModel = ColourModelCode(dec.jpegColourSpace);
  extras.restartInterval = dec.restartInterval;
  if (dec.jfifSeen) {
    extras.densityUnit = dec.densityUnit;
    extras.xDensity = dec.xDensity;
    extras.yDensity = dec.yDensity;
  } else {
    extras.jfifVersion = 0;
  }
  const MetadataItem& exif = extras.items[kMetaExif];
  if (exif.state == MetadataState::kPresent) {
    extras.orientation = ExifOrientation(ChunkBytes(exif.first), exif.bytes);
  }
}

uint32_t MetadataBytes(const SegmentCollection& extras, MetadataKind kind) {
  const MetadataItem& item = extras.items[kind];
  return item.state == MetadataState::kPresent ? item.bytes : 0;
}

void CopyMetadata(const SegmentCollection& extras, MetadataKind kind, uint8_t* out) {
  if (MetadataBytes(extras, kind) == 0) return;
  for (const MetadataChunk* chunk = extras.items[kind].first; chunk != nullptr;
       chunk = chunk->next) {
    std::memcpy(out, ChunkBytes(chunk), chunk->bytes);
    out += chunk->bytes;
  }
}

}  // namespace iffjpeg
