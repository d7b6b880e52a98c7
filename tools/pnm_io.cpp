// Binary PNM: P5 (grey) and P6 (RGB) with a maximum value of 255, read and
// written one line at a time.
#include <cctype>
#include <cstdio>
#include <string>

#include "line_io.h"
#include "output_file.h"

namespace iffjpeg_cli {
namespace {

// Header numbers larger than this are refused rather than trusted.
constexpr long kMaxDimension = 1L << 20;

class PnmSource : public LineSource {
 public:
  ~PnmSource() override {
    if (file_ != nullptr) std::fclose(file_);
  }

  Status Open(const std::string& path) {
    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr) return Status::Fail("cannot open the file: " + SystemError());
    int p = std::fgetc(file_);
    int kind = std::fgetc(file_);
    if (p != 'P' || (kind != '5' && kind != '6')) {
      return Status::Fail("not a binary PGM or PPM file (P5 or P6)");
    }
    long width = 0, height = 0, maxval = 0;
    if (!ReadNumber(&width) || !ReadNumber(&height) || !ReadNumber(&maxval)) {
      return Status::Fail("damaged PNM header");
    }
    if (width < 1 || height < 1 || width > kMaxDimension || height > kMaxDimension) {
      return Status::Fail("PNM image size out of range");
    }
    if (maxval != 255) return Status::Fail("only 8-bit PNM (maximum value 255) is supported");
    // ReadNumber consumed the single whitespace byte that ends the header.
    shape_ = {static_cast<int32_t>(width), static_cast<int32_t>(height), kind == '5' ? 1 : 3};
    return Status::Ok();
  }

  Status ReadLine(uint8_t* line) override {
    if (std::fread(line, 1, shape_.lineBytes(), file_) != shape_.lineBytes()) {
      return Status::Fail("the PNM file ends early");
    }
    return Status::Ok();
  }

 private:
  // Reads a decimal number after whitespace and comments, and the one
  // character that follows it.
  bool ReadNumber(long* value) {
    int c = std::fgetc(file_);
    while (c != EOF && (std::isspace(c) || c == '#')) {
      if (c == '#') {
        while (c != EOF && c != '\n' && c != '\r') c = std::fgetc(file_);
      }
      c = std::fgetc(file_);
    }
    if (c == EOF || !std::isdigit(c)) return false;
    long n = 0;
    while (c != EOF && std::isdigit(c)) {
      n = n * 10 + (c - '0');
      if (n > kMaxDimension) return false;
      c = std::fgetc(file_);
    }
    if (c == EOF) return false;
    if (!std::isspace(c)) return false;
    *value = n;
    return true;
  }

  std::FILE* file_ = nullptr;
};

class PnmSink : public LineSink {
 public:
  // path "-": standard output.
  Status Create(const std::string& path, const ImageShape& shape) {
    shape_ = shape;
    Status s = path == "-" ? file_.CreateStdout() : file_.Create(path);
    if (!s.ok()) return s;
    std::string header = std::string(shape.channels == 1 ? "P5" : "P6") + "\n" +
                         std::to_string(shape.width) + " " + std::to_string(shape.height) +
                         "\n255\n";
    return file_.Write(header.data(), header.size());
  }
  Status WriteLine(const uint8_t* line) override { return file_.Write(line, shape_.lineBytes()); }
  Status Finish() override { return file_.Commit(); }

 private:
  ImageShape shape_;
  OutputFile file_;
};

}  // namespace

Status OpenPnmSource(const std::string& path, std::unique_ptr<LineSource>* out) {
  auto source = std::make_unique<PnmSource>();
  Status s = source->Open(path);
  if (s.ok()) *out = std::move(source);
  return s;
}

Status CreatePnmSink(const std::string& path, const ImageShape& shape,
                     std::unique_ptr<LineSink>* out) {
  auto sink = std::make_unique<PnmSink>();
  Status s = sink->Create(path, shape);
  if (s.ok()) *out = std::move(sink);
  return s;
}

}  // namespace iffjpeg_cli

namespace iffjpeg_cli {

Status CreatePnmStdoutSink(const ImageShape& shape, std::unique_ptr<LineSink>* out) {
  return CreatePnmSink("-", shape, out);
}

}  // namespace iffjpeg_cli
