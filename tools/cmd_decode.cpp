// iffjpeg decode IN.jpg OUT.(png|ppm|pgm|pnm|bmp)
#include <cstdio>

#include "commands.h"

namespace iffjpeg_cli {
namespace {

constexpr const char kHelp[] =
    "Usage: iffjpeg decode IN.jpg OUT\n"
    "\n"
    "Decodes a baseline or extended-sequential JPEG file. OUT's extension\n"
    "chooses the output: .png, .bmp, .ppm (RGB), .pgm (grey) or .pnm (PGM for\n"
    "greyscale JPEG files, PPM otherwise). PNG, BMP and PNM keep the file's\n"
    "colour: greyscale files give greyscale images. PNM and BMP are written\n"
    "line by line, so memory does not grow with the image.\n"
    "\n"
    "If the JPEG data ends early the image is completed, a warning is printed\n"
    "and the exit status is 3.\n";

}  // namespace

int RunDecode(const Args& args) {
  Args paths;
  for (const std::string& arg : args) {
    if (IsHelp(arg)) {
      std::fputs(kHelp, stdout);
      return kExitOk;
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
  Status s = OpenJpegSource(in, &source);
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
