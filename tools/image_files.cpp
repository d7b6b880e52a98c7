// Choosing a reader by a file's content and a writer by its name.
#include <algorithm>
#include <cctype>
#include <cstdio>
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "line_io.h"
#include "output_file.h"

namespace iffjpeg_cli {

std::string DisplayName(const std::string& path) { return path == "-" ? "standard input" : path; }

Status ReadStandardInput(std::vector<uint8_t>* bytes) {
#if defined(_WIN32)
  _setmode(_fileno(stdin), _O_BINARY);  // no CR LF pairs taken as LF
#endif
  bytes->clear();
  uint8_t chunk[65536];
  for (;;) {
    std::size_t n = std::fread(chunk, 1, sizeof chunk, stdin);
    bytes->insert(bytes->end(), chunk, chunk + n);
    if (n < sizeof chunk) break;
  }
  if (std::ferror(stdin)) return Status::Fail("cannot read standard input: " + SystemError());
  return Status::Ok();
}

ImageFormat SniffFormat(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return ImageFormat::kUnknown;
  unsigned char magic[4] = {};
  std::size_t n = std::fread(magic, 1, sizeof magic, f);
  std::fclose(f);
  if (n >= 2 && magic[0] == 0xFF && magic[1] == 0xD8) return ImageFormat::kJpeg;
  if (n >= 2 && magic[0] == 'P' && (magic[1] == '5' || magic[1] == '6')) return ImageFormat::kPnm;
  if (n >= 4 && magic[0] == 0x89 && magic[1] == 'P' && magic[2] == 'N' && magic[3] == 'G') {
    return ImageFormat::kPng;
  }
  if (n >= 2 && magic[0] == 'B' && magic[1] == 'M') return ImageFormat::kBmp;
  return ImageFormat::kUnknown;
}

ImageFormat FormatFromExtension(const std::string& path, int32_t* channels) {
  *channels = 0;
  std::size_t dot = path.find_last_of('.');
  std::size_t slash = path.find_last_of('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
    return ImageFormat::kUnknown;
  }
  std::string ext = path.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (ext == "jpg" || ext == "jpeg" || ext == "jfif") return ImageFormat::kJpeg;
  if (ext == "png") return ImageFormat::kPng;
  if (ext == "bmp") return ImageFormat::kBmp;
  if (ext == "pnm") return ImageFormat::kPnm;
  if (ext == "pgm") {
    *channels = 1;
    return ImageFormat::kPnm;
  }
  if (ext == "ppm") {
    *channels = 3;
    return ImageFormat::kPnm;
  }
  return ImageFormat::kUnknown;
}

Status OpenImageSource(const std::string& path, JpegReading reading,
                       std::unique_ptr<LineSource>* out) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return Status::Fail("cannot open the file: " + SystemError());
  std::fclose(f);
  switch (SniffFormat(path)) {
    case ImageFormat::kJpeg:
      return OpenJpegSource(path, reading, out);
    case ImageFormat::kPnm:
      return OpenPnmSource(path, out);
    case ImageFormat::kPng:
    case ImageFormat::kBmp:
      return OpenStbSource(path, out);
    case ImageFormat::kUnknown:
      break;
  }
  return Status::Fail("unrecognised image format (expected PNG, BMP, binary PGM/PPM or JPEG)");
}

Status CreateImageSink(ImageFormat format, const std::string& path, const ImageShape& shape,
                       std::unique_ptr<LineSink>* out) {
  switch (format) {
    case ImageFormat::kPnm:
      return CreatePnmSink(path, shape, out);
    case ImageFormat::kBmp:
      return CreateBmpSink(path, shape, out);
    case ImageFormat::kPng:
      return CreatePngSink(path, shape, out);
    case ImageFormat::kJpeg:
      return CreateJpegSink(path, shape, JpegSettings{}, out);
    case ImageFormat::kUnknown:
      break;
  }
  return Status::Fail("unknown output type (use .png, .ppm, .pgm or .bmp)");
}

void ConvertLine(const uint8_t* in, int32_t inChannels, uint8_t* out, int32_t outChannels,
                 int32_t width) {
  if (inChannels == outChannels) {
    std::copy(in, in + static_cast<std::size_t>(width) * inChannels, out);
  } else if (inChannels == 1) {
    for (int32_t x = 0; x < width; ++x) out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = in[x];
  } else {
    // Luma weights 0.299, 0.587, 0.114 in 8-bit fixed point (sum 256).
    for (int32_t x = 0; x < width; ++x) {
      out[x] = static_cast<uint8_t>(
          (77 * in[3 * x] + 150 * in[3 * x + 1] + 29 * in[3 * x + 2] + 128) >> 8);
    }
  }
}

}  // namespace iffjpeg_cli
