#include "fuzz_file.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace iffjpeg_fuzz {
namespace {

// Open files by id. One thread, one input at a time.
std::array<FuzzFile*, 256> openFiles{};

// Writes beyond this size are refused as short: a runaway writer must not
// exhaust the fuzzer's memory.
constexpr std::size_t kMaxFileBytes = 64u << 20;

FuzzFile* Find(int32_t id) {
  if (id < 0 || static_cast<std::size_t>(id) >= openFiles.size()) return nullptr;
  return openFiles[static_cast<std::size_t>(id)];
}

int32_t Open(const void* source, int32_t flags, int32_t) {
  FuzzFile* file = static_cast<const FuzzSource*>(source)->file;
  for (std::size_t i = 0; i < openFiles.size(); ++i) {
    if (openFiles[i] != nullptr) continue;
    openFiles[i] = file;
    if (flags & 0x0200) file->data.clear();
    file->position = 0;
    file->isOpen = true;
    return static_cast<int32_t>(i);
  }
  return -1;
}

int32_t Close(int32_t id) {
  FuzzFile* file = Find(id);
  if (file == nullptr) Fail("close of a file that is not open", id, 0);
  openFiles[static_cast<std::size_t>(id)] = nullptr;
  file->isOpen = false;
  return file->failClose ? -1 : 0;
}

int32_t Read(int32_t id, void* buffer, int32_t count) {
  FuzzFile* file = Find(id);
  if (file == nullptr) Fail("read of a file that is not open", id, 0);
  ++file->readCalls;
  std::size_t left = file->data.size() - std::min(file->position, file->data.size());
  std::size_t n = std::min<std::size_t>({left, static_cast<std::size_t>(std::max(count, 0)),
                                         static_cast<std::size_t>(file->maxReadChunk)});
  if (n > 0) std::memcpy(buffer, file->data.data() + file->position, n);
  file->position += n;
  return static_cast<int32_t>(n);
}

int32_t Write(int32_t id, const void* buffer, int32_t count) {
  FuzzFile* file = Find(id);
  if (file == nullptr) Fail("write to a file that is not open", id, 0);
  ++file->writeCalls;
  if (count <= 0) return 0;
  int32_t n = count;
  if (file->failWriteFromCall > 0 && file->writeCalls >= file->failWriteFromCall) n = 0;
  if (file->shortWriteAtCall == file->writeCalls) n = std::max(0, n - file->shortWriteBy);
  if (file->position + static_cast<std::size_t>(n) > kMaxFileBytes) n = 0;
  if (n < count) file->lostBytes = true;
  if (file->position + static_cast<std::size_t>(n) > file->data.size()) {
    file->data.resize(file->position + static_cast<std::size_t>(n));
  }
  if (n > 0) std::memcpy(file->data.data() + file->position, buffer, static_cast<std::size_t>(n));
  file->position += static_cast<std::size_t>(n);
  return n;
}

int32_t Seek(int32_t id, int32_t offset, int32_t origin) {
  FuzzFile* file = Find(id);
  if (file == nullptr) Fail("seek in a file that is not open", id, 0);
  long base = origin == 0   ? 0
              : origin == 1 ? static_cast<long>(file->position)
                            : static_cast<long>(file->data.size());
  long target = base + offset;
  if (target < 0) return -1;
  file->position = static_cast<std::size_t>(target);
  return static_cast<int32_t>(target);
}

}  // namespace

FuzzFile::FuzzFile() : source_{IFFFileOps{Open, Close, Read, Write, Seek}, this} {}

FuzzFile::FuzzFile(std::vector<uint8_t> contents) : FuzzFile() { data = std::move(contents); }

FuzzFile::~FuzzFile() {
  for (auto& entry : openFiles) {
    if (entry == this) Fail("a file is still open when its owner goes", 0, 0);
  }
}

std::vector<uint8_t> FuzzInput::Bytes(std::size_t n) {
  n = std::min(n, Remaining());
  std::vector<uint8_t> out(data_ + pos_, data_ + pos_ + n);
  pos_ += n;
  return out;
}

void Fail(const char* what, long a, long b) {
  std::fprintf(stderr, "iffjpeg fuzz check failed: %s (%ld, %ld)\n", what, a, b);
  std::abort();
}

bool DeclaresHugeWholeImageDecode(const uint8_t* data, std::size_t size) {
  constexpr long kOpenPixelBudget = 1L << 20;
  long pixels = 0;
  int frameComponents = 0, firstScanComponents = -1, scans = 0;
  bool progressive = false;
  for (std::size_t i = 0; i + 9 < size; ++i) {
    if (data[i] != 0xFF) continue;
    uint8_t code = data[i + 1];
    if (code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC) {
      long height = data[i + 5] << 8 | data[i + 6];
      long width = data[i + 7] << 8 | data[i + 8];
      pixels = std::max(pixels, width * height);
      frameComponents = std::max<int>(frameComponents, data[i + 9]);
      // Progressive frames (SOF2, SOF6, SOF10, SOF14) are decoded whole
      // whatever their components.
      progressive = progressive || (code & 3) == 2;
    } else if (code == 0xDA) {
      if (++scans == 1) firstScanComponents = data[i + 4];
    }
  }
  if (pixels <= kOpenPixelBudget) return false;
  return progressive ||
         (frameComponents > 1 && (scans > 1 || firstScanComponents < frameComponents));
}

int32_t LinesWithinBudget(int32_t width, int32_t height) {
  long lines = kPixelBudget / std::max<long>(width, 1);
  return static_cast<int32_t>(std::clamp<long>(lines, 1, std::max<long>(height, 1)));
}

}  // namespace iffjpeg_fuzz
