// What a host may ask of a file besides its samples: the metadata segments
// before the first scan header (ICC profile chunks in APP2, EXIF and XMP in
// APP1, comments in COM), and the values of the frame, the JFIF and Adobe
// segments as they stood when the first scan began. A segment that cannot
// be kept (too large, inconsistent) makes its item absent; only memory that
// cannot be had fails the file (5), as a table that cannot be had does.
#pragma once

#include <cstddef>
#include <cstdint>

namespace iffjpeg {

struct ByteStream;
struct DecoderState;

enum MetadataKind : int32_t {
  kMetaIcc = 0,
  kMetaExif = 1,
  kMetaXmp = 2,
  kMetaComment = 3,
  kMetaKinds = 4,
};

// An item above this many bytes is treated as absent.
inline constexpr uint32_t kMaxMetadataBytes = 16u << 20;

// One kept segment payload; its bytes follow the record in the same block.
struct MetadataChunk {
  MetadataChunk* next;
  uint32_t bytes;
  uint32_t capacity;
  int32_t sequence;  // ICC: the chunk's sequence number; else 0
  int32_t count;     // ICC: the number of chunks it declares; else 0
};

enum class MetadataState : int32_t { kAbsent = 0, kPresent = 1, kDropped = 2 };

struct MetadataItem {
  MetadataChunk* first;
  MetadataChunk* last;
  uint32_t bytes;
  int32_t chunks;
  MetadataState state;
};

struct SegmentCollection {
  MetadataItem items[kMetaKinds];
  // Set at the first scan header: later segments are not collected, and the
  // values below are final.
  int32_t closed;
  int32_t frameMarker;
  int32_t jfifVersion;
  // The first Adobe segment's transform, in either reading mode (the colour
  // model uses it in extended reading only); -1 without one.
  int32_t adobeTransform;
  int32_t colourModel;  // the IFFJpegInfo code of the model the handle uses
  int32_t restartInterval;
  int32_t densityUnit;
  int32_t xDensity;
  int32_t yDensity;
  int32_t orientation;
};

inline const uint8_t* ChunkBytes(const MetadataChunk* chunk) {
  return reinterpret_cast<const uint8_t*>(chunk + 1);
}

// Segment readers, each starting at the segment's length field and reading
// exactly the bytes a skipped segment would. kOk, or kErrMemory when a
// payload to keep cannot be allocated.
int32_t ReadApp1Segment(ByteStream& stream, DecoderState& dec);
int32_t ReadApp2Segment(ByteStream& stream, DecoderState& dec);
int32_t ReadCommentSegment(ByteStream& stream, DecoderState& dec);
// Default reading: records the Adobe transform for the description only.
void NoteAdobeSegment(ByteStream& stream, DecoderState& dec);

// At the first scan header: checks and orders the ICC chunks, reads the
// orientation, and takes the values the description reports.
void CloseSegmentCollection(DecoderState& dec);

// The size of an item (0 when absent), and a copy of it into out, which
// must hold that many bytes.
uint32_t MetadataBytes(const SegmentCollection& extras, MetadataKind kind);
void CopyMetadata(const SegmentCollection& extras, MetadataKind kind, uint8_t* out);

// EXIF orientation (tag 0x0112 in IFD0) of a TIFF structure in either byte
// order; 1..8, or 0 when absent, out of range, or not readable inside the
// bytes given. Reads IFD0 only and every offset is checked against size.
int32_t ExifOrientation(const uint8_t* tiff, std::size_t size);

}  // namespace iffjpeg
