// The Win32 platform layer: default callbacks on CreateFileA and the
// _lread family with the driver's two flag values, the delete-on-close
// temporary file of the backing store, and the critical-section lock.
#define WIN32_LEAN_AND_MEAN
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "support/open_files.h"

namespace {

namespace platform = iffjpeg::platform;

std::string TempPath(const char* name) {
  char directory[MAX_PATH + 1];
  DWORD length = GetTempPathA(sizeof directory, directory);
  EXPECT_GT(length, 0u);
  return std::string(directory) + name;
}

HANDLE OpenOther(const std::string& path, DWORD access) {
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(PlatformWin32Callbacks, WriteFlagsCreateTruncateAndShareForReadingOnly) {
  IFFFileOps ops = platform::DefaultFileOps();
  std::string path = TempPath("iffjpeg_win32_callbacks.jpg");
  DeleteFileA(path.c_str());

  int32_t id = ops.open(path.c_str(), IFF_OPEN_FLAGS_WRITE, IFF_OPEN_PERMISSION);
  ASSERT_GT(id, 0) << "a created file gets a positive 32-bit id";
  EXPECT_EQ(ops.write(id, "abcdef", 6), 6);
  // FILE_SHARE_READ: others may read the file being written, not write it.
  HANDLE reader = OpenOther(path, GENERIC_READ);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
  HANDLE writer = OpenOther(path, GENERIC_WRITE);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE) << "writing is not shared";
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  EXPECT_EQ(ops.write(id, "x", 0), 0) << "an empty write writes nothing";
  EXPECT_EQ(ops.close(id), 0);

  id = ops.open(path.c_str(), IFF_OPEN_FLAGS_READ, IFF_OPEN_PERMISSION);
  ASSERT_GT(id, 0);
  char buffer[16] = {};
  EXPECT_EQ(ops.read(id, buffer, sizeof buffer), 6) << "the empty write did not truncate";
  EXPECT_EQ(std::string(buffer, 6), "abcdef");
  EXPECT_EQ(ops.read(id, buffer, sizeof buffer), 0) << "end of file";
  EXPECT_EQ(ops.seek(id, 2, 0), 2);
  EXPECT_EQ(ops.read(id, buffer, 3), 3);
  EXPECT_EQ(std::string(buffer, 3), "cde");
  EXPECT_NE(ops.write(id, "zz", 2), 2) << "opened for reading only";
  EXPECT_EQ(ops.close(id), 0);

  id = ops.open(path.c_str(), IFF_OPEN_FLAGS_WRITE, IFF_OPEN_PERMISSION);
  ASSERT_GT(id, 0);
  EXPECT_EQ(ops.seek(id, 0, 2), 0) << "opening for writing truncates";
  EXPECT_EQ(ops.close(id), 0);
  EXPECT_TRUE(DeleteFileA(path.c_str()));
}

TEST(PlatformWin32Callbacks, MissingFileAndBadIdsFail) {
  IFFFileOps ops = platform::DefaultFileOps();
  std::string path = TempPath("iffjpeg_win32_missing.jpg");
  DeleteFileA(path.c_str());
  EXPECT_EQ(ops.open(path.c_str(), IFF_OPEN_FLAGS_READ, IFF_OPEN_PERMISSION), -1);
  EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES)
      << "opening for reading creates nothing";
  std::string inMissingDirectory = TempPath("iffjpeg-no-such-dir\\out.jpg");
  EXPECT_EQ(ops.open(inMissingDirectory.c_str(), IFF_OPEN_FLAGS_WRITE, IFF_OPEN_PERMISSION), -1);

  int32_t id = ops.open(TempPath("iffjpeg_win32_twice.jpg").c_str(), IFF_OPEN_FLAGS_WRITE,
                        IFF_OPEN_PERMISSION);
  ASSERT_GT(id, 0);
  EXPECT_EQ(ops.close(id), 0);
  EXPECT_NE(ops.close(id), 0) << "a closed id fails to close again";
  char byte;
  EXPECT_LE(ops.read(id, &byte, 1), 0) << "a closed id reads nothing";
  DeleteFileA(TempPath("iffjpeg_win32_twice.jpg").c_str());
}

TEST(PlatformWin32TempFile, HoldsBytesAtAnyOffsetAndVanishesWhenClosed) {
  int before = iffjpeg_test::OpenFileCount();
  std::intptr_t file = platform::TempFileOpen();
  ASSERT_NE(file, -1);
  EXPECT_EQ(iffjpeg_test::OpenFileCount(), before + 1);

  const char text[] = "window rows";
  ASSERT_TRUE(platform::TempFileWrite(file, text, 5000, sizeof text));
  char back[sizeof text] = {};
  ASSERT_TRUE(platform::TempFileRead(file, back, 5000, sizeof back));
  EXPECT_STREQ(back, text);
  char hole[16] = {1};
  ASSERT_TRUE(platform::TempFileRead(file, hole, 100, sizeof hole));
  EXPECT_EQ(hole[0], 0) << "bytes never written read as zero";
  EXPECT_FALSE(platform::TempFileRead(file, back, 5004, sizeof back)) << "past the end";

  platform::TempFileClose(file);
  EXPECT_EQ(iffjpeg_test::OpenFileCount(), before) << "deleted when closed";
}

TEST(PlatformWin32TempFile, FailureHookFailsOnlyTheNextOpen) {
  iffjpeg::testing::FailNextTempFile(true);
  EXPECT_EQ(platform::TempFileOpen(), -1);
  std::intptr_t file = platform::TempFileOpen();
  EXPECT_NE(file, -1);
  if (file != -1) platform::TempFileClose(file);
}

TEST(PlatformWin32Lock, ExcludesOtherThreads) {
  platform::Lock lock;
  long counter = 0;
  auto work = [&] {
    for (int i = 0; i < 100000; ++i) {
      lock.Enter();
      long seen = counter;
      counter = seen + 1;
      lock.Leave();
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 200000);
}

}  // namespace
