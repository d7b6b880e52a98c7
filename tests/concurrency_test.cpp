// Many threads at once, each opening, reading, seeking, writing and closing
// its own handles, with open/close churn on the handle registry and the
// memory manager's guards. Every thread must get exactly the single-threaded
// results. Run it under ThreadSanitizer with the tsan preset:
//   cmake --preset tsan && cmake --build --preset tsan &&
//   build/tsan/tests/iffjpeg_tests --gtest_filter='Concurrency*'
// The fault-injection hooks are process-wide, so this file never uses them.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "iffjpeg.h"
#include "support/codec_runs.h"
#include "support/jpeg_builder.h"

namespace {

using iffjpeg_test::Image;
using iffjpeg_test::MemoryFile;
using iffjpeg_test::ReadRun;

constexpr int kThreads = 8;
constexpr int kRounds = 10;

struct Shared {
  std::vector<std::vector<uint8_t>> files;    // JPEG files to read
  std::vector<ReadRun> reads;                 // their single-threaded decodes
  std::vector<Image> images;                  // images to write
  std::vector<std::vector<uint8_t>> written;  // their single-threaded files
};

Shared Prepare() {
  Shared s;
  iffjpeg_test::JpegBuildOptions restart = iffjpeg_test::ColourOptions(2, 1);
  restart.restartInterval = 3;
  s.files.push_back(iffjpeg_test::BuildJpeg(iffjpeg_test::MakeTestImage(45, 37, 3, 1), restart));
  s.files.push_back(iffjpeg_test::BuildJpeg(iffjpeg_test::MakeTestImage(33, 50, 1, 2),
                                            iffjpeg_test::GreyOptions(2, 2)));
  s.files.push_back(iffjpeg_test::BuildJpeg(iffjpeg_test::MakeTestImage(64, 24, 3, 3),
                                            iffjpeg_test::ColourOptions(2, 2)));
  std::vector<uint8_t> cut = s.files[0];
  cut.resize(cut.size() / 2);
  s.files.push_back(cut);  // truncated: line codes 10 must come out the same too
  for (const auto& f : s.files) s.reads.push_back(iffjpeg_test::ReadBytes(f));
  s.images.push_back(iffjpeg_test::MakeTestImage(40, 30, 3, 7));
  s.images.push_back(iffjpeg_test::MakeTestImage(27, 19, 1, 8));
  for (const auto& img : s.images) {
    MemoryFile file;
    EXPECT_EQ(iffjpeg_test::WriteThrough(img, file, 85).close, 0);
    s.written.push_back(file.data);
  }
  return s;
}

// Reads file i with a backward seek in the middle; true when every line and
// code matches the single-threaded read.
bool ReadMatches(const Shared& s, std::size_t i) {
  const ReadRun& want = s.reads[i];
  MemoryFile file(s.files[i]);
  IFFImageInfo info{};
  int32_t h = IFFOpen(file.source(), IFF_MODE_READ | IFF_MODE_CALLBACKS, &info);
  if (h <= 0) return h == want.open;
  const std::size_t stride = static_cast<std::size_t>(info.width) * info.planes;
  std::vector<uint8_t> line(stride);
  bool same = true;
  for (int pass = 0; pass < 2; ++pass) {
    for (int32_t y = pass == 0 ? 0 : info.height / 3; y < info.height; ++y) {
      int32_t rc = IFFGetLine(h, 1, line.data());
      same = same && rc == want.codes[static_cast<std::size_t>(y)] &&
             std::equal(line.begin(), line.end(), want.pixels.begin() + stride * y);
    }
    if (pass == 0) same = same && IFFSeek(h, info.height / 3) == 0;
  }
  int32_t closed = IFFClose(h);
  return same && closed == want.close;
}

bool WriteMatches(const Shared& s, std::size_t i) {
  MemoryFile file;
  iffjpeg_test::WriteRun run = iffjpeg_test::WriteThrough(s.images[i], file, 85);
  return run.close == 0 && file.data == s.written[i];
}

// Opens a handful of handles, closes them in another order, and checks that
// the closed values are dead everywhere.
bool Churn(const Shared& s, unsigned seed) {
  std::vector<std::unique_ptr<MemoryFile>> files;
  std::vector<int32_t> handles;
  for (int k = 0; k < 5; ++k) {
    files.push_back(std::make_unique<MemoryFile>(s.files[(seed + k) % 3]));
    IFFImageInfo info{};
    int32_t h = IFFOpen(files.back()->source(), IFF_MODE_READ | IFF_MODE_CALLBACKS, &info);
    if (h <= 0) return false;
    handles.push_back(h);
  }
  bool ok = true;
  for (std::size_t k = 0; k < handles.size(); ++k) {
    int32_t h = handles[(k * 3 + seed) % handles.size()];
    ok = ok && IFFClose(h) == 0;
    uint8_t slot[4];
    ok = ok && IFFClose(h) == IFF_ERR_INVALID && IFFGetLine(h, 1, slot) == IFF_ERR_INVALID &&
         IFFSeek(h, 0) == IFF_ERR_INVALID &&
         IFFControl(h, IFF_CTL_LAST_ERROR, 0, 0, slot) == IFF_ERR_INVALID;
  }
  return ok;
}

TEST(Concurrency, ThreadsGetTheSingleThreadedResults) {
  const Shared shared = Prepare();
  std::atomic<int> failures{0};
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ++ready;
      while (ready.load() < kThreads) std::this_thread::yield();  // start together
      for (int round = 0; round < kRounds; ++round) {
        unsigned seed = static_cast<unsigned>(t * 31 + round);
        if (!ReadMatches(shared, seed % shared.files.size())) ++failures;
        if (!WriteMatches(shared, seed % shared.images.size())) ++failures;
        if (!Churn(shared, seed)) ++failures;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
}

// Handles of one thread stay valid while other threads open and close many.
TEST(Concurrency, LongLivedHandlesSurviveChurnOnOtherThreads) {
  const Shared shared = Prepare();
  MemoryFile file(shared.files[2]);
  IFFImageInfo info{};
  int32_t h = IFFOpen(file.source(), IFF_MODE_READ | IFF_MODE_CALLBACKS, &info);
  ASSERT_GT(h, 0);
  constexpr int kChurners = 4;
  std::atomic<int> churning{kChurners};
  std::vector<std::thread> churners;
  std::atomic<int> failures{0};
  for (int t = 0; t < kChurners; ++t) {
    churners.emplace_back([&, t] {
      for (unsigned i = 0; i < 100; ++i) {
        if (!Churn(shared, static_cast<unsigned>(t) + i)) ++failures;
      }
      --churning;
    });
  }
  const std::size_t stride = static_cast<std::size_t>(info.width) * info.planes;
  std::vector<uint8_t> line(stride);
  bool same = true;
  for (int pass = 0; pass < 3 || churning.load() > 0; ++pass) {
    EXPECT_EQ(IFFSeek(h, 0), 0);
    for (int32_t y = 0; y < info.height; ++y) {
      same = same && IFFGetLine(h, 1, line.data()) == 0 &&
             std::equal(line.begin(), line.end(), shared.reads[2].pixels.begin() + stride * y);
    }
  }
  for (auto& thread : churners) thread.join();
  EXPECT_TRUE(same);
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(IFFClose(h), 0);
}

}  // namespace
