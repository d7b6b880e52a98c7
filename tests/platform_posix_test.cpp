// The POSIX platform layer: temporary files for the backing store, and
// default callbacks that survive signals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
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
