// iffjpeg against an independent peer (stb_image / stb_image_write), one
// thread, from memory through caller-supplied callbacks. Each case runs the
// two codecs alternately (A B A B ...) and reports medians, so that drift in
// the machine's speed hits both alike. Prints Markdown tables.
//
// Progressive photographs (SOF2 files among the photographs) get a table of
// their own, decoded as they are on disk, and so do a few sequential ones
// of every sampling layout. Every decoding run, of either codec, puts the
// image into a buffer allocated for that run alone, as a host does.
//
//   iffjpeg_bench [--smoke] [--reps N] [--only SIZE|FILE] [--decode-only] [--save DIR]
//                 [--photos DIR]...
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "bench.h"
#include "iffjpeg.h"

extern "C" {
#include "stb_image.h"
}

namespace iffjpeg_bench {

double Seconds() {
  using Clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

namespace {

struct Options {
  bool smoke = false;
  int reps = 0;  // 0: chosen per case from its size
  std::vector<std::string> photoDirs;
  std::string only;  // a size name (e.g. "8 MP") or photograph to run alone, for profiling
  bool noMemory = false;
  bool decodeOnly = false;  // the decoding tables alone
  std::string saveDir;      // where to keep the decoding inputs, for other tools
};

struct Size {
  const char* name;
  int32_t width;
  int32_t height;
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Runs a and b alternately and returns their median times.
std::pair<double, double> Interleaved(int reps, const std::function<bool()>& a,
                                      const std::function<bool()>& b) {
  std::vector<double> ta, tb;
  a();  // warm caches and the allocator once each
  b();
  for (int i = 0; i < reps; ++i) {
    double t0 = Seconds();
    if (!a()) std::fprintf(stderr, "iffjpeg run failed\n");
    double t1 = Seconds();
    if (!b()) std::fprintf(stderr, "stb run failed\n");
    double t2 = Seconds();
    ta.push_back(t1 - t0);
    tb.push_back(t2 - t1);
  }
  return {Median(ta), Median(tb)};
}

int RepsFor(const Options& opt, int64_t pixels) {
  if (opt.reps > 0) return opt.reps;
  if (opt.smoke) return 1;
  if (pixels <= 16 * 16) return 2001;  // icons: microseconds a run
  if (pixels <= 64 * 64) return 301;
  if (pixels <= 512 * 512) return 41;
  if (pixels <= 2000000) return 11;
  return 7;
}

void PrintRow(const char* what, const Size& s, double mp, double ta, double tb) {
  std::printf("| %s | %s (%dx%d) | %.1f | %.1f | %.2f |\n", what, s.name, s.width, s.height,
              mp / ta, mp / tb, tb / ta);
}

// Keeps a decoding input as DIR/<size>-<layout>.jpg (spaces and
// punctuation folded to '_'), so that profilers and other decoders can be
// run on exactly the bytes measured here.
void SaveInput(const std::string& dir, const char* layout, const char* size,
               const std::vector<uint8_t>& jpeg) {
  std::string name = std::string(size) + "-" + layout;
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  std::string path = dir + "/" + name + ".jpg";
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(jpeg.data(), 1, jpeg.size(), f);
    std::fclose(f);
  }
}

bool DecodeTable(const Options& opt, const std::vector<Image>& photos,
                 const std::vector<Size>& sizes) {
  std::printf("\n### Decoding (MP/s; ratio = iffjpeg / stb_image)\n\n");
  std::printf("| input | size | iffjpeg | stb_image | ratio |\n|---|---|---:|---:|---:|\n");
  bool ok = true;
  for (const Size& s : sizes) {
    Image rgb = ComposeImage(photos, s.width, s.height);
    Image grey = ToGrey(rgb);
    // stb_image_write codes every image as three components, so a grey
    // image written by it is a colour file with neutral chroma (stb_image
    // asked for one plane then skips the chroma, iffjpeg must deliver RGB).
    // The greyscale row is a true one-component file, which only iffjpeg's
    // encoder writes here; both decoders read the same bytes.
    struct Layout {
      const char* name;
      const Image* image;
      int quality;
      bool ownEncoder;
    } layouts[] = {{"colour 4:2:0 (q90)", &rgb, 90, false},
                   {"colour 4:4:4 (q95)", &rgb, 95, false},
                   {"greyscale, one component (q90)", &grey, 90, true}};
    for (const Layout& l : layouts) {
      std::vector<uint8_t> jpeg;
      if (l.ownEncoder) {
        if (!IffEncode(*l.image, l.quality, jpeg)) return false;
      } else {
        jpeg = StbEncode(*l.image, l.quality);
      }
      if (!opt.saveDir.empty()) SaveInput(opt.saveDir, l.name, s.name, jpeg);
      std::vector<uint8_t> outA(l.image->pixels.size()), outB(16);
      int planes = l.image->planes;
      double mp = static_cast<double>(s.width) * s.height / 1e6;
      auto [ta, tb] = Interleaved(
          RepsFor(opt, int64_t{s.width} * s.height), [&] { return IffDecodeFresh(jpeg); },
          [&] { return StbDecode(jpeg, planes, outB); });
      ok = ok && IffDecode(jpeg, outA);
      PrintRow(l.name, s, mp, ta, tb);
      std::fflush(stdout);
    }
  }
  return ok;
}

// The progressive photographs as they are on disk, read in extended mode
// (iffjpeg) against stb_image, both to RGB.
bool ProgressiveTable(const Options& opt, const std::vector<std::string>& dirs) {
  std::vector<JpegFile> files = LoadProgressiveFiles(dirs);
  if (!opt.only.empty()) {
    std::erase_if(files, [&](const JpegFile& f) { return opt.only != f.name; });
  }
  if (opt.smoke && files.size() > 1) files.erase(files.begin(), files.end() - 1);
  if (files.empty()) return true;
  std::printf("\n### Decoding progressive photographs (MP/s; ratio = iffjpeg / stb_image)\n\n");
  std::printf(
      "| photograph | size | iffjpeg ms | stb_image ms | iffjpeg | stb_image | ratio |\n"
      "|---|---|---:|---:|---:|---:|---:|\n");
  bool ok = true;
  for (const JpegFile& file : files) {
    int w = 0, h = 0, c = 0;
    stbi_info_from_memory(file.bytes.data(), static_cast<int>(file.bytes.size()), &w, &h, &c);
    std::vector<uint8_t> outA(static_cast<size_t>(file.pixels) * 3), outB(16);
    auto [ta, tb] = Interleaved(
        RepsFor(opt, file.pixels), [&] { return IffDecodeFresh(file.bytes, IFF_MODE_EXTENDED); },
        [&] { return StbDecode(file.bytes, 3, outB); });
    ok = ok && IffDecode(file.bytes, outA, IFF_MODE_EXTENDED);
    double mp = static_cast<double>(file.pixels) / 1e6;
    std::printf("| %s | %dx%d | %.1f | %.1f | %.1f | %.1f | %.2f |\n", file.name.c_str(), w, h,
                ta * 1e3, tb * 1e3, mp / ta, mp / tb, tb / ta);
    std::fflush(stdout);
  }
  return ok;
}

// Sequential photographs as they are on disk, not coded again here: dense
// 4:2:2 and 4:2:0 ones, and a lightly compressed 4:4:4 one, where the
// stages after the entropy decoder weigh most. Both codecs give RGB.
const char* const kShippedPhotographs[] = {
    "/usr/share/backgrounds/mate/nature/Blinds.jpg",
    "/usr/share/backgrounds/mate/nature/Dune.jpg",
    "/usr/share/backgrounds/mate/nature/Storm.jpg",
    "/usr/share/backgrounds/mate/nature/Wood.jpg",
    "/usr/share/backgrounds/mate/nature/RainDrops.jpg",
    "/usr/share/backgrounds/mate/desktop/GreenTraditional.jpg",
};

bool ShippedTable(const Options& opt) {
  std::vector<ShippedFile> files =
      LoadShippedFiles({std::begin(kShippedPhotographs), std::end(kShippedPhotographs)});
  if (!opt.only.empty()) {
    std::erase_if(files, [&](const ShippedFile& f) { return opt.only != f.file.name; });
  }
  if (opt.smoke && files.size() > 1) files.erase(files.begin() + 1, files.end());
  if (files.empty()) return true;
  std::printf("\n### Decoding photographs as shipped (MP/s; ratio = iffjpeg / stb_image)\n\n");
  std::printf(
      "| photograph | size | sampling | iffjpeg ms | stb_image ms | iffjpeg | stb_image | ratio |\n"
      "|---|---|---|---:|---:|---:|---:|---:|\n");
  bool ok = true;
  for (const ShippedFile& shipped : files) {
    const JpegFile& file = shipped.file;
    int w = 0, h = 0, c = 0;
    stbi_info_from_memory(file.bytes.data(), static_cast<int>(file.bytes.size()), &w, &h, &c);
    std::vector<uint8_t> outA(static_cast<size_t>(file.pixels) * 3), outB(16);
    auto [ta, tb] = Interleaved(
        RepsFor(opt, file.pixels), [&] { return IffDecodeFresh(file.bytes); },
        [&] { return StbDecode(file.bytes, 3, outB); });
    ok = ok && IffDecode(file.bytes, outA);
    double mp = static_cast<double>(file.pixels) / 1e6;
    std::printf("| %s | %dx%d | %s | %.1f | %.1f | %.1f | %.1f | %.2f |\n", file.name.c_str(), w, h,
                shipped.layout.c_str(), ta * 1e3, tb * 1e3, mp / ta, mp / tb, tb / ta);
    std::fflush(stdout);
  }
  return ok;
}

bool EncodeTable(const Options& opt, const std::vector<Image>& photos,
                 const std::vector<Size>& sizes) {
  std::printf("\n### Encoding at quality 75 (MP/s; ratio = iffjpeg / stb_image_write)\n\n");
  std::printf("| input | size | iffjpeg | stb_image_write | ratio |\n|---|---|---:|---:|---:|\n");
  bool ok = true;
  for (const Size& s : sizes) {
    Image rgb = ComposeImage(photos, s.width, s.height);
    Image grey = ToGrey(rgb);
    for (const Image* img : {&rgb, &grey}) {
      std::vector<uint8_t> outA, outB;
      outA.reserve(img->pixels.size());
      double mp = static_cast<double>(s.width) * s.height / 1e6;
      auto [ta, tb] = Interleaved(
          RepsFor(opt, int64_t{s.width} * s.height), [&] { return IffEncode(*img, 75, outA); },
          [&] {
            outB = StbEncode(*img, 75);
            return !outB.empty();
          });
      ok = ok && IffEncode(*img, 75, outA);
      PrintRow(img->planes == 3 ? "colour (4:2:0)" : "greyscale", s, mp, ta, tb);
      std::fflush(stdout);
    }
    // Tables built for the image, and progressive files: every coefficient
    // kept, coded at close.
    struct Option {
      const char* name;
      int32_t code;
    };
    for (Option o : {Option{"colour (4:2:0), optimized tables", IFF_CTL_OPTIMIZE},
                     Option{"colour (4:2:0), progressive", IFF_CTL_PROGRESSIVE}}) {
      std::vector<uint8_t> outA, outB;
      double mp = static_cast<double>(s.width) * s.height / 1e6;
      auto [ta, tb] = Interleaved(
          RepsFor(opt, int64_t{s.width} * s.height),
          [&] { return IffEncode(rgb, 75, outA, o.code); },
          [&] {
            outB = StbEncode(rgb, 75);
            return !outB.empty();
          });
      ok = ok && IffEncode(rgb, 75, outA, o.code);
      PrintRow(o.name, s, mp, ta, tb);
      std::fflush(stdout);
    }
  }
  return ok;
}

// Reduced decoding (IFF_CTL_SCALE) against the full decode of the same
// file, interleaved: the 8 MP colour file of the decoding table.
bool ScaledTable(const Options& opt, const std::vector<Image>& photos) {
  Size s = opt.smoke ? Size{"odd", 97, 41} : Size{"8 MP", 3264, 2448};
  Image rgb = ComposeImage(photos, s.width, s.height);
  std::vector<uint8_t> jpeg = StbEncode(rgb, 90);
  std::printf("\n### Scaled decoding, colour 4:2:0 (q90), %s (ms; speed-up = full / scaled)\n\n",
              s.name);
  std::printf("| scale | full ms | scaled ms | speed-up |\n|---|---:|---:|---:|\n");
  bool ok = true;
  for (int32_t scale : {2, 4, 8}) {
    auto [tf, ts] = Interleaved(
        RepsFor(opt, int64_t{s.width} * s.height), [&] { return IffDecodeScaled(jpeg, 1); },
        [&] { return IffDecodeScaled(jpeg, scale); });
    ok = ok && IffDecodeScaled(jpeg, scale);
    std::printf("| 1/%d | %.1f | %.1f | %.2f |\n", scale, tf * 1e3, ts * 1e3, tf / ts);
    std::fflush(stdout);
  }
  return ok;
}

// What tables built for the image and progressive coding save on each
// photograph (4:2:0, as the default writes it), in bytes and per cent of
// the default file.
bool SizeTable(const Options& opt, const std::vector<Image>& photos) {
  std::printf("\n### File sizes, 4:2:0 (bytes; saving against the default file)\n\n");
  std::printf(
      "| photograph | quality | default | optimized | saving | progressive | saving |\n"
      "|---|---:|---:|---:|---:|---:|---:|\n");
  bool ok = true;
  std::size_t count = opt.smoke ? std::min<std::size_t>(photos.size(), 2) : photos.size();
  for (std::size_t i = 0; i < count; ++i) {
    const Image& photo = photos[i];
    for (int quality : {75, 90}) {
      std::vector<uint8_t> plain, optimized, progressive;
      ok = ok && IffEncode(photo, quality, plain) &&
           IffEncode(photo, quality, optimized, IFF_CTL_OPTIMIZE) &&
           IffEncode(photo, quality, progressive, IFF_CTL_PROGRESSIVE);
      auto saving = [&](const std::vector<uint8_t>& f) {
        return 100.0 * (1.0 - static_cast<double>(f.size()) / static_cast<double>(plain.size()));
      };
      std::printf("| %s | %d | %zu | %zu | %.1f%% | %zu | %.1f%% |\n", photo.name.c_str(), quality,
                  plain.size(), optimized.size(), saving(optimized), progressive.size(),
                  saving(progressive));
      std::fflush(stdout);
    }
  }
  return ok;
}

bool MemoryTable(const Options& opt, const std::string& self) {
  int32_t tall = opt.smoke ? 2048 : 60000;
  std::string dir = "/tmp/iffjpeg_bench_" + std::to_string(getpid());
  std::string small = dir + "_512.jpg", large = dir + "_tall.jpg";
  if (!WriteTallFile(small, 512, 512) || !WriteTallFile(large, 512, tall)) return false;
  long decSmall = ChildPeakKb(self, {"decode", small});
  long decLarge = ChildPeakKb(self, {"decode", large});
  long encSmall = ChildPeakKb(self, {"encode", "512", "512"});
  long encLarge = ChildPeakKb(self, {"encode", "512", std::to_string(tall)});
  std::remove(small.c_str());
  std::remove(large.c_str());
  std::printf("\n### Peak memory (VmHWM of a child process, KiB)\n\n");
  std::printf("| operation | 512 x 512 | 512 x %d | difference |\n|---|---:|---:|---:|\n", tall);
  std::printf("| decode | %ld | %ld | %ld |\n", decSmall, decLarge, decLarge - decSmall);
  std::printf("| encode | %ld | %ld | %ld |\n", encSmall, encLarge, encLarge - encSmall);
  return decSmall > 0 && decLarge > 0 && encSmall > 0 && encLarge > 0;
}

}  // namespace
}  // namespace iffjpeg_bench

int main(int argc, char** argv) {
  using namespace iffjpeg_bench;
  if (argc >= 2 && std::strcmp(argv[1], "--child") == 0) return RunChildCase(argc, argv);
  Options opt;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--smoke") == 0) {
      opt.smoke = true;
    } else if (std::strcmp(argv[i], "--reps") == 0 && i + 1 < argc) {
      opt.reps = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
      opt.only = argv[++i];
      opt.noMemory = true;
    } else if (std::strcmp(argv[i], "--decode-only") == 0) {
      opt.decodeOnly = true;
      opt.noMemory = true;
    } else if (std::strcmp(argv[i], "--save") == 0 && i + 1 < argc) {
      opt.saveDir = argv[++i];
    } else if (std::strcmp(argv[i], "--photos") == 0 && i + 1 < argc) {
      opt.photoDirs.push_back(argv[++i]);
    } else {
      std::fprintf(stderr,
                   "usage: %s [--smoke] [--reps N] [--only SIZE|FILE] [--decode-only] [--save DIR] "
                   "[--photos DIR]...\n",
                   argv[0]);
      return 2;
    }
  }
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  self[n > 0 ? n : 0] = '\0';

  std::vector<Image> photos = LoadPhotographs(opt.photoDirs);
  std::printf("photographs: %zu%s\n", photos.size(), photos.empty() ? " (synthetic scene)" : "");
  std::vector<Size> sizes;
  if (opt.smoke) {
    sizes = {{"tiny", 64, 64}, {"odd", 97, 41}};
  } else {
    sizes = {{"8x8", 8, 8},       {"64x64", 64, 64},    {"512x512", 512, 512},
             {"1 MP", 1280, 800}, {"8 MP", 3264, 2448}, {"20 MP", 5472, 3648}};
  }
  if (!opt.only.empty()) {
    std::erase_if(sizes, [&](const Size& s) { return opt.only != s.name; });
  }
  bool ok = DecodeTable(opt, photos, sizes);
  // Progressive files are not made here (no encoder of this benchmark
  // writes them): the photographs themselves are decoded, by default those
  // of the desktop backgrounds when present.
  std::vector<std::string> progressiveDirs = opt.photoDirs;
  if (progressiveDirs.empty()) {
    progressiveDirs = {"/usr/share/backgrounds/mate/nature",
                       "/usr/share/backgrounds/mate/abstract"};
  }
  ok = ProgressiveTable(opt, progressiveDirs) && ok;
  ok = ShippedTable(opt) && ok;
  ok = ScaledTable(opt, photos) && ok;
  if (!opt.decodeOnly) {
    ok = EncodeTable(opt, photos, sizes) && ok;
    ok = SizeTable(opt, photos) && ok;
  }
  if (!opt.noMemory) ok = MemoryTable(opt, self) && ok;
  if (!ok) std::fprintf(stderr, "a run failed\n");
  return ok ? 0 : 1;
}
