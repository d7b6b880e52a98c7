// JPEG input and output: the tool's only route to JPEG data is the driver's
// public C interface.
#include <algorithm>
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

// Files held in memory, read through the driver's callbacks. The open
// callback gets the record's address; the others only the id it returned,
// an index into this table.
std::vector<JpegMemoryFile*>& MemoryFiles() {
  static std::vector<JpegMemoryFile*> files;
  return files;
}

class JpegSource : public LineSource {
 public:
  Status Open(const std::string& path, const JpegOpenOptions& options) {
    IFFImageInfo info{};
    Status s = handle_.Open(path, options.reading, options.bytes, &info);
    if (!s.ok()) return s;
    shape_ = {info.width, info.height, info.planes == 1 ? 1 : 3};
    IFFJpegInfo jpeg{};
    jpeg.size = sizeof jpeg;
    if (IFFControl(handle_.get(), IFF_CTL_JPEG_INFO, 0, 0, &jpeg) == IFF_OK) {
      details_.orientation = jpeg.orientation;
    }
    if (options.metadata) {
      const struct {
        int32_t item;
        int32_t bytes;
        std::vector<uint8_t>* out;
      } items[] = {{IFF_META_ICC, jpeg.iccBytes, &details_.icc},
                   {IFF_META_EXIF, jpeg.exifBytes, &details_.exif},
                   {IFF_META_XMP, jpeg.xmpBytes, &details_.xmp}};
      for (const auto& [item, bytes, out] : items) {
        if (bytes <= 0) continue;
        out->resize(static_cast<std::size_t>(bytes));
        int32_t rc = IFFControl(handle_.get(), IFF_CTL_METADATA, item, bytes, out->data());
        if (rc != IFF_OK) return Status::Driver(rc);
      }
    }
    // Before the first line; scale 1 is the default decoding.
    if (options.scale != 1) {
      int32_t size[2] = {0, 0};
      int32_t rc = IFFControl(handle_.get(), IFF_CTL_SCALE, options.scale, 0, size);
      if (rc != IFF_OK) return Status::Driver(rc);
      shape_.width = size[0];
      shape_.height = size[1];
    }
    return Status::Ok();
  }

  Status ReadLine(uint8_t* line) override {
    int32_t rc = IFFGetLine(handle_.get(), 1, line);
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
  const JpegDetails* jpeg() const override { return &details_; }

 private:
  JpegReadHandle handle_;
  JpegDetails details_;
  bool damaged_ = false;
};

JpegMemoryFile* MemoryFile(int32_t id) {
  std::vector<JpegMemoryFile*>& files = MemoryFiles();
  if (id < 1 || static_cast<std::size_t>(id) > files.size()) return nullptr;
  return files[static_cast<std::size_t>(id) - 1];
}

int32_t IFFJPEG_CALL MemoryOpen(const void* source, int32_t, int32_t) {
  std::vector<JpegMemoryFile*>& files = MemoryFiles();
  auto* state = static_cast<JpegMemoryFile*>(const_cast<void*>(source));
  state->position = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (files[i] == nullptr) {
      files[i] = state;
      return static_cast<int32_t>(i + 1);
    }
  }
  files.push_back(state);
  return static_cast<int32_t>(files.size());
}
int32_t IFFJPEG_CALL MemoryClose(int32_t id) {
  if (MemoryFile(id) == nullptr) return 1;
  MemoryFiles()[static_cast<std::size_t>(id) - 1] = nullptr;
  return 0;
}
int32_t IFFJPEG_CALL MemoryRead(int32_t id, void* buffer, int32_t count) {
  JpegMemoryFile* f = MemoryFile(id);
  if (f == nullptr || count < 0) return -1;
  std::size_t left = f->bytes->size() - f->position;
  std::size_t n = std::min(left, static_cast<std::size_t>(count));
  std::copy_n(f->bytes->data() + f->position, n, static_cast<uint8_t*>(buffer));
  f->position += n;
  return static_cast<int32_t>(n);
}
int32_t IFFJPEG_CALL MemoryWrite(int32_t, const void*, int32_t) { return -1; }
int32_t IFFJPEG_CALL MemorySeek(int32_t id, int32_t offset, int32_t origin) {
  JpegMemoryFile* f = MemoryFile(id);
  if (f == nullptr) return -1;
  long long base = origin == 0   ? 0
                   : origin == 1 ? static_cast<long long>(f->position)
                                 : static_cast<long long>(f->bytes->size());
  long long target = base + offset;
  if (target < 0 || target > static_cast<long long>(f->bytes->size())) return -1;
  f->position = static_cast<std::size_t>(target);
  return static_cast<int32_t>(target);
}

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
                                  {IFF_CTL_OPTIMIZE, settings.optimize ? 1 : 0},
                                  {IFF_CTL_PROGRESSIVE, settings.progressive ? 1 : 0}};
    for (const auto& [code, value] : options) {
      if (value == 0) continue;
      int32_t rc = IFFControl(handle_, code, value, 0, nullptr);
      if (rc != IFF_OK) return Status::Driver(rc);
    }
    const std::pair<int32_t, const std::vector<uint8_t>*> items[] = {
        {IFF_META_ICC, &settings.icc},
        {IFF_META_EXIF, &settings.exif},
        {IFF_META_XMP, &settings.xmp},
        {IFF_META_COMMENT, &settings.comment}};
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

