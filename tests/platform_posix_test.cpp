// The POSIX platform layer: temporary files for the backing store, default
// callbacks that survive signals, blocks for whole-image arrays and host
// buffers made ready for writing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/platform.h"

namespace {

namespace platform = iffjpeg::platform;

std::string DescriptorTarget(std::intptr_t fd) {
  char target[4096];
  std::string link = "/proc/self/fd/" + std::to_string(fd);
  ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
  return n < 0 ? std::string() : std::string(target, static_cast<std::size_t>(n));
}

TEST(PlatformTempFile, HoldsBytesAtAnyOffsetAndHasNoName) {
  std::intptr_t fd = platform::TempFileOpen();
  ASSERT_GE(fd, 0);
  EXPECT_NE(DescriptorTarget(fd).find("(deleted)"), std::string::npos)
      << "removed from its directory at once: " << DescriptorTarget(fd);
  EXPECT_EQ(fcntl(static_cast<int>(fd), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);

  const char text[] = "window rows";
  ASSERT_TRUE(platform::TempFileWrite(fd, text, 5000, sizeof text));
  char back[sizeof text] = {};
  ASSERT_TRUE(platform::TempFileRead(fd, back, 5000, sizeof back));
  EXPECT_STREQ(back, text);
  char hole[16];
  ASSERT_TRUE(platform::TempFileRead(fd, hole, 100, sizeof hole));
  EXPECT_EQ(hole[0], 0) << "bytes never written read as zero";
  EXPECT_FALSE(platform::TempFileRead(fd, back, 5004, sizeof back)) << "past the end";
  platform::TempFileClose(fd);
}

TEST(PlatformTempFile, UnusableTmpdirFallsBackAndFailureHookWorks) {
  const char* old = std::getenv("TMPDIR");
  std::string saved = old != nullptr ? old : "";
  setenv("TMPDIR", "/nonexistent/iffjpeg-temp", 1);
  std::intptr_t fd = platform::TempFileOpen();
  if (old != nullptr) {
    setenv("TMPDIR", saved.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
  ASSERT_GE(fd, 0);
  platform::TempFileClose(fd);

  iffjpeg::testing::FailNextTempFile(true);
  EXPECT_EQ(platform::TempFileOpen(), -1);
  fd = platform::TempFileOpen();
  EXPECT_GE(fd, 0) << "only the next open fails";
  platform::TempFileClose(fd);
}

void NoteSignal(int) {}

std::size_t ResidentPages(const void* start, std::size_t bytes) {
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  std::string vec((bytes + page - 1) / page, '\0');
  if (mincore(const_cast<void*>(start), bytes, reinterpret_cast<unsigned char*>(vec.data())) != 0) {
    return 0;
  }
  std::size_t resident = 0;
  for (char c : vec) resident += static_cast<std::size_t>(c & 1);
  return resident;
}

TEST(PlatformPages, ComeZeroedAndGoBack) {
  for (std::size_t bytes : {std::size_t{1000}, (std::size_t{5} << 20) + 12345}) {
    SCOPED_TRACE(bytes);
    auto* block = static_cast<unsigned char*>(platform::SystemAllocPages(bytes));
    ASSERT_NE(block, nullptr);
    for (std::size_t i = 0; i < bytes; i += 4093) ASSERT_EQ(block[i], 0);
    EXPECT_EQ(block[bytes - 1], 0);
    std::memset(block, 0x5A, bytes);  // every byte is the caller's
    platform::SystemFreePages(block, bytes);
  }
  EXPECT_EQ(platform::SystemAllocPages(0), nullptr);
}

TEST(PlatformPrepareForWriting, PutsPagesInPlaceAndChangesNoByte) {
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t bytes = 256 * page;
  void* mapping = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(mapping, MAP_FAILED);
  auto* buffer = static_cast<unsigned char*>(mapping);
  ASSERT_EQ(ResidentPages(buffer, bytes), 0u) << "a fresh mapping has no pages yet";

  struct Case {
    std::size_t offset, length;
    std::size_t residentAfter;  // pages of the whole mapping
  };
  // A start inside a page and a short length: only the whole pages between.
  const Case cases[] = {{100, 2 * page, 1}, {0, 128 * page, 128}, {0, bytes, 256}, {5, 10, 256}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    platform::PrepareForWriting(buffer + c.offset, c.length);
    EXPECT_EQ(ResidentPages(buffer, bytes), c.residentAfter);
  }
  for (std::size_t i = 0; i < bytes; i += 997) ASSERT_EQ(buffer[i], 0) << i;

  // A buffer in use keeps its bytes.
  for (std::size_t i = 0; i < bytes; ++i) buffer[i] = static_cast<unsigned char>(i * 7);
  platform::PrepareForWriting(buffer, bytes);
  for (std::size_t i = 0; i < bytes; ++i) ASSERT_EQ(buffer[i], static_cast<unsigned char>(i * 7));
  munmap(mapping, bytes);
}

TEST(PlatformDefaultCallbacks, ReadInterruptedBySignalKeepsWaitingForData) {
  struct sigaction action {
  }, previous{};
  action.sa_handler = NoteSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: the read really sees EINTR
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);

  pthread_t reader = pthread_self();
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pthread_kill(reader, SIGUSR1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(write(fds[1], "abcd", 4), 4);
    close(fds[1]);
  });
  IFFFileOps ops = platform::DefaultFileOps();
  char buffer[8] = {};
  int32_t n = ops.read(fds[0], buffer, sizeof buffer);
  writer.join();
  close(fds[0]);
  sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_EQ(n, 4) << "a signal is not the end of the file";
  EXPECT_EQ(std::string(buffer, 4), "abcd");
}

}  // namespace
