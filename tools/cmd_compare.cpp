// iffjpeg compare A B [--min-psnr DB] [--strict]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "commands.h"

namespace iffjpeg_cli {
namespace {

constexpr const char kHelp[] =
    "Usage: iffjpeg compare A B [--min-psnr DB] [--strict]\n"
    "\n"
    "Compares two images of the same size (PNG, BMP, PGM/PPM or JPEG, in any\n"
    "mix) sample by sample and prints the peak signal-to-noise ratio over all\n"
    "samples and the largest difference of one sample. A greyscale image\n"
    "compared with an RGB one counts as RGB with equal samples.\n"
    "\n"
    "Options:\n"
    "  --min-psnr DB   exit with status 1 when the PSNR is below DB\n"
    "  --strict        read JPEG files as the driver does without extended\n"
    "                  reading (see 'iffjpeg decode --help')\n";

struct Difference {
  double squares = 0;
  std::uint64_t samples = 0;
  int largest = 0;
};

Status Accumulate(LineSource& a, LineSource& b, int32_t channels, Difference* diff,
                  bool* firstFailed) {
  const int32_t width = a.shape().width;
  std::vector<uint8_t> rawA(a.shape().lineBytes()), rawB(b.shape().lineBytes());
  std::vector<uint8_t> lineA(static_cast<std::size_t>(width) * channels), lineB(lineA.size());
  for (int32_t y = 0; y < a.shape().height; ++y) {
    *firstFailed = true;
    Status s = a.ReadLine(rawA.data());
    if (!s.ok()) return s;
    *firstFailed = false;
    s = b.ReadLine(rawB.data());
    if (!s.ok()) return s;
    ConvertLine(rawA.data(), a.shape().channels, lineA.data(), channels, width);
    ConvertLine(rawB.data(), b.shape().channels, lineB.data(), channels, width);
    for (std::size_t i = 0; i < lineA.size(); ++i) {
      int d = std::abs(static_cast<int>(lineA[i]) - static_cast<int>(lineB[i]));
      diff->squares += static_cast<double>(d) * d;
      if (d > diff->largest) diff->largest = d;
    }
    diff->samples += lineA.size();
  }
  return Status::Ok();
}

}  // namespace

int RunCompare(const Args& args) {
  Args paths;
  bool haveMin = false;
  double minPsnr = 0;
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
    int m = MatchOption(args, &i, "--min-psnr", &value);
    if (m < 0) return UsageError("compare", "--min-psnr needs a value");
    if (m > 0) {
      char* end = nullptr;
      minPsnr = std::strtod(value.c_str(), &end);
      if (value.empty() || *end != '\0') return UsageError("compare", "--min-psnr needs a number");
      haveMin = true;
      continue;
    }
    if (IsOption(args[i])) return UsageError("compare", "unknown option '" + args[i] + "'");
    paths.push_back(args[i]);
  }
  if (paths.size() != 2) return UsageError("compare", "expects two images A and B");

  std::unique_ptr<LineSource> a, b;
  for (int k = 0; k < 2; ++k) {
    Status s = OpenImageSource(paths[k], reading, k == 0 ? &a : &b);
    if (!s.ok()) {
      Report(paths[k], s.message());
      return kExitFailure;
    }
  }
  const ImageShape& sa = a->shape();
  const ImageShape& sb = b->shape();
  if (sa.width != sb.width || sa.height != sb.height) {
    std::fprintf(stderr, "iffjpeg: %s and %s differ in size: %d x %d and %d x %d\n",
                 paths[0].c_str(), paths[1].c_str(), sa.width, sa.height, sb.width, sb.height);
    return kExitFailure;
  }
  Difference diff;
  bool firstFailed = false;
  Status s = Accumulate(*a, *b, sa.channels > sb.channels ? sa.channels : sb.channels, &diff,
                        &firstFailed);
  if (!s.ok()) {
    Report(paths[firstFailed ? 0 : 1], s.message());
    return kExitFailure;
  }
  for (int k = 0; k < 2; ++k) {
    if ((k == 0 ? a : b)->damaged()) ReportDamage(paths[k]);
  }
  if (diff.squares == 0) {
    std::printf("PSNR inf dB, largest difference 0 (identical)\n");
    return kExitOk;
  }
  double mse = diff.squares / static_cast<double>(diff.samples);
  double psnr = 10.0 * std::log10(255.0 * 255.0 / mse);
  std::printf("PSNR %.2f dB, largest difference %d\n", psnr, diff.largest);
  if (haveMin && psnr < minPsnr) {
    std::fprintf(stderr, "iffjpeg: PSNR %.2f dB is below %.2f dB\n", psnr, minPsnr);
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace iffjpeg_cli
