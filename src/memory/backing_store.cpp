// The system layer under the virtual arrays: how much memory they may use,
// and where the rows go that do not fit. The store is a temporary file that
// the platform removes from the directory at once, so it disappears when it
// is closed, or when the process ends without closing it.
#include "memory/memory_internal.h"
#include "platform/platform.h"

namespace iffjpeg::memory_internal {
namespace {

bool StoreRead(BackingStore& store, void* buffer, int64_t offset, std::size_t count) {
  return platform::TempFileRead(store.file, buffer, offset, count);
}

bool StoreWrite(BackingStore& store, const void* buffer, int64_t offset, std::size_t count) {
  return platform::TempFileWrite(store.file, buffer, offset, count);
}

void StoreClose(BackingStore& store) {
  if (store.file >= 0) platform::TempFileClose(store.file);
  store.file = -1;
}

}  // namespace

long AvailableMemory(long /*minBytes*/, long /*maxBytes*/) { return kAvailableMemory; }

bool OpenBackingStore(BackingStore& store, int64_t /*totalBytes*/) {
  // The file grows as rows are written; nothing is reserved up front.
  store.file = platform::TempFileOpen();
  if (store.file < 0) return false;
  store.read = StoreRead;
  store.write = StoreWrite;
  store.close = StoreClose;
  return true;
}

}  // namespace iffjpeg::memory_internal
