// iffjpeg info FILE...|- [--json] [--strict] [--icc OUT] [--exif OUT]
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "commands.h"
#include "iffjpeg.h"
#include "output_file.h"

namespace iffjpeg_cli {
namespace {

constexpr const char kHelp[] =
    "Usage: iffjpeg info FILE... [--json] [--strict] [--icc OUT] [--exif OUT]\n"
    "\n"
    "Prints, for each JPEG file, one line with its width and height, whether\n"
    "it is greyscale or RGB, its resolution in dots per inch (from the JFIF\n"
    "segment; 300 x 300 when the file gives none) and its size in bytes, then\n"
    "an indented line with the frame type (baseline, extended, progressive),\n"
    "the colour model, the sampling, the restart interval, the EXIF\n"
    "orientation (0: none) and the sizes of the ICC profile, EXIF, XMP and\n"
    "comment in bytes (0: none). FILE - reads standard input.\n"
    "\n"
    "Options:\n"
    "  --json      one JSON array instead, with one object per file:\n"
    "              {\"file\", \"width\", \"height\", \"colour\": \"grey\"|\"rgb\",\n"
    "               \"channels\", \"dpi\": [x, y] or null, \"bytes\", \"frame\",\n"
    "               \"model\", \"sampling\", \"restartInterval\", \"orientation\",\n"
    "               \"iccBytes\", \"exifBytes\", \"xmpBytes\", \"commentBytes\"}, or\n"
    "              {\"file\", \"error\", \"code\"} for a file that cannot be read.\n"
    "  --strict    read as the driver does without extended reading (see\n"
    "              'iffjpeg decode --help')\n"
    "  --icc OUT   writes the ICC profile of the (one) FILE to OUT\n"
    "  --exif OUT  writes the EXIF data of the (one) FILE to OUT (the TIFF\n"
    "              structure after \"Exif\\0\\0\")\n"
    "A file without the item asked for is a failure (status 1, nothing written).\n";

struct FileInfo {
  std::string file;
  IFFImageInfo image{};
  bool hasDpi = false;
  int32_t dpi[2] = {0, 0};
  IFFJpegInfo jpeg{};
  std::uintmax_t bytes = 0;
  Status status = Status::Ok();
  Status itemStatus = Status::Ok();  // writing the items asked for
};

// The metadata items the tool writes out.
struct ItemRequest {
  int32_t item;
  const char* name;
  std::string path;
};

const char* FrameName(int32_t marker) {
  switch (marker) {
    case 0xC0:
      return "baseline";
    case 0xC1:
      return "extended";
    case 0xC2:
      return "progressive";
    default:
      return "unknown";
  }
}

const char* ModelName(int32_t model) {
  switch (model) {
    case 1:
      return "greyscale";
    case 2:
      return "RGB";
    case 3:
      return "YCbCr";
    case 5:
      return "CMYK";
    case 6:
      return "YCCK";
    default:
      return "unknown";
  }
}

// J:a:b names for three or four components whose others share one
// sampling below the first's; the factors (HxV, ...) otherwise.
std::string Sampling(const IFFJpegInfo& d) {
  const int32_t n = d.components < 4 ? d.components : 4;
  bool named = n >= 3 && d.hSampling[0] > 0 && d.vSampling[0] > 0;
  for (int32_t c = 1; c < n && named; ++c) {
    named = d.hSampling[c] == 1 && d.vSampling[c] == 1;
  }
  if (n == 4 && named) named = d.hSampling[3] == d.hSampling[0] && d.vSampling[3] == d.vSampling[0];
  if (named) {
    const int32_t h = d.hSampling[0], v = d.vSampling[0];
    if (4 % h == 0 && v <= 2) {
      const int32_t a = 4 / h;
      return "4:" + std::to_string(a) + ":" + std::to_string(v == 1 ? a : 0);
    }
  }
  std::string out;
  for (int32_t c = 0; c < n; ++c) {
    if (c > 0) out += ",";
    out += std::to_string(d.hSampling[c]) + "x" + std::to_string(d.vSampling[c]);
  }
  return out;
}

Status WriteItem(int32_t h, const IFFJpegInfo& d, const ItemRequest& request) {
  const int32_t sizes[] = {d.iccBytes, d.exifBytes, d.xmpBytes, d.commentBytes};
  const int32_t bytes = sizes[request.item - IFF_META_ICC];
  if (bytes == 0) return Status::Fail(std::string("has no ") + request.name);
  std::vector<uint8_t> data(static_cast<std::size_t>(bytes));
  int32_t rc = IFFControl(h, IFF_CTL_METADATA, request.item, bytes, data.data());
  if (rc != IFF_OK) return Status::Driver(rc);
  OutputFile out;
  Status status = out.Create(request.path);
  if (status.ok()) status = out.Write(data.data(), data.size());
  if (status.ok()) status = out.Commit();
  return status;
}

// Extended reading unless --strict, so that progressive files and every
// colour model are described too.
// bytes: the file in memory (standard input), or null to read path.
FileInfo Inspect(const std::string& path, JpegReading reading,
                 const std::vector<ItemRequest>& items, const std::vector<uint8_t>* bytes) {
  FileInfo info;
  info.file = path;
  JpegReadHandle handle;
  info.status = handle.Open(path, reading, bytes, &info.image);
  if (!info.status.ok()) return info;
  const int32_t h = handle.get();
  // Value 3: horizontal then vertical, in two consecutive slots.
  int32_t rc =
      IFFControl(h, IFF_CTL_RESOLUTION, IFF_RES_HORIZONTAL | IFF_RES_VERTICAL, 0, info.dpi);
  info.hasDpi = rc == IFF_OK;
  info.jpeg.size = sizeof info.jpeg;
  rc = IFFControl(h, IFF_CTL_JPEG_INFO, 0, 0, &info.jpeg);
  if (rc != IFF_OK) info.status = Status::Driver(rc);
  for (const ItemRequest& request : items) {
    if (info.status.ok() && info.itemStatus.ok()) {
      info.itemStatus = WriteItem(h, info.jpeg, request);
    }
  }
  std::error_code ec;
  info.bytes = bytes != nullptr ? bytes->size() : std::filesystem::file_size(path, ec);
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
  const IFFJpegInfo& d = info.jpeg;
  std::printf(
      "  %s, %s %s, restart interval %d, orientation %d, ICC %d, EXIF %d, XMP %d, "
      "comment %d bytes\n",
      FrameName(d.frameMarker), ModelName(d.colourModel), Sampling(d).c_str(), d.restartInterval,
      d.orientation, d.iccBytes, d.exifBytes, d.xmpBytes, d.commentBytes);
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
    std::snprintf(fields, sizeof fields, ", \"bytes\": %ju", info.bytes);
    line += fields;
    const IFFJpegInfo& d = info.jpeg;
    line += ", \"frame\": " + JsonString(FrameName(d.frameMarker));
    line += ", \"model\": " + JsonString(ModelName(d.colourModel));
    line += ", \"sampling\": " + JsonString(Sampling(d));
    std::snprintf(fields, sizeof fields,
                  ", \"restartInterval\": %d, \"orientation\": %d, \"iccBytes\": %d, "
                  "\"exifBytes\": %d, \"xmpBytes\": %d, \"commentBytes\": %d}",
                  d.restartInterval, d.orientation, d.iccBytes, d.exifBytes, d.xmpBytes,
                  d.commentBytes);
    line += fields;
  }
  std::printf("%s%s\n", line.c_str(), last ? "" : ",");
}

}  // namespace

