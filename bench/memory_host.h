// A host's file callbacks over memory: the record a host passes to IFFOpen
// with IFF_MODE_CALLBACKS (the five callbacks first, its own data after
// them), reading from one block of bytes and appending what is written to a
// vector. One file is open at a time in the programs that use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "iffjpeg.h"

namespace iffjpeg_bench {

struct HostFile {
  IFFFileOps ops;
  const uint8_t* input = nullptr;
  size_t inputSize = 0;
  size_t position = 0;
  std::vector<uint8_t>* output = nullptr;
};

inline HostFile*& OpenHostFile() {
  static HostFile* open = nullptr;
  return open;
}

inline int32_t OpenMemory(const void* source, int32_t, int32_t) {
  OpenHostFile() = static_cast<HostFile*>(const_cast<void*>(source));
  OpenHostFile()->position = 0;
  return 1;
}
inline int32_t CloseMemory(int32_t) {
  OpenHostFile() = nullptr;
  return 0;
}
inline int32_t ReadMemory(int32_t, void* buffer, int32_t count) {
  HostFile& f = *OpenHostFile();
  size_t left = f.inputSize - f.position;
  size_t n = left < static_cast<size_t>(count) ? left : static_cast<size_t>(count);
  std::memcpy(buffer, f.input + f.position, n);
  f.position += n;
  return static_cast<int32_t>(n);
}
inline int32_t WriteMemory(int32_t, const void* buffer, int32_t count) {
  auto* bytes = static_cast<const uint8_t*>(buffer);
  OpenHostFile()->output->insert(OpenHostFile()->output->end(), bytes, bytes + count);
  return count;
}
inline int32_t SeekMemory(int32_t, int32_t offset, int32_t) {
  OpenHostFile()->position = static_cast<size_t>(offset);
  return offset;
}

inline HostFile MemoryHost() {
  return HostFile{{OpenMemory, CloseMemory, ReadMemory, WriteMemory, SeekMemory}};
}

}  // namespace iffjpeg_bench
