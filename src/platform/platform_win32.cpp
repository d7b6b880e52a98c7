// Win32 implementation of the platform layer: the process heap for the
// handle and the stream buffer, default file callbacks on CreateFileA and the
// _lread/_lwrite/_llseek/_lclose family, critical sections for the locks,
// and a delete-on-close temporary file for the memory manager's backing
// store. The runtime heap stays malloc/free, as on every platform
// (runtime_heap.cpp).
#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <new>

#include "platform/fault_hooks.h"
#include "platform/platform.h"

namespace iffjpeg::platform {

void* HeapAllocZeroed(std::size_t bytes) {
  if (AllocationFaulted()) return nullptr;
  return ::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
}

void* HeapAllocUncleared(std::size_t bytes) {
  if (AllocationFaulted()) return nullptr;
  return ::HeapAlloc(::GetProcessHeap(), 0, bytes);
}

void HeapFree(void* block) {
  CountRelease(block);
  if (block != nullptr) ::HeapFree(::GetProcessHeap(), 0, block);
}

// Committed pages come zero-filled. Large pages need a privilege hosts
// seldom hold, so these are ordinary pages.
void* SystemAllocPages(std::size_t bytes) {
  if (AllocationFaulted() || bytes == 0) return nullptr;
  return ::VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

// The system offers no such step for private memory: pages come as they
// are touched.
void PrepareForWriting(void* /*start*/, std::size_t /*bytes*/) {}

void SystemFreePages(void* block, std::size_t /*bytes*/) {
  CountRelease(block);
  if (block != nullptr) ::VirtualFree(block, 0, MEM_RELEASE);
}

namespace {

// File ids are 32-bit. A kernel handle fits: even in a 64-bit process only
// the low 32 bits of a handle are significant, and they are sign-extended
// when turned back into a HANDLE (HandleToLong / LongToHandle), which is
// also what _lread and its siblings do with their HFILE argument.
int32_t Win32Open(const void* source, int32_t flags, int32_t /*permission*/) {
  DWORD access = (flags & 0x0002) ? (GENERIC_READ | GENERIC_WRITE) : GENERIC_READ;
  DWORD creation = (flags & 0x0100) ? CREATE_ALWAYS : OPEN_EXISTING;
  HANDLE file = ::CreateFileA(static_cast<const char*>(source), access, FILE_SHARE_READ, nullptr,
                              creation, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  long id = HandleToLong(file);  // a macro in 32-bit builds
  // A negative id would read as a failed open and leak the handle; no
  // kernel hands such values out, but refuse one rather than lose it.
  if (id < 0) {
    ::CloseHandle(file);
    return -1;
  }
  return static_cast<int32_t>(id);
}

int32_t Win32Close(int32_t fileId) { return ::_lclose(static_cast<HFILE>(fileId)) == 0 ? 0 : -1; }

// HFILE_ERROR comes back as the unsigned 0xFFFFFFFF, that is -1: a failure.
int32_t Win32Read(int32_t fileId, void* buffer, int32_t count) {
  if (count <= 0) return 0;
  return static_cast<int32_t>(
      ::_lread(static_cast<HFILE>(fileId), buffer, static_cast<UINT>(count)));
}

// _lwrite with a count of 0 truncates the file at its position instead of
// writing nothing, so an empty write never reaches it.
int32_t Win32Write(int32_t fileId, const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  return static_cast<int32_t>(
      ::_lwrite(static_cast<HFILE>(fileId), static_cast<LPCCH>(buffer), static_cast<UINT>(count)));
}

int32_t Win32Seek(int32_t fileId, int32_t offset, int32_t origin) {
  return static_cast<int32_t>(::_llseek(static_cast<HFILE>(fileId), offset, origin));
}

}  // namespace

IFFFileOps DefaultFileOps() {
  return IFFFileOps{Win32Open, Win32Close, Win32Read, Win32Write, Win32Seek};
}

static_assert(sizeof(CRITICAL_SECTION) <= 64, "lock storage too small");

namespace {
CRITICAL_SECTION* Section(unsigned char* storage) {
  return reinterpret_cast<CRITICAL_SECTION*>(storage);
}
}  // namespace

Lock::Lock() { ::InitializeCriticalSection(new (storage_) CRITICAL_SECTION); }
Lock::~Lock() { ::DeleteCriticalSection(Section(storage_)); }
void Lock::Enter() { ::EnterCriticalSection(Section(storage_)); }
void Lock::Leave() { ::LeaveCriticalSection(Section(storage_)); }

// The store is a file in the user's temporary directory, created under a
// unique name and marked delete-on-close: it vanishes with its handle, also
// when the process ends without closing it. FILE_ATTRIBUTE_TEMPORARY asks
// the system to keep it in the cache rather than on the disk.
std::intptr_t TempFileOpen() {
  if (TempFileFaulted()) return -1;
  char directory[MAX_PATH + 1];
  DWORD length = ::GetTempPathA(sizeof directory, directory);
  if (length == 0 || length > MAX_PATH) return -1;
  char path[MAX_PATH];
  if (::GetTempFileNameA(directory, "iff", 0, path) == 0) return -1;
  HANDLE file = ::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    ::DeleteFileA(path);  // GetTempFileNameA left an empty file behind
    return -1;
  }
  return reinterpret_cast<std::intptr_t>(file);
}

namespace {

// One transfer at a byte offset; the handle's own position is not used.
OVERLAPPED At(std::int64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
  return at;
}

constexpr std::size_t kLargestTransfer = 1u << 30;

}  // namespace

bool TempFileRead(std::intptr_t id, void* buffer, std::int64_t offset, std::size_t count) {
  if (offset < 0) return false;
  auto* out = static_cast<unsigned char*>(buffer);
  while (count > 0) {
    DWORD chunk = static_cast<DWORD>(count < kLargestTransfer ? count : kLargestTransfer);
    OVERLAPPED at = At(offset);
    DWORD done = 0;
    // Past the end ReadFile fails with ERROR_HANDLE_EOF or reads 0 bytes.
    if (!::ReadFile(reinterpret_cast<HANDLE>(id), out, chunk, &done, &at) || done == 0) {
      return false;
    }
    out += done;
    offset += done;
    count -= done;
  }
  return true;
}

bool TempFileWrite(std::intptr_t id, const void* buffer, std::int64_t offset, std::size_t count) {
  if (offset < 0) return false;
  const auto* in = static_cast<const unsigned char*>(buffer);
  while (count > 0) {
    DWORD chunk = static_cast<DWORD>(count < kLargestTransfer ? count : kLargestTransfer);
    OVERLAPPED at = At(offset);
    DWORD done = 0;
    if (!::WriteFile(reinterpret_cast<HANDLE>(id), in, chunk, &done, &at) || done == 0) {
      return false;
    }
    in += done;
    offset += done;
    count -= done;
  }
  return true;
}

void TempFileClose(std::intptr_t id) { ::CloseHandle(reinterpret_cast<HANDLE>(id)); }

}  // namespace iffjpeg::platform

#endif  // _WIN32
