#include "support/memory_file.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace iffjpeg_test {
namespace {

std::mutex tableLock;
std::vector<MemoryFile*>& table() {
  static std::vector<MemoryFile*> files;
  return files;
}

MemoryFile* Find(int32_t id) {
  std::lock_guard<std::mutex> held(tableLock);
  if (id < 0 || static_cast<std::size_t>(id) >= table().size()) return nullptr;
  return table()[static_cast<std::size_t>(id)];
}

int32_t Open(const void* source, int32_t flags, int32_t permission) {
  const auto* src = static_cast<const MemorySource*>(source);
  MemoryFile* file = src->file;
  ++file->openCalls;
  file->lastOpenFlags = flags;
  file->lastOpenPermission = permission;
  file->lastOpenSource = source;
  if (file->failOpen) return -1;
  if (flags & 0x0200) file->data.clear();
  file->position = 0;
  file->open = true;
  std::lock_guard<std::mutex> held(tableLock);
  auto& files = table();
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (files[i] == nullptr) {
      files[i] = file;
      return static_cast<int32_t>(i);
    }
  }
  files.push_back(file);
  return static_cast<int32_t>(files.size() - 1);
}

int32_t Close(int32_t id) {
  MemoryFile* file = Find(id);
  if (file == nullptr) return -1;
  ++file->closeCalls;
  file->open = false;
  {
    std::lock_guard<std::mutex> held(tableLock);
    table()[static_cast<std::size_t>(id)] = nullptr;
  }
  return file->failClose ? -1 : 0;
}

int32_t Read(int32_t id, void* buffer, int32_t count) {
  MemoryFile* file = Find(id);
  if (file == nullptr) return -1;
  ++file->readCalls;
  if (file->failReadAtCall == file->readCalls) return -1;
  std::size_t left = file->data.size() - std::min(file->position, file->data.size());
  std::size_t n = std::min<std::size_t>({left, static_cast<std::size_t>(std::max(count, 0)),
                                         static_cast<std::size_t>(file->maxReadChunk)});
  if (n > 0) std::memcpy(buffer, file->data.data() + file->position, n);
  file->position += n;
  return static_cast<int32_t>(n);
}

int32_t Write(int32_t id, const void* buffer, int32_t count) {
  MemoryFile* file = Find(id);
  if (file == nullptr) return -1;
  ++file->writeCalls;
  file->writeSizes.push_back(count);
  if (file->failWriteFromCall > 0 && file->writeCalls >= file->failWriteFromCall) return 0;
  int32_t n = count;
  if (file->shortWriteAtCall == file->writeCalls && n > 0) --n;
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  if (file->position + static_cast<std::size_t>(n) > file->data.size()) {
    file->data.resize(file->position + static_cast<std::size_t>(n));
  }
  std::memcpy(file->data.data() + file->position, bytes, static_cast<std::size_t>(n));
  file->position += static_cast<std::size_t>(n);
  return n;
}

int32_t Seek(int32_t id, int32_t offset, int32_t origin) {
  MemoryFile* file = Find(id);
  if (file == nullptr) return -1;
  ++file->seekCalls;
  if (file->failSeek) return -1;
  int64_t base = origin == 0 ? 0 : origin == 1 ? static_cast<int64_t>(file->position)
                                               : static_cast<int64_t>(file->data.size());
  int64_t target = base + offset;
  if (target < 0) return -1;
  file->position = static_cast<std::size_t>(target);
  return static_cast<int32_t>(target);
}

int32_t OpenFails(const void*, int32_t, int32_t) { return -1; }
int32_t CloseNothing(int32_t) { return 0; }
int32_t ReadNothing(int32_t, void*, int32_t) { return 0; }
int32_t WriteNothing(int32_t, const void*, int32_t) { return 0; }
int32_t SeekNothing(int32_t, int32_t, int32_t) { return -1; }

}  // namespace

MemoryFile::MemoryFile() : source_{IFFFileOps{Open, Close, Read, Write, Seek}, this} {}

MemoryFile::MemoryFile(std::vector<uint8_t> contents) : MemoryFile() { data = std::move(contents); }

MemoryFile::~MemoryFile() {
  std::lock_guard<std::mutex> held(tableLock);
  for (auto& entry : table()) {
    if (entry == this) entry = nullptr;
  }
}

IFFFileOps FailingOps() {
  return IFFFileOps{OpenFails, CloseNothing, ReadNothing, WriteNothing, SeekNothing};
}

}  // namespace iffjpeg_test
