// JPEG input and output: the tool's only route to JPEG data is the driver's
// public C interface.
#include <cstdio>
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif
#include <utility>
#include <vector>

#include "iffjpeg.h"
#include "jpeg_markers.h"
#include "line_io.h"

namespace iffjpeg_cli {
namespace {

class JpegSource : public LineSource {
 public:
  ~JpegSource() override {
    if (handle_ > 0) IFFClose(handle_);
  }

  Status Open(const std::string& path, JpegReading reading) {
    IFFImageInfo info{};
    int32_t h = IFFOpen(path.c_str(), JpegReadMode(reading), &info);
    if (h <= 0) return JpegOpenFailure(path, h, reading);
    handle_ = h;
    shape_ = {info.width, info.height, info.planes == 1 ? 1 : 3};
    return Status::Ok();
  }

  Status ReadLine(uint8_t* line) override {
    int32_t rc = IFFGetLine(handle_, 1, line);
    // Code 10: the line is still delivered; the rest of the image decodes
    // from zero bits, so the output is complete but partly made up.
    if (rc == IFF_ERR_DATA_ENDED) {
      damaged_ = true;
      return Status::Ok();
    }
    if (rc != IFF_OK) return Status::Driver(rc);
    return Status::Ok();
  }

  bool damaged() const override { return damaged_; }

 private:
  int32_t handle_ = 0;
  bool damaged_ = false;
};

// Standard output as a write-only file: one id, writes through stdio.
int32_t IFFJPEG_CALL StdoutOpen(const void*, int32_t, int32_t) {
#if defined(_WIN32)
  _setmode(_fileno(stdout), _O_BINARY);  // no CR inserted before LF bytes
#endif
  return 1;
}
int32_t IFFJPEG_CALL StdoutClose(int32_t) { return std::fflush(stdout) == 0 ? 0 : 1; }
int32_t IFFJPEG_CALL StdoutRead(int32_t, void*, int32_t) { return -1; }
int32_t IFFJPEG_CALL StdoutWrite(int32_t, const void* buffer, int32_t count) {
  return static_cast<int32_t>(std::fwrite(buffer, 1, static_cast<std::size_t>(count), stdout));
}
int32_t IFFJPEG_CALL StdoutSeek(int32_t, int32_t, int32_t) { return -1; }
const IFFFileOps kStdoutOps = {StdoutOpen, StdoutClose, StdoutRead, StdoutWrite, StdoutSeek};

class JpegSink : public LineSink {
 public:
  ~JpegSink() override {
    if (handle_ > 0) {
      IFFClose(handle_);
      if (path_ != "-") std::remove(path_.c_str());
    }
  }

  Status Create(const std::string& path, const ImageShape& shape, const JpegSettings& settings) {
    if (shape.width > 65535 || shape.height > 65535) {
      return Status::Fail("image too large for JPEG (at most 65535 x 65535 pixels)");
    }
    IFFImageInfo info{};
    info.width = shape.width;
    info.height = shape.height;
    info.planes = shape.channels;
    info.bitsPerSample = 8;
    info.compression = 1;
    // "-" is standard output, through file callbacks of the tool's own.
    int32_t h = path == "-" ? IFFOpen(&kStdoutOps, IFF_MODE_WRITE | IFF_MODE_CALLBACKS, &info)
                            : IFFOpen(path.c_str(), IFF_MODE_WRITE, &info);
    if (h <= 0) return Status::Driver(h < 0 ? -h : IFF_ERR_INVALID);
    handle_ = h;
    path_ = path;
    shape_ = shape;
    // Both settings must reach the driver before the first line, which
    // writes the headers.
    if (settings.quality != 0) {
      int32_t rc = IFFControl(handle_, IFF_CTL_QUALITY, settings.quality, 0, nullptr);
      if (rc != IFF_OK) return Status::Driver(rc);
    }
    if (settings.dpiX != 0 || settings.dpiY != 0) {
      int32_t slots[2] = {settings.dpiX, settings.dpiY};
      int32_t rc =
          IFFControl(handle_, IFF_CTL_RESOLUTION, IFF_RES_HORIZONTAL | IFF_RES_VERTICAL, 0, slots);
      if (rc != IFF_OK) return Status::Driver(rc);
    }
    const int32_t options[][2] = {{IFF_CTL_SUBSAMPLING, settings.subsampling},
                                  {IFF_CTL_RESTART, settings.restart},
                                  {IFF_CTL_OPTIMIZE, settings.optimize ? 1 : 0}};
    for (const auto& [code, value] : options) {
      if (value == 0) continue;
      int32_t rc = IFFControl(handle_, code, value, 0, nullptr);
      if (rc != IFF_OK) return Status::Driver(rc);
    }
    const std::pair<int32_t, const std::vector<uint8_t>*> items[] = {
        {1, &settings.icc}, {2, &settings.exif}, {4, &settings.comment}};
    for (const auto& [kind, bytes] : items) {
      if (bytes->empty()) continue;
      int32_t rc = IFFControl(handle_, IFF_CTL_METADATA, kind, static_cast<int32_t>(bytes->size()),
                              const_cast<uint8_t*>(bytes->data()));
      if (rc != IFF_OK) return Status::Driver(rc);
    }
    return Status::Ok();
  }

  Status WriteLine(const uint8_t* line) override {
    int32_t rc = IFFPutLine(handle_, 1, line);
    if (rc != IFF_OK) return Status::Driver(rc);
    return Status::Ok();
  }

  Status Finish() override {
    int32_t rc = IFFClose(handle_);
    handle_ = 0;
    if (rc != IFF_OK) {
      if (path_ != "-") std::remove(path_.c_str());
      return Status::Driver(rc);
    }
    return Status::Ok();
  }

 private:
  int32_t handle_ = 0;
  std::string path_;
  ImageShape shape_;
};

}  // namespace

int32_t JpegReadMode(JpegReading reading) {
  return reading == JpegReading::kStrict ? IFF_MODE_READ : IFF_MODE_READ | IFF_MODE_EXTENDED;
}

Status JpegOpenFailure(const std::string& path, int32_t result, JpegReading reading) {
  int32_t code = result < 0 ? -result : IFF_ERR_INVALID;
  if (code != IFF_ERR_INVALID && code != IFF_ERR_VARIANT && code != IFF_ERR_BAD_DATA) {
    return Status::Driver(code);
  }
  return Status::Driver(code, RefusalReason(OutlineJpeg(path), reading == JpegReading::kStrict));
}

Status OpenJpegSource(const std::string& path, JpegReading reading,
                      std::unique_ptr<LineSource>* out) {
  auto source = std::make_unique<JpegSource>();
  Status s = source->Open(path, reading);
  if (s.ok()) *out = std::move(source);
  return s;
}

Status CreateJpegSink(const std::string& path, const ImageShape& shape,
                      const JpegSettings& settings, std::unique_ptr<LineSink>* out) {
  auto sink = std::make_unique<JpegSink>();
  Status s = sink->Create(path, shape, settings);
  if (s.ok()) *out = std::move(sink);
  return s;
}

}  // namespace iffjpeg_cli
