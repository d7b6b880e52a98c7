// Arbitrary sequences of the six entry points: real opens of small valid
// files (written by the library itself at start-up) and of bytes from the
// input, write opens with arbitrary descriptions, and calls with live,
// closed and made-up handle values, arbitrary counts, codes, modes and null
// pointers. A value that is not a live handle must give 2 everywhere and
// touch nothing; live handles must give only their documented codes.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_file.h"
#include "iffjpeg.h"

using iffjpeg_fuzz::FuzzFile;
using iffjpeg_fuzz::FuzzInput;

namespace {

constexpr int32_t kMaxCount = 4;  // lines per call on a live handle

struct Live {
  int32_t value;
  int32_t mode;  // 0, 1 or 3
  int32_t width, height, planes;
  std::unique_ptr<FuzzFile> file;
  bool headersOut = false;
  // Whole-image limits were accepted: a whole-image decode may then not
  // fit them (5).
  bool limitsSet = false;
};

// Two small valid files, written once through the library.
std::vector<uint8_t> WriteSample(int32_t width, int32_t height, int32_t planes) {
  FuzzFile file;
  IFFImageInfo info{};
  info.width = width;
  info.height = height;
  info.planes = planes;
  info.bitsPerSample = 8;
  int32_t h = IFFOpen(file.source(), IFF_MODE_WRITE | IFF_MODE_CALLBACKS, &info);
  if (h <= 0) return {};
  std::vector<uint8_t> line(static_cast<std::size_t>(width) * planes);
  for (int32_t y = 0; y < height; ++y) {
    for (std::size_t x = 0; x < line.size(); ++x) line[x] = static_cast<uint8_t>(x * 7 + y * 13);
    IFFPutLine(h, 1, line.data());
  }
  IFFClose(h);
  return file.data;
}

const std::vector<std::vector<uint8_t>>& Samples() {
  static const std::vector<std::vector<uint8_t>> samples = {WriteSample(16, 16, 1),
                                                            WriteSample(23, 17, 3)};
  return samples;
}

class Session {
 public:
  explicit Session(FuzzInput& in) : in_(in) {}
  ~Session() {
    // A live handle's close may itself return 2 (a recorded refusal), so
    // the proof that it was accepted is that the file is closed and the
    // value is no longer a handle.
    for (auto& live : live_) {
      IFFClose(live.value);
      FUZZ_CHECK(!live.file->isOpen && IFFClose(live.value) == IFF_ERR_INVALID, live.value, 0);
    }
  }

  void Step() {
    switch (in_.U8() % 9) {
      case 0:
        OpenRead();
        break;
      case 1:
        OpenWrite();
        break;
      case 2:
        OpenOdd();
        break;
      case 3:
        Close();
        break;
      case 4:
        GetLine();
        break;
      case 5:
        PutLine();
        break;
      case 6:
        Seek();
        break;
      case 7:
        Control();
        break;
      default:
        NullArguments();
        break;
    }
  }

 private:
  // A handle value: live, closed, or made up; Find tells which.
  int32_t PickValue() {
    uint8_t how = in_.U8();
    if ((how & 3) == 0 && !live_.empty()) return live_[how / 4 % live_.size()].value;
    if ((how & 3) == 1 && !dead_.empty()) return dead_[how / 4 % dead_.size()];
    if ((how & 3) == 2) return static_cast<int32_t>(how / 4) - 32;
    return static_cast<int32_t>(in_.U32());
  }
  Live* Find(int32_t value) {
    for (auto& live : live_) {
      if (live.value == value) return &live;
    }
    return nullptr;
  }

  void Adopt(int32_t h, int32_t mode, const IFFImageInfo& info, std::unique_ptr<FuzzFile> file) {
    FUZZ_CHECK(Find(h) == nullptr, h, 0);
    dead_.erase(std::remove(dead_.begin(), dead_.end(), h), dead_.end());
    live_.push_back(Live{h, mode, info.width, info.height, info.planes, std::move(file)});
  }

