// In-memory files behind IFFFileOps callbacks for the fuzz targets, with
// short writes, failing closes and chunked reads on demand. The fuzzers run
// one input at a time on one thread, so the file-id table is a plain array.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "iffjpeg.h"

namespace iffjpeg_fuzz {

class FuzzFile;

// What IFFOpen receives as source: the five callbacks first, as the driver
// requires, then the file they serve.
struct FuzzSource {
  IFFFileOps ops;
  FuzzFile* file;
};

class FuzzFile {
 public:
  FuzzFile();
  explicit FuzzFile(std::vector<uint8_t> contents);
  ~FuzzFile();
  FuzzFile(const FuzzFile&) = delete;
  FuzzFile& operator=(const FuzzFile&) = delete;

  const FuzzSource* source() const { return &source_; }

  std::vector<uint8_t> data;
  std::size_t position = 0;
  bool isOpen = false;

  // Failures on demand; call numbers count from 1, 0 = never.
  int32_t shortWriteAtCall = 0;   // that write stores and reports fewer bytes
  int32_t shortWriteBy = 1;       // how many fewer (at least 1)
  int32_t failWriteFromCall = 0;  // from that write on nothing is stored, 0 reported
  bool failClose = false;
  int32_t maxReadChunk = 0x7FFFFFFF;

  int32_t writeCalls = 0;
  int32_t readCalls = 0;
  bool lostBytes = false;  // some write stored fewer bytes than it was asked to

 private:
  FuzzSource source_;
};

// Reads the fuzz input front to back; past the end every value is 0.
class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  uint8_t U8() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t U16() { return static_cast<uint16_t>(U8() << 8 | U8()); }
  uint32_t U32() { return static_cast<uint32_t>(U16()) << 16 | U16(); }
  std::size_t Remaining() const { return size_ - pos_; }
  const uint8_t* Rest() const { return data_ + pos_; }
  // Up to n bytes, fewer when the input runs out.
  std::vector<uint8_t> Bytes(std::size_t n);

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Aborts with a message: the fuzzer reports it as a crash with this input.
[[noreturn]] void Fail(const char* what, long a, long b);

// Checks a property of the library's behaviour.
#define FUZZ_CHECK(cond, a, b)                          \
  do {                                                  \
    if (!(cond)) ::iffjpeg_fuzz::Fail(#cond, (a), (b)); \
  } while (0)

// Decoding cost is width x lines: the targets read at most this many pixels
// per pass, so a legitimate 65535 x 65535 header cannot time the fuzzer out.
constexpr long kPixelBudget = 1L << 18;

// Lines that fit the budget for an image of this size (at least 1).
int32_t LinesWithinBudget(int32_t width, int32_t height);

// A progressive file, or one whose components come in several scans, is
// decoded whole, so its cost follows the declared width x height before any
// line is read (and beyond the whole-image limits it is refused with 5).
// True when the bytes declare a frame above 1 megapixel that is progressive,
// or has more than one component and either a second scan header or a first
// scan that lacks some component: the targets skip those instead of timing
// out.
bool DeclaresHugeWholeImageDecode(const uint8_t* data, std::size_t size);

}  // namespace iffjpeg_fuzz
