// iffjpeg chart OUT [--size WxH]: a synthetic test chart, generated line by
// line. Its bands stress what lossy coding changes: colour bars (chroma
// edges), smooth ramps (banding), a zone plate and line gratings (fine
// detail and aliasing), text (sharp edges), and a hue sweep.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "commands.h"

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wwrite-strings"
#endif
#include "stb_easy_font.h"
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace iffjpeg_cli {
namespace {

constexpr const char kHelp[] =
    "Usage: iffjpeg chart OUT [--size WxH]\n"
    "\n"
    "Writes a synthetic RGB test chart: colour bars, grey and colour ramps, a\n"
    "zone plate, line gratings, text and a hue sweep. OUT's extension chooses\n"
    "the format (.png, .ppm, .pgm, .pnm, .bmp, or .jpg through the driver).\n"
    "\n"
    "Options:\n"
    "  --size WxH   the size in pixels, 64 to 8192 each; default 640x480\n";

constexpr double kPi = 3.14159265358979323846;

uint8_t Clamp(double v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v + 0.5); }

class ChartSource : public LineSource {
 public:
  ChartSource(int32_t width, int32_t height) {
    shape_ = {width, height, 3};
    bands_[0] = 0;
    bands_[1] = height * 18 / 100;  // colour bars
    bands_[2] = height * 38 / 100;  // ramps
    bands_[3] = height * 68 / 100;  // zone plate and gratings
    bands_[4] = height * 84 / 100;  // text
    bands_[5] = height;             // hue sweep
    RenderText();
  }

  Status ReadLine(uint8_t* line) override {
    int32_t y = next_++;
    for (int32_t x = 0; x < shape_.width; ++x) Pixel(x, y, line + 3 * x);
    return Status::Ok();
  }

 private:
  void Pixel(int32_t x, int32_t y, uint8_t* rgb) const {
    const int32_t w = shape_.width;
    double v[3] = {0, 0, 0};
    if (y < bands_[1]) {
      // White, yellow, cyan, green, magenta, red, blue, black.
      int bar = x * 8 / w;
      v[0] = (bar == 0 || bar == 1 || bar == 4 || bar == 5) ? 235 : 16;
      v[1] = (bar <= 3) ? 235 : 16;
      v[2] = (bar == 0 || bar == 2 || bar == 4 || bar == 6) ? 235 : 16;
    } else if (y < bands_[2]) {
      // Four ramps: grey, red, green, blue, each from 0 to 255.
      int ramp = (y - bands_[1]) * 4 / (bands_[2] - bands_[1]);
      double t = 255.0 * x / (w - 1);
      for (int c = 0; c < 3; ++c) v[c] = (ramp == 0 || ramp == c + 1) ? t : 0;
    } else if (y < bands_[3]) {
      Detail(x, y, v);
    } else if (y < bands_[4]) {
      uint8_t ink = text_[static_cast<std::size_t>(y - bands_[3]) * w + x];
      v[0] = v[1] = v[2] = ink ? 20 : 240;
    } else {
      // Hue across, brightness down: smooth, saturated colour.
      double hue = 6.0 * x / w;
      double light = 1.0 - 0.7 * (y - bands_[4]) / (bands_[5] - bands_[4]);
      static const double kOffsets[3] = {5, 3, 1};  // red, green, blue
      for (int c = 0; c < 3; ++c) {
        double k = std::fmod(kOffsets[c] + hue, 6.0);
        double f = std::max(0.0, std::min({k, 4 - k, 1.0}));
        v[c] = 255 * light * (1 - 0.85 * f);
      }
    }
    for (int c = 0; c < 3; ++c) rgb[c] = Clamp(v[c]);
  }

  // Left half: a zone plate (a circular chirp whose frequency rises with the
  // radius). Right half: gratings of period 2, 3, 4 and 6 pixels, vertical
  // above and horizontal below, and a one-pixel checkerboard.
  void Detail(int32_t x, int32_t y, double* v) const {
    const int32_t w = shape_.width;
    const int32_t top = bands_[2], h = bands_[3] - bands_[2];
    if (x < w / 2) {
      double cx = x - w / 4.0, cy = y - (top + h / 2.0);
      // The frequency reaches half the sampling rate at the far corners.
      double r = std::hypot(w / 4.0, h / 2.0);
      double s = 127.5 + 127.5 * std::cos(kPi * (cx * cx + cy * cy) / (2.0 * r));
      v[0] = v[1] = v[2] = s;
      return;
    }
    int column = (x - w / 2) * 5 / (w - w / 2);
    static const int kPeriods[4] = {2, 3, 4, 6};
    bool lower = (y - top) * 2 >= h;
    bool ink;
    if (column == 4) {
      ink = ((x + y) & 1) != 0;
    } else {
      int period = kPeriods[column];
      int pos = lower ? y - top : x;
      ink = pos % period < period / 2;
    }
    v[0] = v[1] = v[2] = ink ? 0 : 255;
    if (column < 4 && lower) v[2] = ink ? 40 : 255;  // a blue tint on the horizontal lines
  }

  // Rasterises the text band once: stb_easy_font gives axis-aligned quads.
  void RenderText() {
    const int32_t w = shape_.width, h = bands_[4] - bands_[3];
    text_.assign(static_cast<std::size_t>(w) * h, 0);
    static char kLines[3][64] = {"iffjpeg test chart", "ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789",
                                 "the quick brown fox jumps over the lazy dog"};
    double scale = h / 40.0;  // three lines of about 12 font units each
    std::vector<char> buffer(64 * 1024);
    for (int i = 0; i < 3; ++i) {
      int quads = stb_easy_font_print(0, 0, kLines[i], nullptr, buffer.data(),
                                      static_cast<int>(buffer.size()));
      double s = i == 0 ? scale * 1.3 : scale;
      double x0 = 8, y0 = 2 + (i == 0 ? 0 : scale * (12 + 11 * (i - 1)) + 4);
      for (int q = 0; q < quads; ++q) {
        const float* v = reinterpret_cast<const float*>(buffer.data() + q * 64);
        // Vertices 0 and 2 of a quad are opposite corners; 16 bytes each.
        double ax = x0 + v[0] * s, ay = y0 + v[1] * s;
        double bx = x0 + v[8] * s, by = y0 + v[9] * s;
        Fill(ax, ay, bx, by);
      }
    }
  }

  void Fill(double ax, double ay, double bx, double by) {
    const int32_t w = shape_.width, h = bands_[4] - bands_[3];
    int x0 = static_cast<int>(std::lround(std::fmin(ax, bx)));
    int x1 = static_cast<int>(std::lround(std::fmax(ax, bx)));
    int y0 = static_cast<int>(std::lround(std::fmin(ay, by)));
    int y1 = static_cast<int>(std::lround(std::fmax(ay, by)));
    for (int y = std::max(y0, 0); y < std::min(y1, h); ++y) {
      for (int x = std::max(x0, 0); x < std::min(x1, w); ++x) {
        text_[static_cast<std::size_t>(y) * w + x] = 1;
      }
    }
  }

  int32_t bands_[6] = {};
  int32_t next_ = 0;
  std::vector<uint8_t> text_;
};

bool ParseSize(const std::string& text, int32_t* width, int32_t* height) {
  std::size_t x = text.find('x');
  if (x == std::string::npos) return false;
  return ParseInt(text.substr(0, x), 64, 8192, width) &&
         ParseInt(text.substr(x + 1), 64, 8192, height);
}

}  // namespace