  void OpenRead() {
    uint8_t which = in_.U8();
    std::vector<uint8_t> bytes;
    if (which & 1) {
      bytes = in_.Bytes(in_.U8() + 1);  // a small file from the input
      if (iffjpeg_fuzz::DeclaresHugeWholeImageDecode(bytes.data(), bytes.size())) return;
    } else {
      bytes = Samples()[which / 2 % Samples().size()];
      if (which & 2) bytes.resize(bytes.size() * (which / 4) / 64);  // truncated
    }
    int32_t mode = (which & 0x80) ? IFF_MODE_READ_NOSEEK : IFF_MODE_READ;
    auto file = std::make_unique<FuzzFile>(std::move(bytes));
    IFFImageInfo info{};
    int32_t extended = (in_.U8() & 1) != 0 ? IFF_MODE_EXTENDED : 0;
    int32_t h = IFFOpen(file->source(), mode | IFF_MODE_CALLBACKS | extended, &info);
    if (h > 0) {
      Adopt(h, mode, info, std::move(file));
    } else {
      FUZZ_CHECK(h == -2 || h == -4 || h == -5 || h == -7, h, 0);
      FUZZ_CHECK(!file->isOpen, h, 0);
    }
  }

  void OpenWrite() {
    IFFImageInfo info{};
    uint8_t shape = in_.U8();
    info.width = (shape & 1) ? static_cast<int32_t>(in_.U32()) : 1 + in_.U8() % 48;
    info.height = (shape & 2) ? static_cast<int32_t>(in_.U32()) : 1 + in_.U8() % 48;
    info.planes = (shape & 4) ? static_cast<int32_t>(in_.U8()) - 8 : (shape & 8 ? 3 : 1);
    info.bitsPerSample = (shape & 16) ? static_cast<int32_t>(in_.U8()) : 8;
    info.compression = (shape & 32) ? in_.U32() : 0;
    int32_t mode = (shape & 64) ? IFF_MODE_REFUSED : IFF_MODE_WRITE;
    auto file = std::make_unique<FuzzFile>();
    int32_t h = IFFOpen(file->source(), mode | IFF_MODE_CALLBACKS, &info);
    if (h > 0) {
      FUZZ_CHECK(mode == IFF_MODE_WRITE, h, mode);
      Adopt(h, mode, info, std::move(file));
    } else {
      FUZZ_CHECK(h == -2 || h == -3, h, 0);
      FUZZ_CHECK(!file->isOpen, h, 0);
    }
  }

  // Arbitrary mode bits; without the callback bit the source is a file name
  // that cannot exist, so nothing on disk is touched.
  void OpenOdd() {
    int32_t mode = static_cast<int32_t>(in_.U32());
    IFFImageInfo info{};
    info.width = info.height = 8;
    info.planes = 1;
    info.bitsPerSample = 8;
    int32_t h;
    std::unique_ptr<FuzzFile> file;
    if (mode & IFF_MODE_CALLBACKS) {
      file = std::make_unique<FuzzFile>(Samples()[0]);
      h = IFFOpen(file->source(), mode, &info);
    } else {
      h = IFFOpen("/nonexistent-iffjpeg-dir/none.jpg", mode, &info);
    }
    int32_t extended = mode & IFF_MODE_EXTENDED;
    int32_t masked = (mode & ~(IFF_MODE_CALLBACKS | IFF_MODE_EXTENDED)) & 0x7FFF;
    if (h > 0) {
      FUZZ_CHECK(file != nullptr && masked != 2 && masked <= 3, h, mode);
      FUZZ_CHECK(extended == 0 || masked == 0 || masked == 3, h, mode);
      Adopt(h, masked, info, std::move(file));
    } else {
      FUZZ_CHECK(h == -2 || h == -3 || h == -5 || h == -7 || h == -8, h, mode);
      if (file) FUZZ_CHECK(!file->isOpen, h, 0);
    }
  }

