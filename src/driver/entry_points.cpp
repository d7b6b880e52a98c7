// The exported entry points IFFOpen, IFFClose, IFFGetLine, IFFPutLine and
// IFFSeek. IFFControl lives in control.cpp.
#include <cstring>

#include "common/result_codes.h"
#include "decoder/scaled_output.h"
#include "driver/handle_registry.h"
#include "driver/reading.h"
#include "driver/stages.h"
#include "iffjpeg.h"
#include "platform/platform.h"
#include "stream/byte_stream.h"

namespace iffjpeg {
namespace {

constexpr int32_t kMaxFrameDimension = 65535;  // the frame header holds 16 bits
constexpr uint64_t kPrepareBufferFrom = uint64_t{1} << 20;

void ReleaseCodecMemory(IFFHandle& handle) {
  if (handle.memoryTable.freeAll == nullptr) return;
  // Whichever record the table was installed for holds the lists.
  if (handle.decoder.memory != nullptr) handle.memoryTable.freeAll(handle.decoder.pool);
  if (handle.encoder.memory != nullptr) handle.memoryTable.freeAll(handle.encoder.pool);
}

// Releases what a failed open acquired, handle included.
void DiscardHandle(IFFHandle* handle) {
  if (handle->stream.fileId >= 0) handle->stream.fileOps.close(handle->stream.fileId);
  ReleaseStreamBuffer(handle->stream);
  ReleaseCodecMemory(*handle);
  platform::HeapFree(handle);
}

int32_t OpenForWriting(IFFHandle& handle, const void* source) {
  if (handle.mode != IFF_MODE_WRITE) {
    handle.lastError = kErrUnsupported;
    return kErrUnsupported;
  }
  handle.stream.fileId =
      handle.stream.fileOps.open(source, IFF_OPEN_FLAGS_WRITE, IFF_OPEN_PERMISSION);
  if (handle.stream.fileId < 0) return kErrOpen;

  EncoderState& enc = handle.encoder;
  enc.methods = &handle.encoderMethods;
  enc.memory = &handle.memoryTable;
  std::memset(&handle.encoderMethods, 0, sizeof handle.encoderMethods);
  std::memset(&handle.memoryTable, 0, sizeof handle.memoryTable);
  installMemoryManager(handle.memoryTable, enc.pool);

  handle.lastError = SetCompressDefaults(enc, 75, 0);
  if (handle.lastError != 0) return handle.lastError;

  if (handle.planes == 1) {
    enc.inputColourSpace = kColourGrey;
    enc.inputComponents = 1;
  } else {
    enc.inputColourSpace = kColourRgb;
    enc.inputComponents = 3;
  }
  if (AllocateStreamBuffer(handle.stream, kStreamBufferSize) != 0) return kErrMemory;
  enc.imageWidth = handle.width;
  enc.imageHeight = handle.height;
  enc.dataPrecision = 8;
  handle.headerPending = 1;
  return 0;
}

int32_t CheckWriteDescription(const IFFImageInfo& info) {
  if (info.planes != 1 && info.planes != 3) return kErrUnsupported;
  if (info.bitsPerSample != 8) return kErrUnsupported;
  if (info.compression >= 2 && info.compression <= 7) return kErrUnsupported;
  if (info.compression > 8) return kErrInvalid;
  if (info.width <= 0 || info.width > kMaxFrameDimension) return kErrInvalid;
  if (info.height <= 0 || info.height > kMaxFrameDimension) return kErrInvalid;
  return 0;
}

// The headers of a written file, at the first IFFPutLine.
int32_t WriteHeaders(IFFHandle& handle) {
  EncoderState& enc = handle.encoder;
  if (enc.inputColourSpace == kColourGrey) {
    enc.jpegColourSpace = kColourGrey;
    enc.numComponents = 1;
    enc.components[0].hSampFactor = 1;
    enc.components[0].vSampFactor = 1;
  }
  handle.lastError = PrepareCompression(handle, enc);
  if (handle.lastError != 0) return handle.lastError;
  handle.stream.lineCode = 0;
  WriteFileHeader(enc, handle.stream);
  handle.lastError = RunCompressPipeline(handle, enc, kPipelineStart);
  if (handle.lastError == 0 && handle.stream.lineCode != 0)
    handle.lastError = handle.stream.lineCode;
  if (handle.lastError != 0) {
    // The file header is out: a retry would write it a second time, so the
    // handle is failed for good.
    handle.stickyError = handle.lastError;
    return handle.lastError;
  }
  handle.headerPending = 0;
  return 0;
}

bool IsReadMode(int32_t mode) { return mode == IFF_MODE_READ || mode == IFF_MODE_READ_NOSEEK; }

}  // namespace

namespace {

int32_t DecodeFullLine(IFFHandle& handle, uint8_t* line) {
  handle.currentLine = line;
  handle.stream.lineCode = 0;
  int32_t rc = DecompressControl(handle, handle.decoder, kPipelineLine);
  if (rc == 0) rc = handle.stream.lineCode;
  return rc;
}

}  // namespace

// One line through the decompression controller; a code the stream buffer
// or the Huffman decoder recorded during the line becomes the line's result.
// At a scale, the whole-image controller's samples, decoded at full size
// when the file was opened, are averaged; the other controllers decode at
// the reduced size.
int32_t DecodeOneLine(IFFHandle& handle, uint8_t* line) {
  int32_t rc;
  if (handle.decoder.scaleDenom > 1 &&
      handle.decoderMethods.controller == ControllerKind::kWholeImage) {
    rc = AverageFullLines(handle, line, DecodeFullLine);
  } else {
    rc = DecodeFullLine(handle, line);
  }
  handle.lastError = rc;
  return rc;
}

}  // namespace iffjpeg

