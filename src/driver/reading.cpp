#include "driver/reading.h"

#include <cstring>

#include "common/result_codes.h"
#include "decoder/coefficient_controller.h"
#include "decoder/whole_image_controller.h"
#include "driver/stages.h"
#include "iffjpeg.h"
#include "stream/byte_stream.h"

namespace iffjpeg {
namespace {

// Steps 3 to 6 of opening for reading: bind and default the decoder, read
// the header up to the first scan, choose the output colour space, set up
// the decompression and start it.
int32_t StartDecoder(IFFHandle& handle) {
  DecoderState& dec = handle.decoder;
  std::memset(&dec, 0, sizeof dec);
  std::memset(&handle.decomp, 0, sizeof handle.decomp);
  std::memset(&handle.bitReader, 0, sizeof handle.bitReader);
  handle.stream.dataEnded = 0;
  dec.extendedReading = handle.extendedReading;
  dec.scaleDenom = handle.scaleDenom > 1 ? handle.scaleDenom : 1;
  dec.methods = &handle.decoderMethods;
  dec.memory = &handle.memoryTable;
  std::memset(&handle.decoderMethods, 0, sizeof handle.decoderMethods);
  std::memset(&handle.memoryTable, 0, sizeof handle.memoryTable);
  installMemoryManager(handle.memoryTable, dec.pool);
  SetDecompressDefaults(dec);

  int32_t rc = ReadFileHeader(handle.stream, dec);
  if (rc == 0) rc = ReadToFirstScan(handle.stream, dec);
  if (rc != 0) return rc;
  if (dec.jpegColourSpace == kColourGrey) dec.outputColourSpace = kColourGrey;
  rc = PrepareDecompress(dec);
  if (rc == 0) rc = DecompressControl(handle, dec, kPipelineStart);
  if (rc != 0) return rc;

  handle.height = ceilDiv(dec.imageHeight, dec.scaleDenom);
  handle.width = ceilDiv(dec.imageWidth, dec.scaleDenom);
  handle.bitsPerSample = 8;
  handle.planes = dec.jpegColourSpace == kColourGrey ? 1 : 3;
  return 0;
}

}  // namespace

int32_t OpenForReading(IFFHandle& handle, const void* source) {
  handle.stream.fileId =
      handle.stream.fileOps.open(source, IFF_OPEN_FLAGS_READ, IFF_OPEN_PERMISSION);
  if (handle.stream.fileId < 0) return handle.lastError = kErrOpen;
  if (AllocateStreamBuffer(handle.stream, kStreamBufferSize) != 0)
    return handle.lastError = kErrMemory;
  return handle.lastError = StartDecoder(handle);
}

int32_t RewindForReading(IFFHandle& handle) {
  if (handle.stream.fileOps.seek == nullptr ||
      handle.stream.fileOps.seek(handle.stream.fileId, 0, 0) < 0) {
    return handle.lastError = kErrUnsupported;
  }
  // A multi-scan file was decoded whole at open: serving its lines again
  // from the top needs no second pass over the file.
  if (handle.decoderMethods.controller == ControllerKind::kWholeImage && handle.stickyError == 0) {
    RestartWholeImageLines(handle);
    handle.lineCounter = 0;
    return handle.lastError = 0;
  }
  // Extended reading keeps every scan's coefficients: the output pass runs
  // again from them.
  if (handle.decoderMethods.controller == ControllerKind::kCoefficients &&
      handle.stickyError == 0) {
    RestartCoefficientLines(handle);
    handle.lineCounter = 0;
    return handle.lastError = 0;
  }
  if (handle.memoryTable.freeAll != nullptr) handle.memoryTable.freeAll(handle.decoder.pool);
  handle.stream.cursor = handle.stream.bufferStart;
  handle.stream.byteCount = 0;
  handle.lineCounter = 0;
  int32_t width = handle.width, height = handle.height, planes = handle.planes;
  int32_t rc = StartDecoder(handle);
  if (rc == 0 && (handle.width != width || handle.height != height || handle.planes != planes)) {
    rc = kErrBadData;  // the file changed underneath: its lines no longer fit the host's buffers
  }
  if (rc != 0) handle.stickyError = rc;
  return handle.lastError = rc;
}

}  // namespace iffjpeg
