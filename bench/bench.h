// Shared declarations of the benchmark: test images, the two codecs behind
// one interface each, and the timing helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace iffjpeg_bench {

struct Image {
  int32_t width = 0;
  int32_t height = 0;
  int32_t planes = 0;  // 1 grey, 3 RGB
  std::vector<uint8_t> pixels;
  std::string name;  // a photograph's file name without extension
};

// Loads every photograph (.jpg, .png) found in the directories, largest
// first. Decoding uses stb_image: the photographs are only a pixel source.
std::vector<Image> LoadPhotographs(const std::vector<std::string>& directories);

// A width x height RGB image cut from the photographs: one photograph
// centre-cropped when it is large enough, otherwise a grid of photographs
// each cropped (and mirrored where short) to its cell. With no photographs
// a deterministic synthetic scene stands in.
Image ComposeImage(const std::vector<Image>& photos, int32_t width, int32_t height);
Image ToGrey(const Image& rgb);

// stb_image_write's JPEG writer: quality <= 90 writes 4:2:0, above 4:4:4.
std::vector<uint8_t> StbEncode(const Image& image, int quality);
// stb_image's decoder; planes is the requested output (1 or 3).
bool StbDecode(const std::vector<uint8_t>& jpeg, int planes, std::vector<uint8_t>& out);

// iffjpeg through caller-supplied callbacks on memory.
// mode is OR-ed into the read mode (IFF_MODE_EXTENDED for progressive files).
bool IffDecode(const std::vector<uint8_t>& jpeg, std::vector<uint8_t>& out, int32_t mode = 0);
// The same into a buffer allocated for this decode alone and freed after
// it, as a host allocates its image (and as stb_image allocates its own):
// the first touch of every page is part of the decode.
bool IffDecodeFresh(const std::vector<uint8_t>& jpeg, int32_t mode = 0);
// Decoding at 1/scale (IFF_CTL_SCALE: 1, 2, 4, 8) into a fresh buffer.
bool IffDecodeScaled(const std::vector<uint8_t>& jpeg, int32_t scale);
// option: 0, or a writing option set to 1 before the first line
// (IFF_CTL_OPTIMIZE, IFF_CTL_PROGRESSIVE).
bool IffEncode(const Image& image, int quality, std::vector<uint8_t>& out, int32_t option = 0);

// Peak resident memory of a child process running one case (kB), or -1.
// mode is "decode" (arg: a file) or "encode" (args: width height).
long ChildPeakKb(const std::string& self, const std::vector<std::string>& args);
// The child side: runs the case named by argv and prints VmHWM.
int RunChildCase(int argc, char** argv);
// Writes a width x height RGB JPEG with iffjpeg, streaming synthetic lines.
bool WriteTallFile(const std::string& path, int32_t width, int32_t height);

// The progressive photographs (SOF2) among the .jpg files of the
// directories, as read from disk, largest first, with their names.
struct JpegFile {
  std::string name;
  std::vector<uint8_t> bytes;
  int64_t pixels = 0;
};
std::vector<JpegFile> LoadProgressiveFiles(const std::vector<std::string>& directories);
// The named files as they are on disk (those that cannot be read are left
// out), with their frame's sampling in `layout` ("4:2:0", "4:2:2", "4:4:4",
// "grey" or the factors themselves).
struct ShippedFile {
  JpegFile file;
  std::string layout;
};
std::vector<ShippedFile> LoadShippedFiles(const std::vector<std::string>& paths);

double Seconds();

}  // namespace iffjpeg_bench
