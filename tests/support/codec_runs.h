// Whole reads and writes through the six entry points over in-memory files,
// recording every code along the way: the building block of the fault
// sweeps, the threaded test and the malformed-input corpus.
#pragma once

#include <cstdint>
#include <vector>

#include "iffjpeg.h"
#include "support/images.h"
#include "support/memory_file.h"

namespace iffjpeg_test {

struct ReadRun {
  int32_t open = 0;  // IFFOpen's result; 0 when it gave a handle
  IFFImageInfo info{};
  std::vector<int32_t> codes;   // IFFGetLine's result, line by line
  std::vector<uint8_t> pixels;  // the lines read, back to back
  int32_t close = 0;
  bool fileLeftOpen = false;
};

// Opens file for reading (mode 0 or 3), reads maxLines lines one by one (all
// of them when negative) and closes.
ReadRun ReadThrough(MemoryFile& file, int32_t maxLines = -1, int32_t mode = IFF_MODE_READ);

// The same from bytes.
ReadRun ReadBytes(const std::vector<uint8_t>& jpeg, int32_t maxLines = -1);

struct WriteRun {
  int32_t open = 0;                  // IFFOpen's result; 0 when it gave a handle
  int32_t quality = 0;               // IFFControl's result when the quality was set
  std::vector<int32_t> codes;        // IFFPutLine's result, call by call, retries included
  std::vector<int32_t> writesAfter;  // the file's write calls after each IFFPutLine
  int32_t close = 0;
  bool fileLeftOpen = false;
};

// Writes image line by line (quality set through IFFControl when not 75)
// and closes. A line whose call fails is put once more, as a host would
// retry it; when that fails too, no further line is put.
// option: 0, or a writing option set to 1 before the first line.
WriteRun WriteThrough(const Image& image, MemoryFile& file, int quality = 75, int32_t option = 0);

// An image of uniformly random samples: the costliest to code, so that
// written files reach several flushes of the stream buffer.
Image MakeNoiseImage(int width, int height, int channels, uint32_t seed);

}  // namespace iffjpeg_test
