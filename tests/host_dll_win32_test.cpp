// A Windows host as the library's users write one: iffjpeg.dll loaded with
// LoadLibraryA, the six entry points found with GetProcAddress under their
// plain names and called through the host's own cdecl prototypes. Files go
// through the default callbacks (CreateFileA) and must come out byte for byte
// as the library linked into this test program writes them.
#define WIN32_LEAN_AND_MEAN
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "iffjpeg.h"
#include "support/images.h"

namespace {

// The host's own view of the ABI: only C types, no library header.
struct HostImageInfo {
  int32_t reserved, width, height, planes, bitsPerSample;
  uint32_t compression;
  int32_t clearedOnOpen;
};
using OpenFn = int32_t(__cdecl*)(const void*, int32_t, HostImageInfo*);
using CloseFn = int32_t(__cdecl*)(int32_t);
using GetLineFn = int32_t(__cdecl*)(int32_t, uint32_t, uint8_t*);
using PutLineFn = int32_t(__cdecl*)(int32_t, uint32_t, const uint8_t*);
using SeekFn = int32_t(__cdecl*)(int32_t, int32_t);
using ControlFn = int32_t(__cdecl*)(int32_t, int32_t, int32_t, int32_t, void*);

// The DLL sits one directory above the test program in the build tree.
std::string DllPath() {
  char exe[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, exe, sizeof exe);
  std::string path(exe, n);
  path.erase(path.find_last_of("\\/") + 1);
  return path + "..\\iffjpeg.dll";
}

std::string TempPath(const char* name) {
  char directory[MAX_PATH + 1];
  GetTempPathA(sizeof directory, directory);
  return std::string(directory) + name;
}

template <typename Fn>
Fn Find(HMODULE dll, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
}

class HostDll : public testing::Test {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(Load()); }
  void TearDown() override {
    if (dll_ != nullptr) FreeLibrary(dll_);
  }
  void Load() {
    dll_ = LoadLibraryA(DllPath().c_str());
    ASSERT_NE(dll_, nullptr) << DllPath() << ": error " << GetLastError();
    open_ = Find<OpenFn>(dll_, "IFFOpen");
    close_ = Find<CloseFn>(dll_, "IFFClose");
    getLine_ = Find<GetLineFn>(dll_, "IFFGetLine");
    putLine_ = Find<PutLineFn>(dll_, "IFFPutLine");
    seek_ = Find<SeekFn>(dll_, "IFFSeek");
    control_ = Find<ControlFn>(dll_, "IFFControl");
    ASSERT_TRUE(open_ && close_ && getLine_ && putLine_ && seek_ && control_);
  }
  // Writes the image through the DLL at the given quality; returns the code
  // of IFFClose.
  int32_t WriteWithDll(const std::string& path, const iffjpeg_test::Image& img, int quality) {
    HostImageInfo info{0, img.width, img.height, img.channels, 8, 0, 7};
    int32_t h = open_(path.c_str(), IFF_MODE_WRITE, &info);
    EXPECT_GT(h, 0);
    if (h <= 0) return -h;
    EXPECT_EQ(control_(h, IFF_CTL_QUALITY, quality, 0, &info), 0);
    for (int y = 0; y < img.height; ++y) EXPECT_EQ(putLine_(h, 1, img.row(y)), 0);
    return close_(h);
  }

  HMODULE dll_ = nullptr;
  OpenFn open_ = nullptr;
  CloseFn close_ = nullptr;
  GetLineFn getLine_ = nullptr;
  PutLineFn putLine_ = nullptr;
  SeekFn seek_ = nullptr;
  ControlFn control_ = nullptr;
};

// The same image through the linked-in library, for comparison.
std::vector<uint8_t> WriteWithLinkedLibrary(const std::string& path, const iffjpeg_test::Image& img,
                                            int quality) {
  IFFImageInfo info{0, img.width, img.height, img.channels, 8, 0, 7};
  int32_t h = IFFOpen(path.c_str(), IFF_MODE_WRITE, &info);
  EXPECT_GT(h, 0);
  if (h <= 0) return {};
  EXPECT_EQ(IFFControl(h, IFF_CTL_QUALITY, quality, 0, &info), 0);
  for (int y = 0; y < img.height; ++y) EXPECT_EQ(IFFPutLine(h, 1, img.row(y)), 0);
  EXPECT_EQ(IFFClose(h), 0);
  return iffjpeg_test::ReadFileBytes(path.c_str());
}

