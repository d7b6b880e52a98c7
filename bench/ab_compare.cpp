// Two builds of the library in one process: each shared library is loaded
// by its own path, and the same files are decoded (and their pixels encoded
// again at quality 75) by both alternately, A B A B ..., so that drift in
// the machine's speed hits both alike. Prints the medians, the ratio B/A,
// and whether both builds gave the same lines and the same bytes.
//
//   iffjpeg_ab LIB_A LIB_B [--reps N] [--mode M] [--scale D] FILE.jpg...
//
// --mode adds open-mode bits (e.g. 256 for extended reading) to both builds'
// reads; --scale decodes at 1/D (IFF_CTL_SCALE; 1, 2, 4 or 8), the rates
// then counting the scaled image's pixels (and the pixels encoded again
// being the scaled ones).
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "iffjpeg.h"
#include "memory_host.h"

using iffjpeg_bench::HostFile;
using iffjpeg_bench::MemoryHost;

namespace {

using OpenFn = int32_t (*)(const void*, int32_t, IFFImageInfo*);
using CloseFn = int32_t (*)(int32_t);
using GetLineFn = int32_t (*)(int32_t, uint32_t, uint8_t*);
using PutLineFn = int32_t (*)(int32_t, uint32_t, const uint8_t*);
using ControlFn = int32_t (*)(int32_t, int32_t, int32_t, int32_t, void*);

struct Library {
  OpenFn open = nullptr;
  CloseFn close = nullptr;
  GetLineFn getLine = nullptr;
  PutLineFn putLine = nullptr;
  ControlFn control = nullptr;
};

bool Load(const char* path, Library& lib) {
  void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    std::fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
    return false;
  }
  lib.open = reinterpret_cast<OpenFn>(dlsym(handle, "IFFOpen"));
  lib.close = reinterpret_cast<CloseFn>(dlsym(handle, "IFFClose"));
  lib.getLine = reinterpret_cast<GetLineFn>(dlsym(handle, "IFFGetLine"));
  lib.putLine = reinterpret_cast<PutLineFn>(dlsym(handle, "IFFPutLine"));
  lib.control = reinterpret_cast<ControlFn>(dlsym(handle, "IFFControl"));
  return lib.open && lib.close && lib.getLine && lib.putLine && lib.control;
}

struct Picture {
  int32_t width = 0, height = 0, planes = 0;
  std::vector<uint8_t> pixels;
};

// Decodes into a freshly allocated buffer, as a host allocates one.
bool Decode(const Library& lib, const std::vector<uint8_t>& jpeg, int32_t modeBits, int32_t scale,
            Picture& out) {
  HostFile host = MemoryHost();
  host.input = jpeg.data();
  host.inputSize = jpeg.size();
  IFFImageInfo info{};
  int32_t h = lib.open(&host, IFF_MODE_READ | IFF_MODE_CALLBACKS | modeBits, &info);
  if (h <= 0) return false;
  int32_t size[2] = {info.width, info.height};
  if (scale != 1 && lib.control(h, IFF_CTL_SCALE, scale, 0, size) != 0) {
    lib.close(h);
    return false;
  }
  out.width = size[0];
  out.height = size[1];
  out.planes = info.planes;
  out.pixels = std::vector<uint8_t>(static_cast<size_t>(info.width) * info.height * info.planes);
  int32_t rc = lib.getLine(h, static_cast<uint32_t>(info.height), out.pixels.data());
  return lib.close(h) == 0 && rc == 0;
}

bool Encode(const Library& lib, const Picture& picture, std::vector<uint8_t>& out) {
  HostFile host = MemoryHost();
  out.clear();
  host.output = &out;
  IFFImageInfo info{};
  info.width = picture.width;
  info.height = picture.height;
  info.planes = picture.planes;
  info.bitsPerSample = 8;
  int32_t h = lib.open(&host, IFF_MODE_WRITE | IFF_MODE_CALLBACKS, &info);
  if (h <= 0) return false;
  int32_t rc = lib.control(h, IFF_CTL_QUALITY, 75, 0, nullptr);
  if (rc == 0) rc = lib.putLine(h, static_cast<uint32_t>(picture.height), picture.pixels.data());
  return lib.close(h) == 0 && rc == 0;
}

double Seconds() {
  using Clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

bool ReadFile(const char* path, std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return false;
  unsigned char chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
    bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(f);
  return true;
}

template <typename Run>
void Compare(const char* what, const char* name, double megapixels, int reps, Run run) {
  std::vector<double> ta, tb;
  run(0);
  run(1);
  for (int i = 0; i < reps; ++i) {
    double t0 = Seconds();
    run(0);
    double t1 = Seconds();
    run(1);
    double t2 = Seconds();
    ta.push_back(t1 - t0);
    tb.push_back(t2 - t1);
  }
  double a = megapixels / Median(ta), b = megapixels / Median(tb);
  std::printf("| %s | %s | %.1f | %.1f | %.3f |\n", what, name, a, b, b / a);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr,
                 "usage: iffjpeg_ab LIB_A LIB_B [--reps N] [--mode M] [--scale D] FILE.jpg...\n");
    return 2;
  }
  Library libs[2];
  if (!Load(argv[1], libs[0]) || !Load(argv[2], libs[1])) return 1;
  if (libs[0].open == libs[1].open) {
    std::fprintf(stderr, "both paths name one loaded library: copy one of them elsewhere\n");
    return 1;
  }
  int reps = 9;
  int32_t modeBits = 0;
  int32_t scale = 1;
  bool identical = true;
  std::printf("| run | file | A MP/s | B MP/s | B/A |\n|---|---|---|---|---|\n");
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "--reps") == 0 && i + 1 < argc) {
      reps = std::atoi(argv[++i]);
      continue;
    }
    if (std::strcmp(argv[i], "--mode") == 0 && i + 1 < argc) {
      modeBits = std::atoi(argv[++i]);
      continue;
    }
    if (std::strcmp(argv[i], "--scale") == 0 && i + 1 < argc) {
      scale = std::atoi(argv[++i]);
      continue;
    }
    std::vector<uint8_t> jpeg;
    if (!ReadFile(argv[i], jpeg)) {
      std::fprintf(stderr, "cannot read %s\n", argv[i]);
      return 1;
    }
    const char* name = std::strrchr(argv[i], '/') ? std::strrchr(argv[i], '/') + 1 : argv[i];
    Picture pictures[2];
    if (!Decode(libs[0], jpeg, modeBits, scale, pictures[0]) ||
        !Decode(libs[1], jpeg, modeBits, scale, pictures[1])) {
      std::fprintf(stderr, "%s: a build failed to decode it\n", name);
      identical = false;
      continue;
    }
    if (pictures[0].pixels != pictures[1].pixels) {
      std::fprintf(stderr, "%s: the builds decode it differently\n", name);
      identical = false;
    }
    double mp = pictures[0].width * static_cast<double>(pictures[0].height) / 1e6;
    Picture scratch;
    Compare("decode", name, mp, reps,
            [&](int k) { Decode(libs[k], jpeg, modeBits, scale, scratch); });
    std::vector<uint8_t> files[2];
    Compare("encode q75", name, mp, reps, [&](int k) { Encode(libs[k], pictures[0], files[k]); });
    if (files[0] != files[1]) {
      std::fprintf(stderr, "%s: the builds encode it differently\n", name);
      identical = false;
    }
  }
  std::printf("\n%s\n",
              identical ? "identical lines and bytes from both builds" : "THE BUILDS DIFFER");
  return identical ? 0 : 1;
}