int RunInfo(const Args& args) {
  bool json = false;
  JpegReading reading = JpegReading::kExtended;
  Args files;
  std::vector<ItemRequest> items;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (IsHelp(arg)) {
      std::fputs(kHelp, stdout);
      return kExitOk;
    }
    std::string value;
    int icc = MatchOption(args, &i, "--icc", &value);
    int exif = icc != 0 ? 0 : MatchOption(args, &i, "--exif", &value);
    if (icc < 0 || exif < 0) {
      return UsageError("info", "option '" + arg + "' expects a file name");
    }
    if (icc > 0) {
      items.push_back({IFF_META_ICC, "ICC profile", value});
    } else if (exif > 0) {
      items.push_back({IFF_META_EXIF, "EXIF data", value});
    } else if (arg == "--json") {
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
  if (!items.empty() && files.size() != 1) {
    return UsageError("info", "--icc and --exif take the items of one FILE");
  }

  int status = kExitOk;
  // "-": standard input, read once however often it is named.
  std::vector<uint8_t> input;
  bool inputRead = false;
  if (json) std::printf("[\n");
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::vector<uint8_t>* bytes = nullptr;
    FileInfo info;
    Status readStatus = Status::Ok();
    if (files[i] == "-") {
      if (!inputRead) readStatus = ReadStandardInput(&input);
      inputRead = true;
      bytes = &input;
    }
    if (readStatus.ok()) {
      info = Inspect(files[i], reading, items, bytes);
    } else {
      info.file = files[i];
      info.status = readStatus;
    }
    if (!info.status.ok()) {
      Report(DisplayName(info.file), info.status.message());
      status = kExitFailure;
    }
    if (!info.itemStatus.ok()) {
      Report(DisplayName(info.file), info.itemStatus.message());
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