  void Close() {
    int32_t value = PickValue();
    int32_t rc = IFFClose(value);
    Live* live = Find(value);
    if (live == nullptr) {
      FUZZ_CHECK(rc == IFF_ERR_INVALID, rc, value);
      return;
    }
    // Close returns the last recorded code, which may be the refusal of a
    // null line buffer (2).
    FUZZ_CHECK(rc == 0 || rc == IFF_ERR_INVALID || rc == IFF_ERR_DATA_ENDED ||
                   rc == IFF_ERR_UNSUPPORTED || rc == IFF_ERR_BAD_DATA || rc == IFF_ERR_MEMORY,
               rc, value);
    FUZZ_CHECK(!live->file->isOpen, value, 0);
    dead_.push_back(value);
    live_.erase(live_.begin() + (live - live_.data()));
  }

  // A buffer for count lines of the handle, or a tiny one for a value that
  // is not live (the library must not touch it).
  void GetLine() {
    int32_t value = PickValue();
    Live* live = Find(value);
    uint8_t flags = in_.U8();
    if (live == nullptr) {
      uint8_t tiny[4] = {0x5A, 0x5A, 0x5A, 0x5A};
      uint32_t count = in_.U32();
      FUZZ_CHECK(IFFGetLine(value, count, (flags & 1) ? nullptr : tiny) == IFF_ERR_INVALID, value,
                 0);
      FUZZ_CHECK(tiny[0] == 0x5A && tiny[3] == 0x5A, value, 0);
      return;
    }
    uint32_t count = flags % (kMaxCount + 1);
    std::vector<uint8_t> lines(static_cast<std::size_t>(live->width) * live->planes * count);
    if (live->mode == IFF_MODE_WRITE) {
      int32_t rc = IFFGetLine(value, count, lines.data());
      FUZZ_CHECK(rc == IFF_ERR_INVALID, rc, value);
      return;
    }
    if (flags & 0x80) {
      int32_t rc = IFFGetLine(value, count, nullptr);
      FUZZ_CHECK(count == 0 ? rc == 0 : rc == IFF_ERR_INVALID, rc, count);
      return;
    }
    int32_t rc = IFFGetLine(value, count, lines.data());
    FUZZ_CHECK(rc == 0 || rc == IFF_ERR_DATA_ENDED || rc == IFF_ERR_BAD_DATA ||
                   rc == IFF_ERR_UNSUPPORTED || (live->limitsSet && rc == IFF_ERR_MEMORY),
               rc, count);
  }

  void PutLine() {
    int32_t value = PickValue();
    Live* live = Find(value);
    uint8_t flags = in_.U8();
    if (live == nullptr) {
      uint8_t tiny[4] = {};
      FUZZ_CHECK(IFFPutLine(value, in_.U32(), (flags & 1) ? nullptr : tiny) == IFF_ERR_INVALID,
                 value, 0);
      return;
    }
    uint32_t count = flags % (kMaxCount + 1);
    std::vector<uint8_t> lines(static_cast<std::size_t>(live->width) * live->planes * count,
                               static_cast<uint8_t>(flags * 37));
    if (live->mode != IFF_MODE_WRITE) {
      FUZZ_CHECK(IFFPutLine(value, count, lines.data()) == IFF_ERR_INVALID, value, 0);
      return;
    }
    int32_t rc = IFFPutLine(value, count, (flags & 0x80) ? nullptr : lines.data());
    if ((flags & 0x80) && count > 0) {
      FUZZ_CHECK(rc == IFF_ERR_INVALID, rc, count);
      return;
    }
    FUZZ_CHECK(rc == 0 || rc == IFF_ERR_WRITE || rc == IFF_ERR_MEMORY, rc, count);
  }