using namespace iffjpeg;

extern "C" IFFJPEG_API int32_t IFFOpen(const void* source, int32_t mode, IFFImageInfo* info) {
  if (source == nullptr || info == nullptr) return -kErrInvalid;
  auto* handle = static_cast<IFFHandle*>(platform::HeapAllocZeroed(sizeof(IFFHandle)));
  if (handle == nullptr) return -kErrMemory;

  IFFFileOps fileOps;
  if (mode & IFF_MODE_CALLBACKS) {
    std::memcpy(&fileOps, source, sizeof(IFFFileOps));
    mode &= ~IFF_MODE_CALLBACKS;
  } else {
    fileOps = platform::DefaultFileOps();
  }
  PrepareHandle(*handle, fileOps);
  info->clearedOnOpen = 0;
  // Extended reading is opt-in and applies to the read modes only; with a
  // write mode the flag leaves a mode above 3, refused as such below.
  const int32_t extended = mode & IFF_MODE_EXTENDED;
  handle->mode = mode & 0x7FFF;
  if (extended && IsReadMode(handle->mode & ~IFF_MODE_EXTENDED)) {
    handle->mode &= ~IFF_MODE_EXTENDED;
    handle->extendedReading = 1;
  }
  handle->source = source;

  int32_t rc;
  if (IsReadMode(handle->mode)) {
    rc = OpenForReading(*handle, source);
    if (rc == 0) {
      info->width = handle->width;
      info->height = handle->height;
      info->bitsPerSample = handle->bitsPerSample;
      info->planes = handle->planes;
      info->compression = 1;
    }
  } else if (handle->mode == IFF_MODE_WRITE || handle->mode == IFF_MODE_REFUSED) {
    rc = CheckWriteDescription(*info);
    if (rc == 0) {
      handle->width = info->width;
      handle->height = info->height;
      handle->planes = info->planes;
      handle->bitsPerSample = info->bitsPerSample;
      rc = OpenForWriting(*handle, source);
    }
  } else {
    rc = kErrUnsupported;  // modes 4 and above: refused before any file is touched
  }
  if (rc == 0) {
    handle->lineStride =
        handle->planes == 3 ? 3 * handle->width : ((handle->bitsPerSample + 7) / 8) * handle->width;
    handle->lineBytes = handle->lineStride;
    int32_t value = RegisterHandle(handle);
    if (value > 0) return value;
    rc = kErrMemory;  // every handle slot is in use
  }
  DiscardHandle(handle);
  return -rc;
}

