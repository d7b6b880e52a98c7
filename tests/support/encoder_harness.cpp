#include "support/encoder_harness.h"

#include <cstring>

#include "driver/handle_registry.h"
#include "driver/stages.h"
#include "platform/platform.h"
#include "stream/byte_stream.h"

namespace iffjpeg_test {

using namespace iffjpeg;

EncoderHarness::EncoderHarness()
    : handle_(static_cast<IFFHandle*>(platform::HeapAllocZeroed(sizeof(IFFHandle)))) {
  PrepareHandle(*handle_, IFFFileOps{});
  EncoderState& enc = handle_->encoder;
  enc.methods = &handle_->encoderMethods;
  enc.memory = &handle_->memoryTable;
  installMemoryManager(handle_->memoryTable, enc.pool);
  handle_->stream.fileId = -1;
  AllocateStreamBuffer(handle_->stream, kStreamBufferSize);
}

EncoderHarness::~EncoderHarness() {
  handle_->memoryTable.freeAll(handle_->encoder.pool);
  ReleaseStreamBuffer(handle_->stream);
  platform::HeapFree(handle_);
}

std::vector<uint8_t> EncoderHarness::bytes() const {
  return std::vector<uint8_t>(handle_->stream.bufferStart, handle_->stream.cursor);
}

void EncoderHarness::clearBytes() {
  handle_->stream.cursor = handle_->stream.bufferStart;
  handle_->stream.byteCount = 0;
}

int32_t EncodeImage(const Image& img, MemoryFile& file, const EncodeOptions& options) {
  IFFImageInfo info{};
  info.width = img.width;
  info.height = img.height;
  info.planes = img.channels;
  info.bitsPerSample = 8;
  int32_t h = IFFOpen(file.source(), IFF_MODE_WRITE | IFF_MODE_CALLBACKS, &info);
  if (h <= 0) return h;
  if (options.quality != 75) {
    int32_t rc = SetQuality(LookUpHandle(h)->encoder, options.quality, 0);
    if (rc != 0) {
      IFFClose(h);
      return rc;
    }
  }
  for (auto [code, value] : options.controls) {
    int32_t rc = IFFControl(h, code, value, 0, nullptr);
    if (rc != 0) {
      IFFClose(h);
      return rc;
    }
  }
  std::vector<uint8_t> extra(static_cast<std::size_t>(img.width) * img.channels, 0x55);
  int32_t rc = 0;
  for (int y = 0; y < img.height && rc == 0; y += options.linesPerCall) {
    int n = img.height - y < options.linesPerCall ? img.height - y : options.linesPerCall;
    rc = IFFPutLine(h, static_cast<uint32_t>(n), img.row(y));
  }
  for (int i = 0; i < options.extraLines && rc == 0; ++i) rc = IFFPutLine(h, 1, extra.data());
  int32_t closed = IFFClose(h);
  return rc != 0 ? rc : closed;
}

IFFHandle* HandleOf(int32_t value) { return LookUpHandle(value); }

}  // namespace iffjpeg_test
