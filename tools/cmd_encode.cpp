// iffjpeg encode IN OUT.jpg [--quality N] [--dpi X[,Y]] [--strict] [--strip] [writing options]
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "commands.h"

namespace iffjpeg_cli {
namespace {

constexpr const char kHelp[] =
    "Usage: iffjpeg encode IN OUT.jpg [--quality N] [--dpi X[,Y]] [--strict] [--strip]\n"
    "                                 [options]\n"
    "\n"
    "Encodes an image into a baseline JFIF file. IN may be PNG, BMP, binary\n"
    "PGM/PPM (maximum value 255) or JPEG; its type is recognised from its\n"
    "content. Greyscale images give greyscale JPEG files, all others YCbCr\n"
    "with 2x2 chroma subsampling unless --subsample says otherwise. Alpha\n"
    "channels are dropped. OUT must end in .jpg or .jpeg, or be - for\n"
    "standard output.\n"
    "\n"
    "Options:\n"
    "  --quality N       1 (smallest) to 100 (best); default 75\n"
    "  --dpi X[,Y]       resolution in dots per inch written into the JFIF\n"
    "                    segment (1 to 65535; Y defaults to X)\n"
    "  --subsample S     chroma sampling: 420 (default), 422, 440, 444, 411\n"
    "  --restart N       a restart marker every N MCUs (0 to 65535; 0 none)\n"
    "  --optimize        Huffman tables built for the image (smaller file)\n"
    "  --progressive     a progressive file (smaller; tables built per scan)\n"
    "  --comment TEXT    a COM segment with TEXT\n"
    "  --icc FILE        embed FILE as the ICC profile\n"
    "  --exif FILE       embed FILE (a TIFF structure) as the EXIF segment\n"
    "  --strip           drop the EXIF, ICC profile and XMP a JPEG input\n"
    "                    carries (they are copied otherwise; --icc and --exif\n"
    "                    replace the copied item)\n"
    "  --strict          read a JPEG input as the driver does without extended\n"
    "                    reading (see 'iffjpeg decode --help')\n";

bool ParseSubsampling(const std::string& text, int32_t* value) {
  static const std::pair<const char*, int32_t> kNames[] = {
      {"420", 0x420}, {"422", 0x422}, {"440", 0x440}, {"444", 0x444}, {"411", 0x411}};
  for (const auto& [name, code] : kNames) {
    if (text == name) {
      *value = code;
      return true;
    }
  }
  return false;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// A JPEG name or standard output; other names would give a JPEG file under
// a misleading extension.
bool IsJpegName(const std::string& path) {
  if (path == "-") return true;
  std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == "jpg" || ext == "jpeg";
}

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
  bool strip = false, iccGiven = false, exifGiven = false;
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
    m = MatchOption(args, &i, "--subsample", &value);
    if (m < 0) return UsageError("encode", "--subsample needs a value");
    if (m > 0) {
      if (!ParseSubsampling(value, &settings.subsampling)) {
        return UsageError("encode", "subsample must be 420, 422, 440, 444 or 411");
      }
      continue;
    }
    m = MatchOption(args, &i, "--restart", &value);
    if (m < 0) return UsageError("encode", "--restart needs a value");
    if (m > 0) {
      if (!ParseInt(value, 0, 65535, &settings.restart)) {
        return UsageError("encode", "restart must be a whole number from 0 to 65535");
      }
      continue;
    }
    if (args[i] == "--strip") {
      strip = true;
      continue;
    }
    if (args[i] == "--optimize") {
      settings.optimize = true;
      continue;
    }
    if (args[i] == "--progressive") {
      settings.progressive = true;
      continue;
    }
    m = MatchOption(args, &i, "--comment", &value);
    if (m < 0) return UsageError("encode", "--comment needs a value");
    if (m > 0) {
      if (value.size() > 65533) return UsageError("encode", "comment longer than 65533 bytes");
      settings.comment.assign(value.begin(), value.end());
      continue;
    }
    bool icc = false;
    m = MatchOption(args, &i, "--icc", &value);
    if (m != 0) icc = true;
    if (m == 0) m = MatchOption(args, &i, "--exif", &value);
    if (m < 0) return UsageError("encode", args[i] + " needs a file");
    if (m > 0) {
      std::vector<uint8_t>& bytes = icc ? settings.icc : settings.exif;
      (icc ? iccGiven : exifGiven) = true;
      if (!ReadWholeFile(value, &bytes)) {
        Report(value, "cannot be read");
        return kExitFailure;
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
  if (!IsJpegName(out)) {
    return UsageError("encode", "OUT must end in .jpg or .jpeg, or be - for standard output");
  }

  std::unique_ptr<LineSource> source;
  Status s = Status::Ok();
  if (SniffFormat(in) == ImageFormat::kJpeg) {
    JpegOpenOptions options;
    options.reading = reading;
    options.metadata = !strip;
    s = OpenJpegSource(in, options, &source);
  } else {
    s = OpenImageSource(in, reading, &source);
  }
  if (!s.ok()) {
    Report(in, s.message());
    return kExitFailure;
  }
  // A JPEG input's metadata goes on, unless stripped or given anew.
  if (const JpegDetails* jpeg = source->jpeg(); jpeg != nullptr && !strip) {
    if (!iccGiven) settings.icc = jpeg->icc;
    if (!exifGiven) settings.exif = jpeg->exif;
    settings.xmp = jpeg->xmp;
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
