// The shared library as a host sees it: exactly the six IFF entry points in
// its dynamic symbol table, reachable through dlopen/dlsym, answering the
// basic calls.
#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "iffjpeg.h"

namespace {

const std::set<std::string> kExports = {"IFFOpen",    "IFFClose", "IFFGetLine",
                                        "IFFPutLine", "IFFSeek",  "IFFControl"};

std::vector<char> ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

template <typename T>
const T* At(const std::vector<char>& image, std::size_t offset) {
  if (offset + sizeof(T) > image.size()) return nullptr;
  return reinterpret_cast<const T*>(image.data() + offset);
}

// Names of the defined global and weak symbols in the dynamic symbol table
// of a 64-bit ELF file; what `nm -D --defined-only` lists.
std::set<std::string> DefinedDynamicSymbols(const std::vector<char>& image) {
  std::set<std::string> names;
  const auto* header = At<Elf64_Ehdr>(image, 0);
  if (header == nullptr || std::memcmp(header->e_ident, ELFMAG, SELFMAG) != 0 ||
      header->e_ident[EI_CLASS] != ELFCLASS64) {
    ADD_FAILURE() << "not a 64-bit ELF file";
    return names;
  }
  for (int i = 0; i < header->e_shnum; ++i) {
    const auto* section = At<Elf64_Shdr>(image, header->e_shoff + i * header->e_shentsize);
    if (section == nullptr || section->sh_type != SHT_DYNSYM) continue;
    const auto* strings =
        At<Elf64_Shdr>(image, header->e_shoff + section->sh_link * header->e_shentsize);
    if (strings == nullptr) break;
    for (std::size_t s = 0; s < section->sh_size / sizeof(Elf64_Sym); ++s) {
      const auto* symbol = At<Elf64_Sym>(image, section->sh_offset + s * sizeof(Elf64_Sym));
      if (symbol == nullptr || symbol->st_shndx == SHN_UNDEF) continue;
      int binding = ELF64_ST_BIND(symbol->st_info);
      if (binding != STB_GLOBAL && binding != STB_WEAK && binding != STB_GNU_UNIQUE) continue;
      std::size_t at = strings->sh_offset + symbol->st_name;
      if (at >= image.size()) continue;
      names.insert(std::string(image.data() + at, strnlen(image.data() + at, image.size() - at)));
    }
  }
  return names;
}

TEST(LibraryExports, DynamicSymbolTableHoldsExactlyTheSixEntryPoints) {
  std::vector<char> image = ReadFile(IFFJPEG_SHARED_LIBRARY);
  ASSERT_FALSE(image.empty()) << IFFJPEG_SHARED_LIBRARY;
  EXPECT_EQ(DefinedDynamicSymbols(image), kExports);
}

class LoadedLibrary {
 public:
  LoadedLibrary() : handle_(dlopen(IFFJPEG_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL)) {}
  ~LoadedLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;
  bool loaded() const { return handle_ != nullptr; }
  template <typename Fn>
  Fn Find(const char* name) const {
    return reinterpret_cast<Fn>(dlsym(handle_, name));
  }

 private:
  void* handle_;
};

bool FileExists(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f != nullptr) std::fclose(f);
  return f != nullptr;
}

TEST(LibraryExports, HostThatLoadsTheLibraryGetsTheBasicAnswers) {
  LoadedLibrary library;
  ASSERT_TRUE(library.loaded()) << dlerror();
  for (const std::string& name : kExports) {
    EXPECT_NE(library.Find<void*>(name.c_str()), nullptr) << name;
  }
  auto open = library.Find<decltype(&IFFOpen)>("IFFOpen");
  auto close = library.Find<decltype(&IFFClose)>("IFFClose");
  auto getLine = library.Find<decltype(&IFFGetLine)>("IFFGetLine");
  auto seek = library.Find<decltype(&IFFSeek)>("IFFSeek");
  ASSERT_TRUE(open && close && getLine && seek);

  IFFImageInfo info{};
  EXPECT_EQ(open("/nonexistent/iffjpeg/missing.jpg", IFF_MODE_READ, &info), -IFF_ERR_OPEN);

  std::string path = testing::TempDir() + "iffjpeg_exports_host.jpg";
  std::remove(path.c_str());
  info = IFFImageInfo{};
  info.width = info.height = 4;
  info.planes = 3;
  info.bitsPerSample = 8;
  EXPECT_EQ(open(path.c_str(), IFF_MODE_REFUSED, &info), -IFF_ERR_UNSUPPORTED);
  EXPECT_FALSE(FileExists(path)) << "mode 2 touches no file";

  uint8_t line[16];
  for (int32_t value : {0, -7, 12345}) {
    EXPECT_EQ(close(value), IFF_ERR_INVALID);
    EXPECT_EQ(getLine(value, 1, line), IFF_ERR_INVALID);
    EXPECT_EQ(seek(value, 0), IFF_ERR_INVALID);
  }

  int32_t h = open(path.c_str(), IFF_MODE_WRITE, &info);
  ASSERT_GT(h, 0);
  EXPECT_EQ(close(h), 0);
  std::ifstream written(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(written)),
                          std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes, (std::vector<char>{'\xFF', '\xD9'}));
  std::remove(path.c_str());
}

}  // namespace
