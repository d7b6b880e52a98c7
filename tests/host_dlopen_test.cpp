// A host as the library's users write one: the shared library is loaded
// with dlopen, the six entry points are found by name and called through the
// host's own prototypes, for a full write, a full read and the control codes.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/images.h"
#include "support/process.h"

namespace {

// The host's own view of the ABI: only C types, no library header.
struct HostImageInfo {
  int32_t reserved, width, height, planes, bitsPerSample;
  uint32_t compression;
  int32_t clearedOnOpen;
};
using OpenFn = int32_t (*)(const void*, int32_t, HostImageInfo*);
using CloseFn = int32_t (*)(int32_t);
using GetLineFn = int32_t (*)(int32_t, uint32_t, uint8_t*);
using PutLineFn = int32_t (*)(int32_t, uint32_t, const uint8_t*);
using SeekFn = int32_t (*)(int32_t, int32_t);
using ControlFn = int32_t (*)(int32_t, int32_t, int32_t, int32_t, void*);

class HostLibrary : public testing::Test {
 protected:
  void SetUp() override {
    lib_ = dlopen(IFFJPEG_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib_, nullptr) << dlerror();
    open_ = reinterpret_cast<OpenFn>(dlsym(lib_, "IFFOpen"));
    close_ = reinterpret_cast<CloseFn>(dlsym(lib_, "IFFClose"));
    getLine_ = reinterpret_cast<GetLineFn>(dlsym(lib_, "IFFGetLine"));
    putLine_ = reinterpret_cast<PutLineFn>(dlsym(lib_, "IFFPutLine"));
    seek_ = reinterpret_cast<SeekFn>(dlsym(lib_, "IFFSeek"));
    control_ = reinterpret_cast<ControlFn>(dlsym(lib_, "IFFControl"));
    ASSERT_TRUE(open_ && close_ && getLine_ && putLine_ && seek_ && control_);
  }
  void TearDown() override {
    if (lib_ != nullptr) dlclose(lib_);
  }
  void* lib_ = nullptr;
  OpenFn open_ = nullptr;
  CloseFn close_ = nullptr;
  GetLineFn getLine_ = nullptr;
  PutLineFn putLine_ = nullptr;
  SeekFn seek_ = nullptr;
  ControlFn control_ = nullptr;
};

TEST_F(HostLibrary, WritesReadsAndControlsThroughTheSixSymbols) {
  iffjpeg_test::TempDir dir;
  std::string path = dir / "host.jpg";
  iffjpeg_test::Image img = iffjpeg_test::MakeTestImage(97, 61, 3, 21);

  HostImageInfo out{0, 97, 61, 3, 8, 0, 7};
  int32_t w = open_(path.c_str(), 1, &out);
  ASSERT_GT(w, 0);
  EXPECT_EQ(out.clearedOnOpen, 0);
  int32_t dpi[2] = {200, 100};
  EXPECT_EQ(control_(w, 0x5701, 92, 0, nullptr), 0);
  EXPECT_EQ(control_(w, 7, 3, 0, dpi), 0);
  uint16_t lineBytes = 0;
  EXPECT_EQ(control_(w, 1, 0, 0, &lineBytes), 0);
  EXPECT_EQ(lineBytes, 97 * 3);
  EXPECT_EQ(putLine_(w, 30, img.row(0)), 0);
  EXPECT_EQ(putLine_(w, 31, img.row(30)), 0);
  EXPECT_EQ(close_(w), 0);

  std::vector<uint8_t> bytes = iffjpeg_test::ReadFileBytes(path.c_str());
  iffjpeg_test::Image reference;
  ASSERT_TRUE(iffjpeg_test::StbDecode(bytes, &reference));

  HostImageInfo in{};
  int32_t r = open_(path.c_str(), 0, &in);
  ASSERT_GT(r, 0);
  EXPECT_EQ(in.width, 97);
  EXPECT_EQ(in.height, 61);
  EXPECT_EQ(in.planes, 3);
  EXPECT_EQ(in.bitsPerSample, 8);
  EXPECT_EQ(in.compression, 1u);
  int32_t got[2] = {0, 0};
  EXPECT_EQ(control_(r, 0x8007, 3, 0, got), 0);
  EXPECT_EQ(got[0], 200);
  EXPECT_EQ(got[1], 100);

  iffjpeg_test::Image decoded = img;
  EXPECT_EQ(getLine_(r, 61, decoded.pixels.data()), 0);
  EXPECT_GT(iffjpeg_test::Psnr(decoded, reference), 38.0);
  EXPECT_GT(iffjpeg_test::Psnr(decoded, img), 30.0);
  std::vector<uint8_t> line(97 * 3);
  EXPECT_EQ(seek_(r, 40), 0);
  EXPECT_EQ(getLine_(r, 1, line.data()), 0);
  EXPECT_EQ(std::vector<uint8_t>(decoded.row(40), decoded.row(41)), line);
  int32_t last = -1;
  EXPECT_EQ(control_(r, 0, 0, 0, &last), 0);
  EXPECT_EQ(last, 0);
  EXPECT_EQ(control_(r, 0x5701, 50, 0, nullptr), 2);
  EXPECT_EQ(control_(r, 2, 0, 0, &last), 3);
  EXPECT_EQ(close_(r), 0);
  EXPECT_EQ(close_(r), 2);
}

TEST(HostExample, CopiesAFileThroughMemoryCallbacks) {
  iffjpeg_test::TempDir dir;
  std::string in = dir / "in.jpg";
  std::string out = dir / "out.jpg";
  // The input is written by the CLI; the example reads it through memory
  // callbacks and writes the copy through the default ones.
  iffjpeg_test::Image img = iffjpeg_test::MakeTestImage(50, 40, 1, 5);
  {
    std::string pgm = dir / "in.pgm";
    FILE* f = std::fopen(pgm.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fprintf(f, "P5\n50 40\n255\n");
    std::fwrite(img.pixels.data(), 1, img.pixels.size(), f);
    std::fclose(f);
    auto encoded = iffjpeg_test::RunProcess({IFFJPEG_CLI, "encode", pgm, in});
    ASSERT_EQ(encoded.exitStatus, 0) << encoded.err;
  }
  auto run = iffjpeg_test::RunProcess({IFFJPEG_HOST_EXAMPLE, in, out});
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_NE(run.out.find("50 x 40, greyscale"), std::string::npos) << run.out;
  iffjpeg_test::Image copy;
  ASSERT_TRUE(iffjpeg_test::StbDecode(iffjpeg_test::ReadFileBytes(out.c_str()), &copy));
  EXPECT_EQ(copy.width, 50);
  EXPECT_GT(iffjpeg_test::Psnr(copy, img), 30.0);
}

}  // namespace
