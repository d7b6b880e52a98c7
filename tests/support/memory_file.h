// In-memory files behind IFFFileOps callbacks, with failures on demand, so
// tests can drive the public entry points without touching the disk.
#pragma once

#include <cstdint>
#include <vector>

#include "iffjpeg.h"

namespace iffjpeg_test {

class MemoryFile;

// What a test passes to IFFOpen as source, with IFF_MODE_CALLBACKS: the five
// callbacks first (as the driver requires), then the file they serve.
struct MemorySource {
  IFFFileOps ops;
  MemoryFile* file;
};

class MemoryFile {
 public:
  MemoryFile();
  explicit MemoryFile(std::vector<uint8_t> contents);
  ~MemoryFile();
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  // The source record to hand to IFFOpen (mode | IFF_MODE_CALLBACKS).
  const MemorySource* source() const { return &source_; }

  std::vector<uint8_t> data;  // the file's bytes
  std::size_t position = 0;

  // Failures on demand (call numbers count from 1; 0 = never).
  bool failOpen = false;
  int32_t failReadAtCall = 0;    // that read returns -1
  int32_t shortWriteAtCall = 0;  // that write stores and reports one byte fewer
  int32_t failWriteFromCall = 0; // every write from that one on stores nothing, returns 0
  bool failClose = false;
  bool failSeek = false;
  int32_t maxReadChunk = 0x7FFFFFFF;  // reads return at most this many bytes

  // What the driver did.
  int32_t openCalls = 0, readCalls = 0, writeCalls = 0, closeCalls = 0, seekCalls = 0;
  int32_t lastOpenFlags = -1, lastOpenPermission = -1;
  const void* lastOpenSource = nullptr;
  std::vector<int32_t> writeSizes;
  bool open = false;

 private:
  MemorySource source_;
};

// An IFFFileOps whose open ignores source and always fails; for tests that
// check that nothing is opened.
IFFFileOps FailingOps();

}  // namespace iffjpeg_test