  void Seek() {
    int32_t value = PickValue();
    Live* live = Find(value);
    int32_t target = static_cast<int32_t>(in_.U32());
    if (live == nullptr || live->mode != IFF_MODE_READ) {
      FUZZ_CHECK(IFFSeek(value, target) == IFF_ERR_INVALID, value, target);
      return;
    }
    int32_t limit = iffjpeg_fuzz::LinesWithinBudget(live->width, live->height) + 8;
    target = static_cast<int32_t>(static_cast<uint32_t>(target) % (limit + 3)) - 2;
    int32_t rc = IFFSeek(value, target);
    if (target < 0) {
      FUZZ_CHECK(rc == IFF_ERR_INVALID, rc, target);
    } else {
      FUZZ_CHECK(rc == 0 || rc == IFF_ERR_DATA_ENDED || rc == IFF_ERR_BAD_DATA ||
                     rc == IFF_ERR_UNSUPPORTED || (live->limitsSet && rc == IFF_ERR_MEMORY),
                 rc, target);
    }
  }

  void Control() {
    // The writing options (subsampling, tables built for the image,
    // progressive output, restart interval, whole-image limits) at any time
    // on any handle, as well as the reading codes.
    static const int32_t kCodes[] = {0,      1,      3,       7,      0x5701, 0x8007,
                                     0xD701, 2,      0x10007, 0x5711, 0x5714, 0xD711,
                                     0x5712, 0x5713, 0x5720,  0x5721, 0x5722, 0x5723};
    constexpr int32_t kCodeCount = sizeof kCodes / sizeof kCodes[0];
    int32_t value = PickValue();
    uint8_t pick = in_.U8();
    int32_t code = pick < 200 ? kCodes[pick % kCodeCount] : static_cast<int32_t>(in_.U32());
    int32_t argument = static_cast<int32_t>(in_.U32());
    // Room for the largest reply: a description (its size is at most 65535
    // here, of which the driver fills its own record at most) and a metadata
    // item of the capacity given, at most 255.
    alignas(8)
        int32_t slots[64] = {static_cast<int32_t>(in_.U16()), static_cast<int32_t>(in_.U16())};
    void* pointer = (pick & 1) && pick >= 100 ? nullptr : slots;
    int32_t rc = IFFControl(value, code, argument, static_cast<int32_t>(in_.U8()), pointer);
    if (Find(value) == nullptr) {
      FUZZ_CHECK(rc == IFF_ERR_INVALID, rc, value);
      return;
    }
    // The reading extras repeat the code of a failed rewind.
    const int32_t base = code & ~0x8000;
    if (base == IFF_CTL_WHOLE_IMAGE_LIMITS && rc == 0) Find(value)->limitsSet = true;
    const bool extras = base == IFF_CTL_METADATA || base == IFF_CTL_JPEG_INFO;
    FUZZ_CHECK(rc == 0 || rc == IFF_ERR_INVALID || rc == IFF_ERR_UNSUPPORTED ||
                   rc == IFF_ERR_VARIANT || rc == IFF_ERR_MEMORY ||
                   (extras && (rc == IFF_ERR_BAD_DATA || rc == IFF_ERR_DATA_ENDED)),
               rc, code);
  }

  void NullArguments() {
    IFFImageInfo info{};
    auto file = std::make_unique<FuzzFile>(Samples()[0]);
    uint8_t which = in_.U8();
    int32_t mode = static_cast<int32_t>(which & 3) | IFF_MODE_CALLBACKS;
    int32_t h =
        (which & 4) ? IFFOpen(nullptr, mode, &info) : IFFOpen(file->source(), mode, nullptr);
    FUZZ_CHECK(h == -IFF_ERR_INVALID, h, which);
    FUZZ_CHECK(!file->isOpen, h, 0);
  }

  FuzzInput& in_;
  std::vector<Live> live_;
  std::vector<int32_t> dead_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  Session session(in);
  for (int step = 0; step < 64 && in.Remaining() > 0; ++step) session.Step();
  return 0;
}