TEST_F(HostDll, ExportsOnlyPlainNames) {
  for (const char* decorated : {"_IFFOpen", "IFFOpen@12", "_IFFOpen@12", "_IFFClose@4"}) {
    EXPECT_EQ(GetProcAddress(dll_, decorated), nullptr) << decorated;
  }
}

TEST_F(HostDll, WritesTheSameBytesAsTheLinkedLibraryAndReadsThemBack) {
  for (int channels : {1, 3}) {
    SCOPED_TRACE(channels);
    iffjpeg_test::Image img = iffjpeg_test::MakeTestImage(97, 61, channels, 33);
    std::string dllFile = TempPath("iffjpeg_dll_host.jpg");
    std::string ownFile = TempPath("iffjpeg_dll_linked.jpg");
    ASSERT_EQ(WriteWithDll(dllFile, img, 85), 0);
    std::vector<uint8_t> expected = WriteWithLinkedLibrary(ownFile, img, 85);
    std::vector<uint8_t> written = iffjpeg_test::ReadFileBytes(dllFile.c_str());
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(written, expected);

    HostImageInfo info{};
    int32_t h = open_(dllFile.c_str(), IFF_MODE_READ, &info);
    ASSERT_GT(h, 0);
    EXPECT_EQ(info.width, 97);
    EXPECT_EQ(info.height, 61);
    EXPECT_EQ(info.planes, channels);
    iffjpeg_test::Image back{97, 61, channels, std::vector<uint8_t>(img.pixels.size())};
    for (int y = 0; y < 61; ++y) ASSERT_EQ(getLine_(h, 1, back.row(y)), 0) << y;
    ASSERT_EQ(seek_(h, 10), 0) << "backward seek rewinds through _llseek";
    std::vector<uint8_t> line(static_cast<std::size_t>(97 * channels));
    ASSERT_EQ(getLine_(h, 1, line.data()), 0);
    EXPECT_EQ(std::vector<uint8_t>(back.row(10), back.row(10) + line.size()), line);
    EXPECT_EQ(close_(h), 0);

    iffjpeg_test::Image stb;
    ASSERT_TRUE(iffjpeg_test::StbDecode(written, &stb));
    EXPECT_GT(iffjpeg_test::Psnr(stb, back), 40.0) << "decoded as an independent decoder does";
    DeleteFileA(dllFile.c_str());
    DeleteFileA(ownFile.c_str());
  }
}

TEST_F(HostDll, MissingFileAndBadHandlesAnswerWithCodes) {
  HostImageInfo info{};
  std::string missing = TempPath("iffjpeg_dll_missing.jpg");
  DeleteFileA(missing.c_str());
  EXPECT_EQ(open_(missing.c_str(), IFF_MODE_READ, &info), -IFF_ERR_OPEN);
  EXPECT_EQ(close_(12345), IFF_ERR_INVALID);
  EXPECT_EQ(getLine_(0, 1, nullptr), IFF_ERR_INVALID);
}

TEST_F(HostDll, WorksAgainAfterUnloadAndReload) {
  // Unloading destroys the library's locks and reloading builds them anew;
  // a handle's whole life must work on the second load as on the first.
  ASSERT_TRUE(FreeLibrary(dll_));
  dll_ = nullptr;
  ASSERT_NO_FATAL_FAILURE(Load());
  iffjpeg_test::Image img = iffjpeg_test::MakeTestImage(16, 16, 3, 5);
  std::string file = TempPath("iffjpeg_dll_reload.jpg");
  EXPECT_EQ(WriteWithDll(file, img, 75), 0);
  HostImageInfo info{};
  int32_t h = open_(file.c_str(), IFF_MODE_READ, &info);
  ASSERT_GT(h, 0);
  EXPECT_EQ(close_(h), 0);
  DeleteFileA(file.c_str());
}

}  // namespace
