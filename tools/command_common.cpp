#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "commands.h"
#include "status.h"

namespace iffjpeg_cli {

int UsageError(const std::string& command, const std::string& message) {
  std::fprintf(stderr, "iffjpeg %s: %s\nTry 'iffjpeg %s --help'.\n", command.c_str(),
               message.c_str(), command.c_str());
  return kExitUsage;
}

bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }

int MatchOption(const Args& args, std::size_t* i, const std::string& name, std::string* value) {
  const std::string& arg = args[*i];
  if (arg == name) {
    if (*i + 1 >= args.size()) return -1;
    *i += 1;
    *value = args[*i];
    return 1;
  }
  if (arg.size() > name.size() && arg.compare(0, name.size(), name) == 0 &&
      arg[name.size()] == '=') {
    *value = arg.substr(name.size() + 1);
    return 1;
  }
  return 0;
}

bool IsOption(const std::string& arg) { return arg.size() > 1 && arg[0] == '-'; }

bool ParseInt(const std::string& text, int32_t min, int32_t max, int32_t* value) {
  if (text.empty() || text.size() > 10) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  long long n = std::strtoll(text.c_str(), nullptr, 10);
  if (n < min || n > max) return false;
  *value = static_cast<int32_t>(n);
  return true;
}

Status CopyLines(LineSource& source, LineSink& sink, int32_t sinkChannels, Progress* progress,
                 bool* sourceFailed) {
  const ImageShape& shape = source.shape();
  std::vector<uint8_t> in(shape.lineBytes());
  std::vector<uint8_t> out(static_cast<std::size_t>(shape.width) * sinkChannels);
  *sourceFailed = false;
  for (int32_t y = 0; y < shape.height; ++y) {
    Status s = source.ReadLine(in.data());
    if (!s.ok()) {
      *sourceFailed = true;
      return s;
    }
    const uint8_t* line = in.data();
    if (sinkChannels != shape.channels) {
      ConvertLine(in.data(), shape.channels, out.data(), sinkChannels, shape.width);
      line = out.data();
    }
    s = sink.WriteLine(line);
    if (!s.ok()) return s;
    if (progress != nullptr) progress->Step();
  }
  return sink.Finish();
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return std::filesystem::equivalent(a, b, ec) && !ec;
}

void ReportDamage(const std::string& file) {
  Report(file, std::string("warning: ") + DriverCodeMeaning(10) +
                   " (code 10); the image was completed with made-up lines");
}

}  // namespace iffjpeg_cli
