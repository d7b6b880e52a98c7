// BMP output written natively so that decoding streams line by line: the
// file size is known from the header, so each line is written straight to
// its place in the bottom-up pixel array.
#include <array>
#include <cstdint>
#include <vector>

#include "line_io.h"
#include "output_file.h"

namespace iffjpeg_cli {
namespace {

constexpr uint32_t kFileHeaderBytes = 14;
constexpr uint32_t kInfoHeaderBytes = 40;

void PutLe16(std::vector<uint8_t>* out, uint32_t v) {
  out->push_back(static_cast<uint8_t>(v));
  out->push_back(static_cast<uint8_t>(v >> 8));
}

void PutLe32(std::vector<uint8_t>* out, uint32_t v) {
  PutLe16(out, v & 0xFFFF);
  PutLe16(out, v >> 16);
}

class BmpSink : public LineSink {
 public:
  Status Create(const std::string& path, const ImageShape& shape) {
    shape_ = shape;
    // Rows are padded to a multiple of 4 bytes.
    stride_ = (static_cast<uint64_t>(shape.width) * shape.channels + 3) & ~uint64_t{3};
    uint32_t paletteBytes = shape.channels == 1 ? 256 * 4 : 0;
    dataOffset_ = kFileHeaderBytes + kInfoHeaderBytes + paletteBytes;
    uint64_t fileBytes = dataOffset_ + stride_ * static_cast<uint64_t>(shape.height);
    if (fileBytes > 0x7FFFFFFF) return Status::Fail("image too large for BMP");
    row_.assign(stride_, 0);

    Status s = file_.Create(path);
    if (!s.ok()) return s;
    std::vector<uint8_t> header;
    header.push_back('B');
    header.push_back('M');
    PutLe32(&header, static_cast<uint32_t>(fileBytes));
    PutLe32(&header, 0);
    PutLe32(&header, dataOffset_);
    PutLe32(&header, kInfoHeaderBytes);
    PutLe32(&header, static_cast<uint32_t>(shape.width));
    PutLe32(&header, static_cast<uint32_t>(shape.height));  // positive: bottom-up
    PutLe16(&header, 1);                                    // planes
    PutLe16(&header, shape.channels == 1 ? 8 : 24);         // bits per pixel
    PutLe32(&header, 0);                                    // no compression
    PutLe32(&header, static_cast<uint32_t>(stride_ * shape.height));
    PutLe32(&header, 2835);  // 72 dpi in pixels per metre
    PutLe32(&header, 2835);
    PutLe32(&header, shape.channels == 1 ? 256 : 0);  // palette entries
    PutLe32(&header, 0);
    if (shape.channels == 1) {
      for (uint32_t i = 0; i < 256; ++i) PutLe32(&header, i * 0x010101u);
    }
    return file_.Write(header.data(), header.size());
  }

  Status WriteLine(const uint8_t* line) override {
    if (next_ >= shape_.height) return Status::Fail("more lines than the image height");
    if (shape_.channels == 3) {
      for (int32_t x = 0; x < shape_.width; ++x) {  // BMP stores blue, green, red
        row_[3 * x] = line[3 * x + 2];
        row_[3 * x + 1] = line[3 * x + 1];
        row_[3 * x + 2] = line[3 * x];
      }
    } else {
      std::copy(line, line + shape_.width, row_.begin());
    }
    uint64_t offset = dataOffset_ + stride_ * static_cast<uint64_t>(shape_.height - 1 - next_);
    ++next_;
    Status s = file_.SeekTo(static_cast<long>(offset));
    if (!s.ok()) return s;
    return file_.Write(row_.data(), row_.size());
  }

  Status Finish() override {
    if (next_ != shape_.height) return Status::Fail("fewer lines than the image height");
    return file_.Commit();
  }

 private:
  ImageShape shape_;
  uint64_t stride_ = 0;
  uint32_t dataOffset_ = 0;
  int32_t next_ = 0;
  std::vector<uint8_t> row_;
  OutputFile file_;
};

}  // namespace

Status CreateBmpSink(const std::string& path, const ImageShape& shape,
                     std::unique_ptr<LineSink>* out) {
  auto sink = std::make_unique<BmpSink>();
  Status s = sink->Create(path, shape);
  if (s.ok()) *out = std::move(sink);
  return s;
}

}  // namespace iffjpeg_cli
