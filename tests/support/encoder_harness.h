// Helpers for the writing side's tests: an in-memory handle bound to an
// EncoderState for driving internal stages, and one-call encoding through
// the public entry points.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "driver/handle.h"
#include "support/images.h"
#include "support/memory_file.h"

namespace iffjpeg_test {

// A zero-filled IFFHandle whose encoder has the memory manager installed and
// whose stream buffer is allocated. Nothing is flushed unless the buffer
// fills: bytes() reads what the stages appended.
class EncoderHarness {
 public:
  EncoderHarness();
  ~EncoderHarness();
  EncoderHarness(const EncoderHarness&) = delete;
  EncoderHarness& operator=(const EncoderHarness&) = delete;

  iffjpeg::IFFHandle& handle() { return *handle_; }
  iffjpeg::EncoderState& enc() { return handle_->encoder; }
  std::vector<uint8_t> bytes() const;
  void clearBytes();

 private:
  iffjpeg::IFFHandle* handle_;
};

struct EncodeOptions {
  int quality = 75;      // applied through SetQuality before the first line
  int linesPerCall = 1;  // IFFPutLine count per call
  int extraLines = 0;    // lines put after the image (must be ignored)
  // IFFControl (code, value) pairs applied before the first line.
  std::vector<std::pair<int32_t, int32_t>> controls;
};

// Encodes img through IFFOpen / IFFPutLine / IFFClose into file. Returns the
// IFFClose result, or the first failing code (negated open code for opens).
int32_t EncodeImage(const Image& img, MemoryFile& file, const EncodeOptions& options = {});

// The live handle behind a handle value, for tests that reach inside.
iffjpeg::IFFHandle* HandleOf(int32_t value);

}  // namespace iffjpeg_test
