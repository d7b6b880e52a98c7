// iffjpeg decode IN.jpg OUT.(png|ppm|pgm|pnm|bmp) [--scale 1/N] [--orient] [--strict]
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"

namespace iffjpeg_cli {
namespace {

constexpr const char kHelp[] =
    "Usage: iffjpeg decode IN.jpg OUT [--scale 1/N] [--orient] [--strict]\n"
    "\n"
    "Decodes a baseline, extended-sequential or progressive JPEG file (Huffman\n"
    "coding, 8-bit precision; greyscale, YCbCr, RGB, CMYK or YCCK). OUT's extension\n"
    "chooses the output: .png, .bmp, .ppm (RGB), .pgm (grey) or .pnm (PGM for\n"
    "greyscale JPEG files, PPM otherwise). PNG, BMP and PNM keep the file's\n"
    "colour: greyscale files give greyscale images. PNM and BMP are written\n"
    "line by line, so memory does not grow with the image (except with\n"
    "--orient). IN may be - for standard input (read whole into memory); OUT\n"
    "may be - for PNM on standard output (PGM for greyscale, PPM otherwise).\n"
    "\n"
    "If the JPEG data ends early the image is completed, a warning is printed\n"
    "and the exit status is 3. A file that cannot be read is refused with the\n"
    "reason its markers give (arithmetic coding, 12-bit precision, lossless,\n"
    "hierarchical, two components, truncated header, not a JPEG file).\n"
    "\n"
    "Options:\n"
    "  --scale 1/N  decode at 1/1, 1/2, 1/4 or 1/8 of the size (each side\n"
    "               rounded up), through reduced inverse DCTs\n"
    "  --orient     turn and flip the image upright as its EXIF orientation\n"
    "               says (the whole image is held in memory)\n"
    "  --strict     read as the driver does without extended reading: baseline\n"
    "               and extended-sequential files of 1 or 3 components only;\n"
    "               progressive and four-component files are refused, Adobe\n"
    "               colour segments ignored\n";

// "1/N" for N = 1, 2, 4 or 8.
bool ParseScale(const std::string& text, int32_t* denominator) {
  for (int32_t d : {1, 2, 4, 8}) {
    if (text == "1/" + std::to_string(d)) {
      *denominator = d;
      return true;
    }
  }
  return false;
}

}  // namespace

int RunDecode(const Args& args) {
  Args paths;
  JpegOpenOptions options;
  bool orient = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (IsHelp(arg)) {
      std::fputs(kHelp, stdout);
      return kExitOk;
    }
    if (arg == "--strict") {
      options.reading = JpegReading::kStrict;
      continue;
    }
    if (arg == "--orient") {
      orient = true;
      continue;
    }
    std::string value;
    int m = MatchOption(args, &i, "--scale", &value);
    if (m < 0) return UsageError("decode", "--scale needs a value");
    if (m > 0) {
      if (!ParseScale(value, &options.scale)) {
        return UsageError("decode", "scale must be 1/1, 1/2, 1/4 or 1/8");
      }
      continue;
    }
    if (IsOption(arg)) return UsageError("decode", "unknown option '" + arg + "'");
    paths.push_back(arg);
  }
  if (paths.size() != 2) return UsageError("decode", "expects IN.jpg and OUT");
  const std::string& in = paths[0];
  const std::string& out = paths[1];
  const bool toStdout = out == "-";
  const std::string outName = toStdout ? "standard output" : out;
  if (in != "-" && !toStdout && SameFile(in, out)) {
    return UsageError("decode", "IN and OUT are the same file");
  }

  int32_t forcedChannels = 0;
  ImageFormat format = toStdout ? ImageFormat::kPnm : FormatFromExtension(out, &forcedChannels);
  if (format == ImageFormat::kUnknown || format == ImageFormat::kJpeg) {
    return UsageError("decode", "cannot tell the output type of '" + out +
                                    "' (use .png, .ppm, .pgm, .pnm or .bmp)");
  }

  std::vector<uint8_t> input;
  if (in == "-") {
    Status s = ReadStandardInput(&input);
    if (!s.ok()) {
      Report(DisplayName(in), s.message());
      return kExitFailure;
    }
    options.bytes = &input;
  }
  std::unique_ptr<LineSource> source;
  Status s = OpenJpegSource(in, options, &source);
  if (!s.ok()) {
    Report(DisplayName(in), s.message());
    return kExitFailure;
  }
  if (orient) OrientSource(source->jpeg()->orientation, &source);
  ImageShape outShape = source->shape();
  if (forcedChannels != 0) outShape.channels = forcedChannels;

  std::unique_ptr<LineSink> sink;
  s = toStdout ? CreatePnmStdoutSink(outShape, &sink)
               : CreateImageSink(format, out, outShape, &sink);
  if (!s.ok()) {
    Report(outName, s.message());
    return kExitFailure;
  }
  bool sourceFailed = false;
  {
    Progress progress("decoding " + DisplayName(in), source->shape().pixels(),
                      source->shape().height);
    s = CopyLines(*source, *sink, outShape.channels, &progress, &sourceFailed);
  }
  if (!s.ok()) {
    Report(sourceFailed ? DisplayName(in) : outName, s.message());
    return kExitFailure;
  }
  if (source->damaged()) {
    ReportDamage(DisplayName(in));
    return kExitDamaged;
  }
  return kExitOk;
}

}  // namespace iffjpeg_cli