extern "C" IFFJPEG_API int32_t IFFGetLine(int32_t value, uint32_t count, uint8_t* lines) {
  IFFHandle* handle = LookUpHandle(value);
  if (handle == nullptr || !IsReadMode(handle->mode)) return kErrInvalid;
  // A live handle records every result, refusals included, so that
  // IFFControl code 0 reports what the host was last told.
  handle->lineCallsMade = 1;
  if (count > 0 && lines == nullptr) return handle->lastError = kErrInvalid;
  if (handle->stickyError != 0) return handle->stickyError;
  // A host that takes many lines at once mostly hands over a fresh
  // buffer, whose pages would otherwise arrive one fault at a time as the
  // lines are written.
  const uint64_t bytes = uint64_t{count} * static_cast<uint64_t>(handle->lineStride);
  if (bytes >= kPrepareBufferFrom)
    platform::PrepareForWriting(lines, static_cast<std::size_t>(bytes));
  for (uint32_t i = 0; i < count; ++i) {
    int32_t rc = DecodeOneLine(*handle, lines);
    if (rc == kErrDataEnded) ++handle->lineCounter;  // the line was still delivered
    if (rc != 0) return rc;
    ++handle->lineCounter;
    lines += handle->lineStride;
  }
  return 0;
}

extern "C" IFFJPEG_API int32_t IFFPutLine(int32_t value, uint32_t count, const uint8_t* lines) {
  IFFHandle* handle = LookUpHandle(value);
  if (handle == nullptr || handle->mode != IFF_MODE_WRITE) return kErrInvalid;
  if (count > 0 && lines == nullptr) return handle->lastError = kErrInvalid;
  if (handle->stickyError != 0) return handle->stickyError;
  handle->lastError = kOk;  // an earlier refusal does not stop these lines
  if (handle->headerPending) {
    int32_t rc = WriteHeaders(*handle);
    if (rc != 0) return rc;
  }
  for (uint32_t i = 0; i < count && handle->lastError == 0; ++i) {
    handle->currentLine = const_cast<uint8_t*>(lines);
    handle->stream.lineCode = 0;
    int32_t rc = RunCompressPipeline(*handle, handle->encoder, kPipelineLine);
    ++handle->lineCounter;
    lines += handle->lineStride;
    if (rc == 0) rc = handle->stream.lineCode;
    handle->lastError = rc;
    // Bytes already lost cannot be recovered: the file is failed for good.
    if (rc == kErrWrite) handle->stickyError = kErrWrite;
  }
  return handle->lastError;
}

extern "C" IFFJPEG_API int32_t IFFSeek(int32_t value, int32_t target) {
  IFFHandle* handle = LookUpHandle(value);
  if (handle == nullptr || handle->mode != IFF_MODE_READ) return kErrInvalid;
  handle->lineCallsMade = 1;
  if (target < 0) return kErrInvalid;
  if (handle->stickyError != 0) return handle->stickyError;
  handle->lastError = 0;
  if (target == handle->lineCounter) return 0;
  if (target < handle->lineCounter) {
    int32_t rc = RewindForReading(*handle);
    if (rc != 0) return rc;
  }
  while (handle->lineCounter < target) {
    int32_t rc = DecodeOneLine(*handle, nullptr);
    if (rc == kErrDataEnded) ++handle->lineCounter;
    if (rc != 0) return rc;
    ++handle->lineCounter;
  }
  return 0;
}

extern "C" IFFJPEG_API int32_t IFFClose(int32_t value) {
  IFFHandle* handle = UnregisterHandle(value);
  if (handle == nullptr) return kErrInvalid;
  if (handle->mode == IFF_MODE_WRITE) {
    if (handle->headerPending) {
      ReleaseCodecMemory(*handle);
    } else {
      // The sequential finish always succeeds; tables built for the image
      // code the whole image here and may fail.
      int32_t rc = RunCompressPipeline(*handle, handle->encoder, kPipelineFinish);
      if (rc != 0) handle->lastError = rc;
      RunCompressPipeline(*handle, handle->encoder, kPipelineRelease);
    }
    PutMarker(handle->stream, 0xD9);
    FlushBuffer(handle->stream);
    if (handle->stickyError != 0) handle->lastError = handle->stickyError;
  } else {
    // After a failed rewind the decoder is half set up: only release it.
    if (handle->stickyError == 0) {
      DecompressControl(*handle, handle->decoder, kPipelineFinish);
      DecompressControl(*handle, handle->decoder, kPipelineRelease);
    }
    ReleaseCodecMemory(*handle);
  }
  int32_t result = handle->lastError;
  ReleaseStreamBuffer(handle->stream);
  int32_t closed =
      handle->stream.fileId >= 0 ? handle->stream.fileOps.close(handle->stream.fileId) : 0;
  platform::HeapFree(handle);
  return closed != 0 ? kErrClose : result;
}