int RunChart(const Args& args) {
  Args paths;
  int32_t width = 640, height = 480;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (IsHelp(args[i])) {
      std::fputs(kHelp, stdout);
      return kExitOk;
    }
    std::string value;
    int m = MatchOption(args, &i, "--size", &value);
    if (m < 0) return UsageError("chart", "--size needs a value");
    if (m > 0) {
      if (!ParseSize(value, &width, &height)) {
        return UsageError("chart", "size must be WxH, each from 64 to 8192");
      }
      continue;
    }
    if (IsOption(args[i])) return UsageError("chart", "unknown option '" + args[i] + "'");
    paths.push_back(args[i]);
  }
  if (paths.size() != 1) return UsageError("chart", "expects one OUT file");
  const std::string& out = paths[0];
  int32_t forcedChannels = 0;
  ImageFormat format = FormatFromExtension(out, &forcedChannels);
  if (format == ImageFormat::kUnknown) {
    return UsageError("chart", "cannot tell the output type of '" + out +
                                   "' (use .png, .ppm, .pgm, .pnm, .bmp or .jpg)");
  }
  ChartSource chart(width, height);
  ImageShape shape = chart.shape();
  if (forcedChannels != 0) shape.channels = forcedChannels;
  std::unique_ptr<LineSink> sink;
  Status s = CreateImageSink(format, out, shape, &sink);
  bool sourceFailed = false;
  if (s.ok()) s = CopyLines(chart, *sink, shape.channels, nullptr, &sourceFailed);
  if (!s.ok()) {
    Report(out, s.message());
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace iffjpeg_cli
