// IFFControl: the host's door to the last error, the line size, the
// resolution (JFIF density), the quality and the other writing options,
// and when reading the description of the file and its metadata.
#include <cstring>

#include "common/result_codes.h"
#include "decoder/coefficient_controller.h"
#include "driver/handle_registry.h"
#include "driver/stages.h"
#include "iffjpeg.h"

namespace iffjpeg {
namespace {

constexpr int32_t kResolutionForAspectOnly = 300;

// Reads the density of the file being read, in dots per inch (JFIF 1.02:
// unit 0 gives only the aspect ratio, 1 dots per inch, 2 dots per cm).
int32_t QueryResolution(const DecoderState& dec, int32_t flags, int32_t* slots) {
  int32_t horizontal, vertical;
  switch (dec.densityUnit) {
    case 0:
      horizontal = kResolutionForAspectOnly;
      vertical = dec.xDensity == 0 ? kResolutionForAspectOnly
                                   : kResolutionForAspectOnly * dec.yDensity / dec.xDensity;
      break;
    case 1:
      horizontal = dec.xDensity;
      vertical = dec.yDensity;
      break;
    case 2:
      horizontal = static_cast<int32_t>(dec.xDensity * 2.54);
      vertical = static_cast<int32_t>(dec.yDensity * 2.54);
      break;
    default:
      return kErrVariant;
  }
  int32_t next = 0;
  if (flags & IFF_RES_HORIZONTAL) slots[next++] = horizontal;
  if (flags & IFF_RES_VERTICAL) slots[next] = vertical;
  return 0;
}

// Sets the density the JFIF segment of a file being written will carry.
void SetResolution(EncoderState& enc, int32_t flags, const int32_t* slots) {
  int32_t next = 0;
  if (flags & IFF_RES_HORIZONTAL) enc.xDensity = static_cast<uint16_t>(slots[next++]);
  if (flags & IFF_RES_VERTICAL) enc.yDensity = static_cast<uint16_t>(slots[next]);
  enc.densityUnit = 1;
}

// The headers of a written file are out once the first line call ran; a
// later change could no longer reach them, and a new quality would make the
// data disagree with the tables already in the file.
bool HeadersWritten(const IFFHandle& handle) {
  return handle.mode == IFF_MODE_WRITE && handle.headerPending == 0;
}

// Extended reading, or writing, before the first line: the memory and the
// backing store the coefficient arrays may use, in MiB.
int32_t SetWholeImageLimits(IFFHandle& handle, const void* pointer) {
  bool reading = handle.mode == IFF_MODE_READ || handle.mode == IFF_MODE_READ_NOSEEK;
  bool writing = handle.mode == IFF_MODE_WRITE;
  if (pointer == nullptr) return kErrInvalid;
  if (writing) {
    if (HeadersWritten(handle)) return kErrInvalid;
  } else {
    if (!reading || !handle.extendedReading) return kErrInvalid;
    if (handle.lineCounter != 0 || handle.decomp.coefs.begun) return kErrInvalid;
  }
  int32_t limits[2];
  std::memcpy(limits, pointer, sizeof limits);
  for (int32_t limit : limits) {
    if (limit < 1 || limit > kMaxWholeImageLimitMiB) return kErrInvalid;
  }
  if (writing) {
    handle.encoder.wholeMemoryMiB = limits[0];
    handle.encoder.wholeStoreMiB = limits[1];
  } else {
    handle.decoder.wholeMemoryMiB = limits[0];
    handle.decoder.wholeStoreMiB = limits[1];
  }
  return kOk;
}

bool ReadHandle(const IFFHandle& handle) {
  return handle.mode == IFF_MODE_READ || handle.mode == IFF_MODE_READ_NOSEEK;
}

// The description of the file being read, from the segments before its
// first scan header; at most the caller's size bytes of it.
int32_t QueryJpegInfo(const DecoderState& dec, void* pointer) {
  if (pointer == nullptr) return kErrInvalid;
  int32_t size;
  std::memcpy(&size, pointer, sizeof size);
  constexpr int32_t kSmallestRecord = 8;  // size and frameMarker
  if (size < kSmallestRecord) return kErrInvalid;
  const SegmentCollection& extras = dec.extras;
  IFFJpegInfo info{};
  info.size = size < static_cast<int32_t>(sizeof info) ? size : static_cast<int32_t>(sizeof info);
  info.frameMarker = extras.frameMarker;
  info.precision = dec.dataPrecision;
  info.components = dec.numComponents;
  info.colourModel = extras.colourModel;
  info.adobeTransform = extras.adobeTransform;
  for (int32_t c = 0; c < dec.numComponents && c < 4; ++c) {
    info.componentIds[c] = dec.components[c].componentId;
    info.hSampling[c] = dec.components[c].hSampFactor;
    info.vSampling[c] = dec.components[c].vSampFactor;
  }
  info.restartInterval = extras.restartInterval;
  info.jfifVersion = extras.jfifVersion;
  info.densityUnit = extras.densityUnit;
  info.xDensity = extras.xDensity;
  info.yDensity = extras.yDensity;
  info.orientation = extras.orientation;
  info.iccBytes = static_cast<int32_t>(MetadataBytes(extras, kMetaIcc));
  info.exifBytes = static_cast<int32_t>(MetadataBytes(extras, kMetaExif));
  info.xmpBytes = static_cast<int32_t>(MetadataBytes(extras, kMetaXmp));
  info.commentBytes = static_cast<int32_t>(MetadataBytes(extras, kMetaComment));
  std::memcpy(pointer, &info, static_cast<std::size_t>(info.size));
  return kOk;
}

// One metadata item into the caller's buffer of capacity bytes.
int32_t QueryMetadata(const DecoderState& dec, int32_t item, int32_t capacity, void* pointer) {
  if (item < IFF_META_ICC || item > IFF_META_COMMENT) return kErrInvalid;
  const auto kind = static_cast<MetadataKind>(item - IFF_META_ICC);
  uint32_t bytes = MetadataBytes(dec.extras, kind);
  if (bytes == 0) return kOk;
  if (pointer == nullptr || capacity < 0 || static_cast<uint32_t>(capacity) < bytes) {
    return kErrInvalid;
  }
  CopyMetadata(dec.extras, kind, static_cast<uint8_t*>(pointer));
  return kOk;
}

// Before any line call: the denominator of the reduced size, and the lines
// it gives; pointer (may be null) receives the scaled width and height.
int32_t SetScale(IFFHandle& handle, int32_t denominator, void* pointer) {
  if (!ReadHandle(handle) || handle.lineCallsMade) return kErrInvalid;
  if (denominator != 1 && denominator != 2 && denominator != 4 && denominator != 8) {
    return kErrInvalid;
  }
  const DecoderState& dec = handle.decoder;
  handle.scaleDenom = denominator;
  handle.decoder.scaleDenom = denominator;
  handle.width = ceilDiv(dec.imageWidth, denominator);
  handle.height = ceilDiv(dec.imageHeight, denominator);
  handle.lineStride = handle.planes * handle.width;
  handle.lineBytes = handle.lineStride;
  if (pointer != nullptr) {
    const int32_t size[2] = {handle.width, handle.height};
    std::memcpy(pointer, size, sizeof size);
  }
  return kOk;
}

// The writing options below apply to write handles before the first line.
bool SettingsOpen(const IFFHandle& handle) {
  return handle.mode == IFF_MODE_WRITE && !HeadersWritten(handle);
}

// Luminance sampling factors for IFF_CTL_SUBSAMPLING's values; the chroma
// components stay 1x1. A greyscale file keeps its one component at 1x1.
int32_t SetSubsampling(EncoderState& enc, int32_t value) {
  struct Layout {
    int32_t value;
    int16_t h, v;
  };
  static constexpr Layout kLayouts[] = {
      {0x420, 2, 2}, {0x422, 2, 1}, {0x440, 1, 2}, {0x444, 1, 1}, {0x411, 4, 1}};
  for (const Layout& layout : kLayouts) {
    if (layout.value != value) continue;
    enc.components[0].hSampFactor = layout.h;
    enc.components[0].vSampFactor = layout.v;
    return kOk;
  }
  return kErrInvalid;
}

// A copy of the host's bytes for one metadata kind (1 ICC, 2 EXIF, 3 XMP,
// 4 comment); length 0 drops the kind. The old copy goes only once the new
// one is had, so a refused call changes nothing.
int32_t SetMetadata(EncoderState& enc, int32_t kind, int32_t length, const void* pointer) {
  int32_t slot = kind - 1;
  if (slot < 0 || slot >= kMetadataKinds || length < 0) return kErrInvalid;
  if (static_cast<uint32_t>(length) > MaxMetadataLength(slot)) return kErrInvalid;
  if (length > 0 && pointer == nullptr) return kErrInvalid;
  uint8_t* copy = nullptr;
  if (length > 0) {
    copy =
        static_cast<uint8_t*>(enc.memory->allocLarge(static_cast<std::size_t>(length), enc.pool));
    if (copy == nullptr) return kErrMemory;
    std::memcpy(copy, pointer, static_cast<std::size_t>(length));
  }
  EncoderMetadata& m = enc.metadata;
  if (m.bytes[slot] != nullptr) enc.memory->freeLarge(m.bytes[slot], enc.pool);
  m.bytes[slot] = copy;
  m.length[slot] = static_cast<uint32_t>(length);
  return kOk;
}

int32_t Control(IFFHandle& handle, int32_t code, int32_t value, int32_t length, void* pointer) {
  code &= ~0x8000;
  switch (code) {
    case IFF_CTL_LAST_ERROR:
      if (pointer == nullptr) return kErrInvalid;
      std::memcpy(pointer, &handle.lastError, sizeof(int32_t));
      return 0;
    case IFF_CTL_LINE_BYTES: {
      if (pointer == nullptr) return kErrInvalid;
      auto bytes = static_cast<uint16_t>(handle.lineBytes);
      std::memcpy(pointer, &bytes, sizeof bytes);
      return 0;
    }
    case IFF_CTL_OPTION:
      handle.controlOption = static_cast<int16_t>(value);
      return 0;
    case IFF_CTL_RESOLUTION: {
      if (pointer == nullptr) return kErrInvalid;
      auto* slots = static_cast<int32_t*>(pointer);
      int32_t flags = value & 0xFFFF;
      if (handle.mode == IFF_MODE_READ) return QueryResolution(handle.decoder, flags, slots);
      if (HeadersWritten(handle)) return kErrInvalid;
      SetResolution(handle.encoder, flags, slots);
      return 0;
    }
    case IFF_CTL_QUALITY:
      if (handle.mode != IFF_MODE_WRITE || HeadersWritten(handle)) return kErrInvalid;
      return SetQuality(handle.encoder, static_cast<int16_t>(value), 0);
    case IFF_CTL_WHOLE_IMAGE_LIMITS:
      return SetWholeImageLimits(handle, pointer);
    // A failed rewind leaves the decoder half set up: its code stands.
    case IFF_CTL_JPEG_INFO:
      if (!ReadHandle(handle)) return kErrInvalid;
      if (handle.stickyError != 0) return handle.stickyError;
      return QueryJpegInfo(handle.decoder, pointer);
    case IFF_CTL_SCALE:
      return SetScale(handle, static_cast<int16_t>(value), pointer);
    case IFF_CTL_SUBSAMPLING:
      if (!SettingsOpen(handle)) return kErrInvalid;
      return SetSubsampling(handle.encoder, value & 0xFFFF);
    case IFF_CTL_RESTART:
      if (!SettingsOpen(handle)) return kErrInvalid;
      handle.encoder.restartInterval = static_cast<uint16_t>(value & 0xFFFF);
      return kOk;
    case IFF_CTL_OPTIMIZE:
      if (!SettingsOpen(handle) || (value & 0xFFFF) > 1) return kErrInvalid;
      handle.encoder.optimizeCoding = value & 0xFFFF;
      return kOk;
    case IFF_CTL_PROGRESSIVE:
      if (!SettingsOpen(handle) || (value & 0xFFFF) > 1) return kErrInvalid;
      handle.encoder.progressiveCoding = value & 0xFFFF;
      return kOk;
    case IFF_CTL_METADATA:
      // Reading: length is the capacity of the buffer; writing: the length
      // of the item.
      if (ReadHandle(handle)) {
        if (handle.stickyError != 0) return handle.stickyError;
        return QueryMetadata(handle.decoder, static_cast<int16_t>(value), length, pointer);
      }
      if (handle.mode != IFF_MODE_WRITE) return kErrUnsupported;
      if (HeadersWritten(handle)) return kErrInvalid;
      return SetMetadata(handle.encoder, value & 0xFFFF, length, pointer);
    default:
      return kErrUnsupported;
  }
}

}  // namespace
}  // namespace iffjpeg

extern "C" IFFJPEG_API int32_t IFFControl(int32_t value, int32_t code, int32_t argument,
                                          int32_t length, void* pointer) {
  iffjpeg::IFFHandle* handle = iffjpeg::LookUpHandle(value);
  if (handle == nullptr) return iffjpeg::kErrInvalid;
  return iffjpeg::Control(*handle, code, argument, length, pointer);
}
