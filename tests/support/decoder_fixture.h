// A handle around an in-memory stream, with the stream buffer allocated and
// the memory manager installed, for driving reading stages directly.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "driver/handle.h"
#include "support/memory_file.h"

namespace iffjpeg_test {

class StreamHandle {
 public:
  explicit StreamHandle(std::vector<uint8_t> bytes);
  ~StreamHandle();
  StreamHandle(const StreamHandle&) = delete;
  StreamHandle& operator=(const StreamHandle&) = delete;

  iffjpeg::IFFHandle& handle() { return *handle_; }
  iffjpeg::DecoderState& dec() { return handle_->decoder; }
  MemoryFile& file() { return file_; }
  // Bytes not yet taken from the stream (buffered and still in the file).
  std::size_t BytesLeft() const;

 private:
  MemoryFile file_;
  std::unique_ptr<iffjpeg::IFFHandle> handle_;
};

// A Huffman table slot filled from counts for lengths 1..16 and symbols.
iffjpeg::HuffTable MakeHuffTable(const std::vector<int>& counts, const std::vector<int>& symbols);

// The example tables of T.81 Annex K (K.3.3.1, K.3.3.2): luminance DC and AC.
iffjpeg::HuffTable LuminanceDcTable();
iffjpeg::HuffTable LuminanceAcTable();

// Packs a string of '0'/'1' characters (others ignored) into bytes, padding
// the last byte with 1 bits and stuffing a zero byte after every 0xFF, as
// an encoder does.
std::vector<uint8_t> PackBits(const char* bits);

}  // namespace iffjpeg_test
