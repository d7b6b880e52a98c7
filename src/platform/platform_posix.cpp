// POSIX implementation of the platform layer.
#if !defined(_WIN32)

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <new>

#include "platform/fault_hooks.h"
#include "platform/platform.h"

namespace iffjpeg::platform {

void* HeapAllocZeroed(std::size_t bytes) {
  if (AllocationFaulted()) return nullptr;
  return std::calloc(1, bytes);
}

// POSIX has one heap: beside the zero-filled block, the process heap is the
// runtime heap.
void* HeapAllocUncleared(std::size_t bytes) { return SystemAlloc(bytes); }

void HeapFree(void* block) { SystemFree(block); }

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;  // x86-64 and AArch64 with 4 KiB pages
}

void* SystemAllocPages(std::size_t bytes) {
  if (bytes == 0) return nullptr;
  // From the runtime heap, which keeps a block it got back for the next
  // one of its size (pages handed back to the system cost far more to get
  // again, on virtual machines most of all), the whole huge pages inside
  // it advised as such: a fresh block then faults in a few dozen steps.
  void* block = SystemAllocZeroed(bytes);
#if defined(MADV_HUGEPAGE)
  if (block != nullptr && bytes >= 2 * kHugePage) {
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t first = (start + kHugePage - 1) & ~(std::uintptr_t{kHugePage} - 1);
    const std::uintptr_t end = (start + bytes) & ~(std::uintptr_t{kHugePage} - 1);
    // Advice only: where huge pages are off, the block is ordinary pages.
    if (end > first) ::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
  }
#endif
  return block;
}

void PrepareForWriting(void* start, std::size_t bytes) {
#if defined(__linux__)
  // MADV_POPULATE_WRITE (Linux 5.14) over the whole pages of the buffer;
  // older kernels refuse it, which is fine.
  constexpr int kPopulateWrite = 23;
  const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  const auto first =
      (reinterpret_cast<std::uintptr_t>(start) + page - 1) & ~(std::uintptr_t{page} - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(start) + bytes) & ~(std::uintptr_t{page} - 1);
  if (end <= first) return;
  // A buffer in use already has its pages, and walking them would cost
  // more than the hint saves: its middle page tells.
  unsigned char resident = 0;
  const std::uintptr_t middle = first + (((end - first) / 2) & ~(std::uintptr_t{page} - 1));
  if (::mincore(reinterpret_cast<void*>(middle), page, &resident) == 0 && (resident & 1) != 0) {
    return;
  }
  ::madvise(reinterpret_cast<void*>(first), end - first, kPopulateWrite);
#else
  (void)start;
  (void)bytes;
#endif
}

void SystemFreePages(void* block, std::size_t /*bytes*/) { SystemFree(block); }

namespace {

// The driver's flag values use the Windows runtime numbering: 0x0002 read
// and write, 0x0100 create, 0x0200 truncate, 0x8000 untranslated (binary).
int32_t PosixOpen(const void* source, int32_t flags, int32_t permission) {
  const char* name = static_cast<const char*>(source);
  int oflags = (flags & 0x0002) ? O_RDWR : O_RDONLY;
  if (flags & 0x0100) oflags |= O_CREAT;
  if (flags & 0x0200) oflags |= O_TRUNC;
#if defined(O_CLOEXEC)
  oflags |= O_CLOEXEC;
#endif
  int fd = ::open(name, oflags, static_cast<mode_t>(permission));
  return fd < 0 ? -1 : fd;
}

int32_t PosixClose(int32_t fileId) { return ::close(fileId) == 0 ? 0 : -1; }

int32_t PosixRead(int32_t fileId, void* buffer, int32_t count) {
  if (count <= 0) return 0;
  // A short read from a pipe or a signal is not the end of the file: keep
  // reading until the count is met or the file really ends.
  int32_t total = 0;
  auto* out = static_cast<unsigned char*>(buffer);
  while (total < count) {
    ssize_t n = ::read(fileId, out + total, static_cast<std::size_t>(count - total));
    // A signal is not a failure: without this, an interrupted read would end
    // the data early.
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return total > 0 ? total : -1;
    if (n == 0) break;
    total += static_cast<int32_t>(n);
  }
  return total;
}

int32_t PosixWrite(int32_t fileId, const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  int32_t total = 0;
  const auto* in = static_cast<const unsigned char*>(buffer);
  while (total < count) {
    ssize_t n = ::write(fileId, in + total, static_cast<std::size_t>(count - total));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    total += static_cast<int32_t>(n);
  }
  return total;
}

int32_t PosixSeek(int32_t fileId, int32_t offset, int32_t origin) {
  int whence = origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : SEEK_SET;
  off_t pos = ::lseek(fileId, static_cast<off_t>(offset), whence);
  if (pos < 0 || pos > 0x7FFFFFFF) return -1;
  return static_cast<int32_t>(pos);
}

}  // namespace

IFFFileOps DefaultFileOps() {
  return IFFFileOps{PosixOpen, PosixClose, PosixRead, PosixWrite, PosixSeek};
}

static_assert(sizeof(pthread_mutex_t) <= 64, "lock storage too small");

Lock::Lock() { new (storage_) pthread_mutex_t(PTHREAD_MUTEX_INITIALIZER); }
Lock::~Lock() { pthread_mutex_destroy(reinterpret_cast<pthread_mutex_t*>(storage_)); }
void Lock::Enter() { pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(storage_)); }
void Lock::Leave() { pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(storage_)); }

namespace {

int MakeTempFile(const char* dir) {
  char path[4096];
  if (std::strlen(dir) > sizeof path - 32) return -1;
  std::strcpy(path, dir);
  std::strcat(path, "/iffjpeg-XXXXXX");
  int fd = ::mkstemp(path);
  if (fd < 0) return -1;
  // Like the files the default callbacks open, the store is not inherited
  // by programs the host starts.
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  // Unlinked at once: the store vanishes with its descriptor, even on a crash.
  ::unlink(path);
  return fd;
}

}  // namespace

std::intptr_t TempFileOpen() {
  if (TempFileFaulted()) return -1;
  const char* dir = std::getenv("TMPDIR");
  int fd = -1;
  if (dir != nullptr && dir[0] != '\0') fd = MakeTempFile(dir);
  // A TMPDIR that cannot take the file does not leave the array without a store.
  if (fd < 0) fd = MakeTempFile("/tmp");
  return fd;
}

bool TempFileRead(std::intptr_t id, void* buffer, std::int64_t offset, std::size_t count) {
  auto* out = static_cast<unsigned char*>(buffer);
  while (count > 0) {
    ssize_t n = ::pread(static_cast<int>(id), out, count, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    out += n;
    offset += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

bool TempFileWrite(std::intptr_t id, const void* buffer, std::int64_t offset, std::size_t count) {
  const auto* in = static_cast<const unsigned char*>(buffer);
  while (count > 0) {
    ssize_t n = ::pwrite(static_cast<int>(id), in, count, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    in += n;
    offset += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

void TempFileClose(std::intptr_t id) { ::close(static_cast<int>(id)); }

}  // namespace iffjpeg::platform

#endif  // !_WIN32
