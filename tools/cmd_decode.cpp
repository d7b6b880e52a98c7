// iffjpeg decode IN.jpg OUT.(png|ppm|pgm|pnm|bmp) [--strict]
#include <cstdio>

#include "commands.h"

namespace iffjpeg_cli {
namespace {

constexpr const char kHelp[] =
    "Usage: iffjpeg decode IN.jpg OUT [--strict]\n"
    "\n"
    "Decodes a baseline, extended-sequential or progressive JPEG file (Huffman\n"
    "coding, 8-bit precision; greyscale, YCbCr, RGB, CMYK or YCCK). OUT's extension\n"
    "chooses the output: .png, .bmp, .ppm (RGB), .pgm (grey) or .pnm (PGM for\n"
    "greyscale JPEG files, PPM otherwise). PNG, BMP and PNM keep the file's\n"
    "colour: greyscale files give greyscale images. PNM and BMP are written\n"
    "line by line, so memory does not grow with the image.\n"
    "\n"
    "If the JPEG data ends early the image is completed, a warning is printed\n"
    "and the exit status is 3. A file that cannot be read is refused with the\n"
    "reason its markers give (arithmetic coding, 12-bit precision, lossless,\n"
    "hierarchical, two components, truncated header, not a JPEG file).\n"
    "\n"
    "Options:\n"
    "  --strict   read as the driver does without extended reading: baseline\n"
    "             and extended-sequential files of 1 or 3 components only;\n"
    "             progressive and four-component files are refused, Adobe\n"
    "             colour segments ignored\n";

}  // namespace

int RunDecode(const Args& args) {
  Args paths;
  JpegReading reading = JpegReading::kExtended;
  for (const std::string& arg : args) {
    if (IsHelp(arg)) {
      std::fputs(kHelp, stdout);
      return kExitOk;
    }
    if (arg == "--strict") {
      reading = JpegReading::kStrict;
      continue;
    }
    if (IsOption(arg)) return UsageError("decode", "unknown option '" + arg + "'");
    paths.push_back(arg);
  }
  if (paths.size() != 2) return UsageError("decode", "expects IN.jpg and OUT");
  const std::string& in = paths[0];
  const std::string& out = paths[1];
  if (SameFile(in, out)) return UsageError("decode", "IN and OUT are the same file");

  int32_t forcedChannels = 0;
  ImageFormat format = FormatFromExtension(out, &forcedChannels);
  if (format == ImageFormat::kUnknown || format == ImageFormat::kJpeg) {
    return UsageError("decode", "cannot tell the output type of '" + out +
                                    "' (use .png, .ppm, .pgm, .pnm or .bmp)");
  }

  std::unique_ptr<LineSource> source;
  Status s = OpenJpegSource(in, reading, &source);
  if (!s.ok()) {
    Report(in, s.message());
    return kExitFailure;
  }
  ImageShape outShape = source->shape();
  if (forcedChannels != 0) outShape.channels = forcedChannels;

  std::unique_ptr<LineSink> sink;
  s = CreateImageSink(format, out, outShape, &sink);
  if (!s.ok()) {
    Report(out, s.message());
    return kExitFailure;
  }
  bool sourceFailed = false;
  {
    Progress progress("decoding " + in, source->shape().pixels(), source->shape().height);
    s = CopyLines(*source, *sink, outShape.channels, &progress, &sourceFailed);
  }
  if (!s.ok()) {
    Report(sourceFailed ? in : out, s.message());
    return kExitFailure;
  }
  if (source->damaged()) {
    ReportDamage(in);
    return kExitDamaged;
  }
  return kExitOk;
}

}  // namespace iffjpeg_cli
