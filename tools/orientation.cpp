// Turning a decoded image upright as its EXIF orientation (tag 0x0112)
// says: the stored rows and columns are mapped to the ones to show.
#include <cstring>
#include <new>
#include <vector>

#include "line_io.h"

namespace iffjpeg_cli {
namespace {

class OrientedSource : public LineSource {
 public:
  OrientedSource(int32_t orientation, std::unique_ptr<LineSource> inner)
      : orientation_(orientation), inner_(std::move(inner)) {
    shape_ = inner_->shape();
    if (orientation_ >= 5) std::swap(shape_.width, shape_.height);  // the axes trade places
  }

  Status ReadLine(uint8_t* line) override {
    if (image_.empty()) {
      Status s = Load();
      if (!s.ok()) return s;
    }
    const ImageShape& in = inner_->shape();
    const int32_t c = shape_.channels;
    const int32_t w = in.width, h = in.height;
    const int32_t y = next_ < shape_.height ? next_++ : shape_.height - 1;
    for (int32_t x = 0; x < shape_.width; ++x) {
      // The stored sample shown at (x, y).
      int32_t sx = x, sy = y;
      switch (orientation_) {
        case 2:  // mirrored horizontally
          sx = w - 1 - x;
          break;
        case 3:  // turned 180 degrees
          sx = w - 1 - x;
          sy = h - 1 - y;
          break;
        case 4:  // mirrored vertically
          sy = h - 1 - y;
          break;
        case 5:  // transposed
          sx = y;
          sy = x;
          break;
        case 6:  // to be turned 90 degrees clockwise
          sx = y;
          sy = h - 1 - x;
          break;
        case 7:  // transversed
          sx = w - 1 - y;
          sy = h - 1 - x;
          break;
        case 8:  // to be turned 90 degrees anticlockwise
          sx = w - 1 - y;
          sy = x;
          break;
        default:
          break;
      }
      std::memcpy(line + static_cast<std::size_t>(x) * c,
                  image_.data() + (static_cast<std::size_t>(sy) * w + sx) * c,
                  static_cast<std::size_t>(c));
    }
    return Status::Ok();
  }

  bool damaged() const override { return inner_->damaged(); }
  const JpegDetails* jpeg() const override { return inner_->jpeg(); }

 private:
  Status Load() {
    const ImageShape& in = inner_->shape();
    try {
      image_.resize(in.lineBytes() * static_cast<std::size_t>(in.height));
    } catch (const std::bad_alloc&) {
      return Status::Fail("not enough memory to hold the image for --orient");
    }
    for (int32_t y = 0; y < in.height; ++y) {
      Status s = inner_->ReadLine(image_.data() + in.lineBytes() * static_cast<std::size_t>(y));
      if (!s.ok()) return s;
    }
    return Status::Ok();
  }

  int32_t orientation_;
  std::unique_ptr<LineSource> inner_;
  std::vector<uint8_t> image_;
  int32_t next_ = 0;
};

}  // namespace

void OrientSource(int32_t orientation, std::unique_ptr<LineSource>* source) {
  if (orientation < 2 || orientation > 8) return;
  *source = std::make_unique<OrientedSource>(orientation, std::move(*source));
}

}  // namespace iffjpeg_cli
