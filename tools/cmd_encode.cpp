// iffjpeg encode IN OUT.jpg [--quality N] [--dpi X[,Y]] [--strict]
#include <cstdio>

#include "commands.h"

namespace iffjpeg_cli {
namespace {

constexpr const char kHelp[] =
    "Usage: iffjpeg encode IN OUT.jpg [--quality N] [--dpi X[,Y]] [--strict]\n"
    "\n"
    "Encodes an image into a baseline JFIF file. IN may be PNG, BMP, binary\n"
    "PGM/PPM (maximum value 255) or JPEG; its type is recognised from its\n"
    "content. Greyscale images give greyscale JPEG files, all others YCbCr\n"
    "with 2x2 chroma subsampling. Alpha channels are dropped.\n"
    "\n"
    "Options:\n"
    "  --quality N    1 (smallest) to 100 (best); default 75\n"
    "  --dpi X[,Y]    resolution in dots per inch written into the JFIF\n"
    "                 segment (1 to 65535; Y defaults to X)\n"
    "  --strict       read a JPEG input as the driver does without extended\n"
    "                 reading (see 'iffjpeg decode --help')\n";

bool ParseDpi(const std::string& text, JpegSettings* settings) {
  std::size_t comma = text.find(',');
  std::string x = text.substr(0, comma);
  std::string y = comma == std::string::npos ? x : text.substr(comma + 1);
  return ParseInt(x, 1, 65535, &settings->dpiX) && ParseInt(y, 1, 65535, &settings->dpiY);
}

}  // namespace

int RunEncode(const Args& args) {
  Args paths;
  JpegSettings settings;
  JpegReading reading = JpegReading::kExtended;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (IsHelp(args[i])) {
      std::fputs(kHelp, stdout);
      return kExitOk;
    }
    if (args[i] == "--strict") {
      reading = JpegReading::kStrict;
      continue;
    }
    std::string value;
    int m = MatchOption(args, &i, "--quality", &value);
    if (m == 0) m = MatchOption(args, &i, "-q", &value);
    if (m < 0) return UsageError("encode", "--quality needs a value");
    if (m > 0) {
      if (!ParseInt(value, 1, 100, &settings.quality)) {
        return UsageError("encode", "quality must be a whole number from 1 to 100");
      }
      continue;
    }
    m = MatchOption(args, &i, "--dpi", &value);
    if (m < 0) return UsageError("encode", "--dpi needs a value");
    if (m > 0) {
      if (!ParseDpi(value, &settings)) {
        return UsageError("encode", "dpi must be X or X,Y with whole numbers from 1 to 65535");
      }
      continue;
    }
    if (IsOption(args[i])) return UsageError("encode", "unknown option '" + args[i] + "'");
    paths.push_back(args[i]);
  }
  if (paths.size() != 2) return UsageError("encode", "expects IN and OUT.jpg");
  const std::string& in = paths[0];
  const std::string& out = paths[1];
  if (SameFile(in, out)) return UsageError("encode", "IN and OUT are the same file");

  std::unique_ptr<LineSource> source;
  Status s = OpenImageSource(in, reading, &source);
  if (!s.ok()) {
    Report(in, s.message());
    return kExitFailure;
  }
  std::unique_ptr<LineSink> sink;
  s = CreateJpegSink(out, source->shape(), settings, &sink);
  if (!s.ok()) {
    Report(out, s.message());
    return kExitFailure;
  }
  bool sourceFailed = false;
  {
    Progress progress("encoding " + out, source->shape().pixels(), source->shape().height);
    s = CopyLines(*source, *sink, source->shape().channels, &progress, &sourceFailed);
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
