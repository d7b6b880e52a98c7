#include "jpeg_markers.h"

#include <cstdio>
#include <vector>

namespace iffjpeg_cli {
namespace {

// Bounds on the walk: bytes looked at one by one (fill bytes, junk between
// segments, the fields read) and segments passed over. A header that needs
// more is not one the message can describe.
constexpr long kMaxBytesScanned = 1L << 24;
constexpr int kMaxSegments = 1 << 16;

constexpr int kSoi = 0xD8;
constexpr int kEoi = 0xD9;
constexpr int kSos = 0xDA;
constexpr int kDhp = 0xDE;
constexpr int kTem = 0x01;

bool IsFrameMarker(int code) {
  return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

class MarkerFile {
 public:
  explicit MarkerFile(const std::vector<uint8_t>* bytes)
      : f_(nullptr), bytes_(bytes), size_(static_cast<long>(bytes->size())) {}
  explicit MarkerFile(const std::string& path) : f_(std::fopen(path.c_str(), "rb")) {
    if (f_ != nullptr && std::fseek(f_, 0, SEEK_END) == 0) {
      size_ = std::ftell(f_);
      std::fseek(f_, 0, SEEK_SET);
    }
  }
  ~MarkerFile() {
    if (f_ != nullptr) std::fclose(f_);
  }
  MarkerFile(const MarkerFile&) = delete;
  MarkerFile& operator=(const MarkerFile&) = delete;

  // The next byte, -1 at the end of the file or past the budget.
  int Byte() {
    if (++scanned_ > kMaxBytesScanned) return -1;
    if (bytes_ != nullptr) return at_ < size_ ? (*bytes_)[static_cast<std::size_t>(at_++)] : -1;
    if (f_ == nullptr) return -1;
    return std::getc(f_);
  }
  int Word() {
    int hi = Byte();
    int lo = Byte();
    return hi < 0 || lo < 0 ? -1 : (hi << 8 | lo);
  }
  // Passes over count bytes; false when the file ends first.
  bool Skip(long count) {
    if (bytes_ != nullptr) {
      if (size_ - at_ < count) return false;
      at_ += count;
      return true;
    }
    long at = std::ftell(f_);
    if (at < 0 || size_ - at < count) return false;
    return std::fseek(f_, count, SEEK_CUR) == 0;
  }
  // The code of the next marker: 0xFF fill bytes and anything that is not a
  // marker are passed over (T.81 B.1.1.2); -1 at the end.
  int NextMarker() {
    for (;;) {
      int byte = Byte();
      if (byte < 0) return -1;
      if (byte != 0xFF) continue;
      do {
        byte = Byte();
      } while (byte == 0xFF);
      if (byte < 0) return -1;
      if (byte != 0x00) return byte;
    }
  }

 private:
  std::FILE* f_;
  const std::vector<uint8_t>* bytes_ = nullptr;  // in place of f_
  long at_ = 0;                                  // in bytes_
  long size_ = 0;
  long scanned_ = 0;
};

// The first scan header's fields; false when the file ends inside it.
bool ReadScanHeader(MarkerFile& file, JpegOutline& out) {
  int count = file.Byte();
  if (count < 0) return false;
  out.scanComponents = count;
  for (int i = 0; i < 2 * count; ++i) {
    if (file.Byte() < 0) return false;
  }
  out.ss = file.Byte();
  out.se = file.Byte();
  int a = file.Byte();
  if (out.ss < 0 || out.se < 0 || a < 0) return false;
  out.ah = a >> 4;
  out.al = a & 0x0F;
  return true;
}

bool ReadFrameHeader(MarkerFile& file, int length, JpegOutline& out) {
  out.precision = file.Byte();
  int height = file.Word();
  int width = file.Word();
  out.components = file.Byte();
  if (out.precision < 0 || height < 0 || width < 0 || out.components < 0) {
    out.precision = out.components = 0;
    return false;
  }
  return length < 8 || file.Skip(length - 8);
}

// T.81 G.1.1.1.1 for the first scan of a progressive frame, which refines
// nothing.
bool FirstProgressiveScanValid(const JpegOutline& o) {
  if (o.ss > o.se || o.se > 63 || o.al > 13 || o.ah != 0) return false;
  if (o.ss == 0 && o.se != 0) return false;
  return o.ss == 0 || o.scanComponents == 1;
}

std::string Join(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& part : parts) out += (out.empty() ? "" : ", ") + part;
  return out;
}

std::string ComponentCount(int n) {
  switch (n) {
    case 2:
      return "two components";
    case 4:
      return "four components";
    default:
      return std::to_string(n) + " components";
  }
}

JpegOutline Walk(MarkerFile& file) {
  JpegOutline out;
  if (file.Byte() != 0xFF || file.Byte() != kSoi) return out;
  out.startsWithSoi = true;
  for (int segments = 0; segments < kMaxSegments; ++segments) {
    int code = file.NextMarker();
    if (code < 0) {
      out.endedEarly = true;
      return out;
    }
    if (code == kEoi) {
      out.eoiBeforeScan = true;
      return out;
    }
    if (code == kSoi) return out;
    if (code == kTem || (code >= 0xD0 && code <= 0xD7)) continue;  // no length
    int length = file.Word();
    if (length < 0) {
      out.endedEarly = true;
      return out;
    }
    if (length < 2) return out;
    if (code == kSos) {
      out.scanReached = ReadScanHeader(file, out);
      out.endedEarly = !out.scanReached;
      return out;
    }
    bool whole = true;
    if (IsFrameMarker(code) && out.frameMarker == 0) {
      out.frameMarker = code;
      whole = ReadFrameHeader(file, length, out);
    } else {
      if (code == kDhp) out.hierarchical = true;
      whole = file.Skip(length - 2);
    }
    if (!whole) {
      out.endedEarly = true;
      return out;
    }
  }
  return out;
}

}  // namespace

JpegOutline OutlineJpeg(const std::string& path) {
  MarkerFile file(path);
  return Walk(file);
}

JpegOutline OutlineJpeg(const std::vector<uint8_t>& bytes) {
  MarkerFile file(&bytes);
  return Walk(file);
}
std::string RefusalReason(const JpegOutline& o, bool strict) {
  if (!o.startsWithSoi) return "not a JPEG file";
  const int sof = o.frameMarker;
  std::vector<std::string> unsupported;
  bool differential = sof == 0xC5 || sof == 0xC6 || sof == 0xC7 || sof >= 0xCD;
  bool progressive = sof == 0xC2 || sof == 0xC6 || sof == 0xCA || sof == 0xCE;
  if (differential || (sof != 0 && o.hierarchical)) unsupported.push_back("hierarchical");
  if (sof == 0xC3 || sof == 0xC7 || sof == 0xCB || sof == 0xCF) unsupported.push_back("lossless");
  if (sof >= 0xC9) unsupported.push_back("arithmetic coding");
  if (progressive && strict) unsupported.push_back("progressive");
  if (o.precision != 0 && o.precision != 8) {
    unsupported.push_back(std::to_string(o.precision) + "-bit precision");
  }
  if (sof != 0 && o.precision != 0) {
    if (o.components == 0 || o.components == 2 || o.components > 4 ||
        (o.components == 4 && strict)) {
      unsupported.push_back(ComponentCount(o.components));
    }
  }
  if (!unsupported.empty()) {
    // What only the default reading refuses: say how to read it.
    bool extendedReads = unsupported.size() == 1 && strict &&
                         (unsupported[0] == "progressive" || unsupported[0] == "four components");
    return "unsupported JPEG: " + Join(unsupported) +
           (extendedReads ? " (read it without --strict)" : "");
  }
  if (o.endedEarly) return "truncated header: the file ends before the first scan";
  if (o.eoiBeforeScan) return "no image: the file ends (EOI) before the first scan";
  if (sof == 0xC2 && o.scanReached && !FirstProgressiveScanValid(o)) {
    return "damaged progressive file: the first scan header breaks T.81 G.1.1.1.1";
  }
  return "";
}

}  // namespace iffjpeg_cli
