// A third decoder, Go's standard-library image/jpeg, on the files the
// writing options produce: tables built for the image, progressive coding
// and restart markers must give exactly the pixels of the plain file of the
// same quality and subsampling in it too. Skipped where no Go toolchain is
// installed.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "iffjpeg.h"
#include "support/images.h"
#include "support/memory_file.h"
#include "support/process.h"

namespace {

using namespace iffjpeg_test;

struct Option {
  int32_t code;
  int32_t value;
};

std::vector<uint8_t> Write(const Image& img, int quality, const std::vector<Option>& options) {
  MemoryFile file;
  IFFImageInfo info{};
  info.width = img.width;
  info.height = img.height;
  info.planes = img.channels;
  info.bitsPerSample = 8;
  int32_t h = IFFOpen(file.source(), IFF_MODE_WRITE | IFF_MODE_CALLBACKS, &info);
  EXPECT_GT(h, 0);
  EXPECT_EQ(IFFControl(h, IFF_CTL_QUALITY, quality, 0, nullptr), 0);
  for (const Option& o : options) EXPECT_EQ(IFFControl(h, o.code, o.value, 0, nullptr), 0);
  EXPECT_EQ(IFFPutLine(h, static_cast<uint32_t>(img.height), img.pixels.data()), 0);
  EXPECT_EQ(IFFClose(h), 0);
  return file.data;
}

// Builds the Go decoder once; empty when there is no toolchain.
class GoDecoder {
 public:
  GoDecoder() {
    std::string source = std::string(IFFJPEG_TEST_DATA_DIR) + "/../support/go_jpeg_decode.go";
    ProcessResult built = RunProcess(
        {"go", "build", "-o", dir_ / "decode", source},
        {"GOCACHE=" + dir_ / "cache", "GOPATH=" + dir_ / "path", "GO111MODULE=off", "GOFLAGS="});
    if (built.exitStatus == 0) program_ = dir_ / "decode";
  }
  bool available() const { return !program_.empty(); }

  // The RGB samples of the file, or empty when Go refuses it.
  std::vector<uint8_t> Decode(const std::vector<uint8_t>& jpeg) {
    std::string path = dir_ / "in.jpg";
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
      std::fwrite(jpeg.data(), 1, jpeg.size(), f);
      std::fclose(f);
    }
    ProcessResult r = RunProcess({program_}, {}, path);
    if (r.exitStatus != 0) return {};
    return std::vector<uint8_t>(r.out.begin() + static_cast<long>(r.out.find('\n') + 1),
                                r.out.end());
  }

 private:
  TempDir dir_;
  std::string program_;
};

TEST(IndependentDecoder, WritingOptionsKeepThePlainFilesPixels) {
  GoDecoder go;
  if (!go.available()) GTEST_SKIP() << "no Go toolchain";
  struct Case {
    int channels, width, height, quality;
    int32_t sampling;
  };
  const Case cases[] = {{3, 203, 150, 75, 0x420},
                        {3, 97, 61, 92, 0x444},
                        {3, 130, 40, 50, 0x422},
                        {1, 150, 101, 90, 0x420},
                        {3, 33, 17, 100, 0x411}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.channels << " planes " << c.width << "x" << c.height
                                    << " q" << c.quality << std::hex << " " << c.sampling);
    Image img = MakeTestImage(c.width, c.height, c.channels, 31);
    const std::vector<Option> sampling = {{IFF_CTL_SUBSAMPLING, c.sampling}};
    std::vector<uint8_t> plain = go.Decode(Write(img, c.quality, sampling));
    ASSERT_EQ(plain.size(), static_cast<std::size_t>(c.width) * c.height * 3);
    const std::vector<std::vector<Option>> variants = {
        {{IFF_CTL_OPTIMIZE, 1}},
        {{IFF_CTL_PROGRESSIVE, 1}},
        {{IFF_CTL_PROGRESSIVE, 1}, {IFF_CTL_RESTART, 3}},
        {{IFF_CTL_OPTIMIZE, 1}, {IFF_CTL_RESTART, 1}},
    };
    for (std::size_t v = 0; v < variants.size(); ++v) {
      // Go's decoder counts the restart interval of a lone component's
      // scan in the frame's MCUs, not in blocks as T.81 A.2.2 does (this
      // project's decoder and stb_image count blocks): the two agree only
      // where the component is not subsampled against the others.
      const bool loneScansCountBlocks = c.channels == 1 || c.sampling == 0x444;
      if (v == 2 && !loneScansCountBlocks) continue;
      std::vector<Option> options = sampling;
      options.insert(options.end(), variants[v].begin(), variants[v].end());
      EXPECT_EQ(go.Decode(Write(img, c.quality, options)), plain) << "variant " << v;
    }
  }
}

}  // namespace
