// Peak memory of one decode or encode, measured in a fresh child process
// (its VmHWM), so that nothing the parent holds is counted.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench.h"
#include "iffjpeg.h"

extern char** environ;

namespace iffjpeg_bench {
namespace {

long VmHwmKb() {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (f == nullptr) return -1;
  char line[256];
  long kb = -1;
  while (std::fgets(line, sizeof line, f) != nullptr) {
    if (std::strncmp(line, "VmHWM:", 6) == 0) kb = std::strtol(line + 6, nullptr, 10);
  }
  std::fclose(f);
  return kb;
}

// Callbacks on a stdio file (reading) or on nothing (writing counts bytes).
struct StdioHost {
  IFFFileOps ops;
  const char* path;
};
FILE* g_file = nullptr;
long g_written = 0;

int32_t OpenFile(const void* source, int32_t flags, int32_t) {
  auto* host = static_cast<const StdioHost*>(source);
  if (flags == IFF_OPEN_FLAGS_READ) {
    g_file = std::fopen(host->path, "rb");
    return g_file != nullptr ? 1 : -1;
  }
  if (host->path != nullptr) {
    g_file = std::fopen(host->path, "wb");
    return g_file != nullptr ? 1 : -1;
  }
  return 1;
}
int32_t CloseFile(int32_t) {
  if (g_file != nullptr) std::fclose(g_file);
  g_file = nullptr;
  return 0;
}
int32_t ReadFile(int32_t, void* buffer, int32_t count) {
  return static_cast<int32_t>(std::fread(buffer, 1, static_cast<size_t>(count), g_file));
}
int32_t WriteFile(int32_t, const void* buffer, int32_t count) {
  g_written += count;
  if (g_file == nullptr) return count;
  return static_cast<int32_t>(std::fwrite(buffer, 1, static_cast<size_t>(count), g_file));
}
int32_t SeekFile(int32_t, int32_t offset, int32_t) {
  return std::fseek(g_file, offset, SEEK_SET) == 0 ? offset : -1;
}

// A synthetic photograph-like line: gradients, edges and noise.
void SyntheticLine(int32_t y, int32_t width, uint8_t* line) {
  uint32_t seed = 2654435761u * static_cast<uint32_t>(y + 1);
  for (int32_t x = 0; x < width; ++x) {
    seed = seed * 1664525u + 1013904223u;
    int noise = static_cast<int>((seed >> 24) & 31) - 16;
    int base = ((x / 37 + y / 53) & 1) ? 160 : 90;
    line[3 * x] = static_cast<uint8_t>(std::min(255, std::max(0, base + noise + (x & 63))));
    line[3 * x + 1] = static_cast<uint8_t>(std::min(255, std::max(0, base + noise + (y & 63))));
    line[3 * x + 2] = static_cast<uint8_t>(std::min(255, std::max(0, 255 - base + noise)));
  }
}

bool EncodeStreaming(const char* path, int32_t width, int32_t height) {
  StdioHost host{{OpenFile, CloseFile, ReadFile, WriteFile, SeekFile}, path};
  IFFImageInfo info{};
  info.width = width;
  info.height = height;
  info.planes = 3;
  info.bitsPerSample = 8;
  int32_t h = IFFOpen(&host, IFF_MODE_WRITE | IFF_MODE_CALLBACKS, &info);
  if (h <= 0) return false;
  std::string line(static_cast<size_t>(width) * 3, '\0');
  auto* bytes = reinterpret_cast<uint8_t*>(line.data());
  int32_t rc = 0;
  for (int32_t y = 0; y < height && rc == 0; ++y) {
    SyntheticLine(y, width, bytes);
    rc = IFFPutLine(h, 1, bytes);
  }
  return IFFClose(h) == 0 && rc == 0;
}

bool DecodeStreaming(const char* path) {
  StdioHost host{{OpenFile, CloseFile, ReadFile, WriteFile, SeekFile}, path};
  IFFImageInfo info{};
  int32_t h = IFFOpen(&host, IFF_MODE_READ | IFF_MODE_CALLBACKS, &info);
  if (h <= 0) return false;
  std::string line(static_cast<size_t>(info.width) * info.planes, '\0');
  int32_t rc = 0;
  for (int32_t y = 0; y < info.height && rc == 0; ++y)
    rc = IFFGetLine(h, 1, reinterpret_cast<uint8_t*>(line.data()));
  return IFFClose(h) == 0 && rc == 0;
}

}  // namespace

bool WriteTallFile(const std::string& path, int32_t width, int32_t height) {
  return EncodeStreaming(path.c_str(), width, height);
}

int RunChildCase(int argc, char** argv) {
  // argv: <self> --child decode FILE | --child encode W H
  bool ok = false;
  if (argc >= 4 && std::strcmp(argv[2], "decode") == 0) {
    ok = DecodeStreaming(argv[3]);
  } else if (argc >= 5 && std::strcmp(argv[2], "encode") == 0) {
    ok = EncodeStreaming(nullptr, std::atoi(argv[3]), std::atoi(argv[4]));
  }
  std::printf("%ld\n", ok ? VmHwmKb() : -1L);
  return ok ? 0 : 1;
}

long ChildPeakKb(const std::string& self, const std::vector<std::string>& args) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  std::vector<std::string> all{self, "--child"};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    return -1;
  }
  char buf[64] = {0};
  ssize_t n = read(fds[0], buf, sizeof buf - 1);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (n <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return std::strtol(buf, nullptr, 10);
}

}  // namespace iffjpeg_bench
