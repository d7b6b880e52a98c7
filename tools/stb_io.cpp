// PNG and BMP input and PNG output through stb_image / stb_image_write.
// Their JPEG parts are compiled out: all JPEG work goes through the driver.
// Both need the whole image in memory, which is fine for these formats.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "line_io.h"
#include "output_file.h"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_JPEG
#define STBI_ONLY_PNG
#define STBI_ONLY_BMP
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wtype-limits"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-but-set-variable"
#pragma GCC diagnostic ignored "-Wmisleading-indentation"
#endif
#include "stb_image.h"
#include "stb_image_write.h"
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace iffjpeg_cli {
namespace {

class StbSource : public LineSource {
 public:
  ~StbSource() override { stbi_image_free(pixels_); }

  Status Open(const std::string& path) {
    int w = 0, h = 0, n = 0;
    if (!stbi_info(path.c_str(), &w, &h, &n)) {
      return Status::Fail(std::string("cannot read the image: ") + stbi_failure_reason());
    }
    // Grey and grey+alpha become grey; everything else RGB (alpha dropped).
    int channels = (n == 1 || n == 2) ? 1 : 3;
    pixels_ = stbi_load(path.c_str(), &w, &h, &n, channels);
    if (pixels_ == nullptr) {
      return Status::Fail(std::string("cannot read the image: ") + stbi_failure_reason());
    }
    shape_ = {w, h, channels};
    return Status::Ok();
  }

  Status ReadLine(uint8_t* line) override {
    if (next_ >= shape_.height) return Status::Fail("read past the last line");
    std::memcpy(line, pixels_ + shape_.lineBytes() * next_, shape_.lineBytes());
    ++next_;
    return Status::Ok();
  }

 private:
  unsigned char* pixels_ = nullptr;
  int32_t next_ = 0;
};

void AppendToVector(void* context, void* data, int size) {
  auto* out = static_cast<std::vector<uint8_t>*>(context);
  auto* bytes = static_cast<const uint8_t*>(data);
  out->insert(out->end(), bytes, bytes + size);
}

class PngSink : public LineSink {
 public:
  Status Create(const std::string& path, const ImageShape& shape) {
    shape_ = shape;
    if (shape.lineBytes() > 0x7FFFFFFF / static_cast<std::size_t>(shape.height)) {
      return Status::Fail("image too large for PNG output");
    }
    pixels_.resize(shape.lineBytes() * shape.height);
    return file_.Create(path);
  }

  Status WriteLine(const uint8_t* line) override {
    if (next_ >= shape_.height) return Status::Fail("more lines than the image height");
    std::memcpy(pixels_.data() + shape_.lineBytes() * next_, line, shape_.lineBytes());
    ++next_;
    return Status::Ok();
  }

  Status Finish() override {
    if (next_ != shape_.height) return Status::Fail("fewer lines than the image height");
    std::vector<uint8_t> png;
    if (!stbi_write_png_to_func(AppendToVector, &png, shape_.width, shape_.height, shape_.channels,
                                pixels_.data(), static_cast<int>(shape_.lineBytes()))) {
      return Status::Fail("cannot encode the PNG image");
    }
    Status s = file_.Write(png.data(), png.size());
    if (!s.ok()) return s;
    return file_.Commit();
  }

 private:
  ImageShape shape_;
  std::vector<uint8_t> pixels_;
  int32_t next_ = 0;
  OutputFile file_;
};

}  // namespace

Status OpenStbSource(const std::string& path, std::unique_ptr<LineSource>* out) {
  auto source = std::make_unique<StbSource>();
  Status s = source->Open(path);
  if (s.ok()) *out = std::move(source);
  return s;
}

Status CreatePngSink(const std::string& path, const ImageShape& shape,
                     std::unique_ptr<LineSink>* out) {
  auto sink = std::make_unique<PngSink>();
  Status s = sink->Create(path, shape);
  if (s.ok()) *out = std::move(sink);
  return s;
}

}  // namespace iffjpeg_cli