Status JpegOpenFailure(const std::string& path, int32_t result, JpegReading reading,
                       const std::vector<uint8_t>* bytes) {
  int32_t code = result < 0 ? -result : IFF_ERR_INVALID;
  if (code != IFF_ERR_INVALID && code != IFF_ERR_VARIANT && code != IFF_ERR_BAD_DATA) {
    return Status::Driver(code);
  }
  JpegOutline outline = bytes != nullptr ? OutlineJpeg(*bytes) : OutlineJpeg(path);
  return Status::Driver(code, RefusalReason(outline, reading == JpegReading::kStrict));
}

JpegReadHandle::~JpegReadHandle() {
  if (handle_ > 0) IFFClose(handle_);
}

Status JpegReadHandle::Open(const std::string& path, JpegReading reading,
                            const std::vector<uint8_t>* bytes, IFFImageInfo* info) {
  int32_t h = 0;
  if (bytes != nullptr) {
    // Positions and counts are 32-bit in the callbacks.
    if (bytes->size() > 0x7FFFFFFF) return Status::Fail("more than 2 GiB of JPEG data");
    memory_.ops = {MemoryOpen, MemoryClose, MemoryRead, MemoryWrite, MemorySeek};
    memory_.bytes = bytes;
    h = IFFOpen(&memory_, JpegReadMode(reading) | IFF_MODE_CALLBACKS, info);
  } else {
    h = IFFOpen(path.c_str(), JpegReadMode(reading), info);
  }
  if (h <= 0) return JpegOpenFailure(path, h, reading, bytes);
  handle_ = h;
  return Status::Ok();
}

Status OpenJpegSource(const std::string& path, const JpegOpenOptions& options,
                      std::unique_ptr<LineSource>* out) {
  auto source = std::make_unique<JpegSource>();
  Status s = source->Open(path, options);
  if (s.ok()) *out = std::move(source);
  return s;
}

Status OpenJpegSource(const std::string& path, JpegReading reading,
                      std::unique_ptr<LineSource>* out) {
  JpegOpenOptions options;
  options.reading = reading;
  return OpenJpegSource(path, options, out);
}

Status CreateJpegSink(const std::string& path, const ImageShape& shape,
                      const JpegSettings& settings, std::unique_ptr<LineSink>* out) {
  auto sink = std::make_unique<JpegSink>();
  Status s = sink->Create(path, shape, settings);
  if (s.ok()) *out = std::move(sink);
  return s;
}

}  // namespace iffjpeg_cli
