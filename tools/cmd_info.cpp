// iffjpeg info FILE... [--json] [--strict]
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "commands.h"
#include "iffjpeg.h"

namespace iffjpeg_cli {
namespace {

constexpr const char kHelp[] =
    "Usage: iffjpeg info FILE... [--json] [--strict]\n"
    "\n"
    "Prints, for each JPEG file, one line with its width and height, whether\n"
    "it is greyscale or RGB, its resolution in dots per inch (from the JFIF\n"
    "segment; 300 x 300 when the file gives none) and its size in bytes.\n"
    "\n"
    "Options:\n"
    "  --json    one JSON array instead, with one object per file:\n"
    "            {\"file\", \"width\", \"height\", \"colour\": \"grey\"|\"rgb\",\n"
    "             \"channels\", \"dpi\": [x, y] or null, \"bytes\"}, or\n"
    "            {\"file\", \"error\", \"code\"} for a file that cannot be read.\n"
    "  --strict  read as the driver does without extended reading (see\n"
    "            'iffjpeg decode --help')\n";

struct FileInfo {
  std::string file;
  IFFImageInfo image{};
  bool hasDpi = false;
  int32_t dpi[2] = {0, 0};
  std::uintmax_t bytes = 0;
  Status status = Status::Ok();
};

FileInfo Inspect(const std::string& path, JpegReading reading) {
  FileInfo info;
  info.file = path;
  int32_t h = IFFOpen(path.c_str(), JpegReadMode(reading), &info.image);
  if (h <= 0) {
    info.status = JpegOpenFailure(path, h, reading);
    return info;
  }
  // Value 3: horizontal then vertical, in two consecutive slots.
  int32_t rc =
      IFFControl(h, IFF_CTL_RESOLUTION, IFF_RES_HORIZONTAL | IFF_RES_VERTICAL, 0, info.dpi);
  info.hasDpi = rc == IFF_OK;
  IFFClose(h);
  std::error_code ec;
  info.bytes = std::filesystem::file_size(path, ec);
  return info;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void PrintText(const FileInfo& info) {
  std::string dpi = info.hasDpi
                        ? std::to_string(info.dpi[0]) + " x " + std::to_string(info.dpi[1]) + " dpi"
                        : "unknown dpi";
  std::printf("%s: %d x %d, %s, %s, %ju bytes\n", info.file.c_str(), info.image.width,
              info.image.height, info.image.planes == 1 ? "greyscale" : "RGB", dpi.c_str(),
              info.bytes);
}

void PrintJson(const FileInfo& info, bool last) {
  std::string line = "  {\"file\": " + JsonString(info.file);
  if (!info.status.ok()) {
    line += ", \"error\": " + JsonString(info.status.message());
    line += ", \"code\": " + std::to_string(info.status.driverCode()) + "}";
  } else {
    bool grey = info.image.planes == 1;
    char fields[160];
    std::snprintf(fields, sizeof fields,
                  ", \"width\": %d, \"height\": %d, \"colour\": \"%s\", \"channels\": %d",
                  info.image.width, info.image.height, grey ? "grey" : "rgb", grey ? 1 : 3);
    line += fields;
    if (info.hasDpi) {
      std::snprintf(fields, sizeof fields, ", \"dpi\": [%d, %d]", info.dpi[0], info.dpi[1]);
      line += fields;
    } else {
      line += ", \"dpi\": null";
    }
    std::snprintf(fields, sizeof fields, ", \"bytes\": %ju}", info.bytes);
    line += fields;
  }
  std::printf("%s%s\n", line.c_str(), last ? "" : ",");
}

}  // namespace

int RunInfo(const Args& args) {
  bool json = false;
  JpegReading reading = JpegReading::kExtended;
  Args files;
  for (const std::string& arg : args) {
    if (IsHelp(arg)) {
      std::fputs(kHelp, stdout);
      return kExitOk;
    }
    if (arg == "--json") {
      json = true;
    } else if (arg == "--strict") {
      reading = JpegReading::kStrict;
    } else if (IsOption(arg)) {
      return UsageError("info", "unknown option '" + arg + "'");
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) return UsageError("info", "expects at least one FILE");

  int status = kExitOk;
  if (json) std::printf("[\n");
  for (std::size_t i = 0; i < files.size(); ++i) {
    FileInfo info = Inspect(files[i], reading);
    if (!info.status.ok()) {
      Report(info.file, info.status.message());
      status = kExitFailure;
    }
    if (json) {
      PrintJson(info, i + 1 == files.size());
    } else if (info.status.ok()) {
      PrintText(info);
    }
  }
  if (json) std::printf("]\n");
  return status;
}

}  // namespace iffjpeg_cli
