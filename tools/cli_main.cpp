// iffjpeg: a command-line tool over the iffjpeg driver's public C interface.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "commands.h"
#include "iffjpeg.h"

namespace iffjpeg_cli {
namespace {

constexpr const char kUsage[] =
    "Usage: iffjpeg COMMAND [ARGS...]\n"
    "\n"
    "Reads and writes JPEG files through the iffjpeg driver.\n"
    "\n"
    "Commands:\n"
    "  info FILE... [--json]          size, colour, resolution and file size of JPEG files\n"
    "                                 (FILE - reads standard input)\n"
    "  decode IN.jpg OUT [--scale 1/N] [--orient]\n"
    "                                 JPEG (baseline, extended or progressive) to PNG, PPM, PGM\n"
    "                                 or BMP (chosen by OUT's extension; - is PNM on standard\n"
    "                                 output, IN - standard input), scaled, turned upright\n"
    "  encode IN OUT.jpg [--quality N] [--dpi X[,Y]] [--strip]\n"
    "                                 PNG, BMP, PGM or PPM (or JPEG, its EXIF, ICC and XMP\n"
    "                                 kept unless --strip) to baseline JPEG\n"
    "  compare A B [--min-psnr DB]    PSNR and largest difference between two images\n"
    "  chart OUT [--size WxH]         writes a test chart (gradients, colour bars, lines, text)\n"
    "\n"
    "Options:\n"
    "  -h, --help       this help; 'iffjpeg COMMAND --help' for a command's help\n"
    "  --version        the version\n"
    "  --strict         (after a command that reads JPEG files) read them as the\n"
    "                   driver does without extended reading: no progressive or\n"
    "                   four-component files, Adobe colour segments ignored\n"
    "\n"
    "Exit status: 0 success, 1 failure, 2 bad command line,\n"
    "3 output written from damaged JPEG data (the driver's code 10).\n";

int Dispatch(const std::string& command, const Args& args) {
  if (command == "info") return RunInfo(args);
  if (command == "decode") return RunDecode(args);
  if (command == "encode") return RunEncode(args);
  if (command == "compare") return RunCompare(args);
  if (command == "chart") return RunChart(args);
  std::fprintf(stderr, "iffjpeg: unknown command '%s'\nTry 'iffjpeg --help'.\n", command.c_str());
  return kExitUsage;
}

}  // namespace
}  // namespace iffjpeg_cli

int main(int argc, char** argv) {
  using namespace iffjpeg_cli;
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  std::string command = argv[1];
  if (IsHelp(command)) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (command == "--version") {
    std::printf("iffjpeg %s\n", IFFJPEG_VERSION);
    return kExitOk;
  }
  return Dispatch(command, Args(argv + 2, argv + argc));
}
