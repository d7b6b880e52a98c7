// The iffjpeg command-line tool, run as a user runs it: exit statuses,
// messages and the files it writes. The CliRoundTrip suite needs a working
// codec and skips itself while reading a freshly written file gives code 7.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "iffjpeg.h"
#include "support/images.h"
#include "support/jpeg_builder.h"
#include "support/process.h"

namespace iffjpeg_test {
namespace {

#if defined(IFFJPEG_CLI)

ProcessResult Cli(std::vector<std::string> args) {
  args.insert(args.begin(), IFFJPEG_CLI);
  return RunProcess(args);
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

void WritePnm(const std::string& path, const Image& img, const std::string& comment = "") {
  std::string header = std::string(img.channels == 1 ? "P5" : "P6") + "\n" + comment +
                       std::to_string(img.width) + " " + std::to_string(img.height) + "\n255\n";
  WriteBytes(path, header + std::string(img.pixels.begin(), img.pixels.end()));
}

// Reads the PNM files the tool writes: "P5|P6\nW H\n255\n" then samples.
bool ReadPnm(const std::string& path, Image* img) {
  std::vector<uint8_t> bytes = ReadFileBytes(path.c_str());
  std::string text(bytes.begin(), bytes.end());
  int w = 0, h = 0, maxval = 0, used = 0;
  char kind = 0;
  if (std::sscanf(text.c_str(), "P%c %d %d %d%n", &kind, &w, &h, &maxval, &used) != 4) {
    return false;
  }
  img->width = w;
  img->height = h;
  img->channels = kind == '5' ? 1 : 3;
  std::size_t size = static_cast<std::size_t>(w) * h * img->channels;
  if (maxval != 255 || text.size() != used + 1 + size) return false;
  img->pixels.assign(bytes.begin() + used + 1, bytes.end());
  return true;
}

Image Flat(int width, int height, int channels, uint8_t value) {
  Image img{width, height, channels, {}};
  img.pixels.assign(static_cast<std::size_t>(width) * height * channels, value);
  return img;
}

TEST(CliTool, HelpForTheToolAndEachCommand) {
  ProcessResult help = Cli({"--help"});
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_TRUE(Contains(help.out, "Usage: iffjpeg COMMAND")) << help.out;
  for (const char* command : {"info", "decode", "encode", "compare", "chart"}) {
    ProcessResult r = Cli({command, "--help"});
    EXPECT_EQ(r.exitStatus, 0) << command;
    EXPECT_EQ(r.out.rfind(std::string("Usage: iffjpeg ") + command, 0), 0u) << r.out;
    EXPECT_TRUE(Contains(help.out, std::string("  ") + command + " ")) << command;
    // Every command that reads JPEG files offers the strict reading.
    EXPECT_EQ(Contains(r.out, "--strict"), std::string(command) != "chart") << command;
  }
  ProcessResult bare = Cli({});
  EXPECT_EQ(bare.exitStatus, 2);
  EXPECT_TRUE(Contains(bare.err, "Usage: iffjpeg"));
  EXPECT_EQ(Cli({"--version"}).exitStatus, 0);
}

TEST(CliTool, BadCommandLinesExitWithStatus2) {
  ProcessResult unknown = Cli({"frobnicate"});
  EXPECT_EQ(unknown.exitStatus, 2);
  EXPECT_EQ(unknown.err, "iffjpeg: unknown command 'frobnicate'\nTry 'iffjpeg --help'.\n");
  const std::vector<std::vector<std::string>> bad = {
      {"decode", "in.jpg"},
      {"decode", "in.jpg", "out.ppm", "extra.ppm"},
      {"decode", "in.jpg", "out.xyz"},
      {"decode", "in.jpg", "out.jpg"},
      {"decode", "--bogus", "in.jpg", "out.ppm"},
      {"encode", "in.ppm", "out.jpg", "--quality", "0"},
      {"encode", "in.ppm", "out.jpg", "--quality", "101"},
      {"encode", "in.ppm", "out.jpg", "--quality=9x"},
      {"encode", "in.ppm", "out.jpg", "--quality"},
      {"encode", "in.ppm", "out.jpg", "--dpi", "0"},
      {"encode", "in.ppm", "out.jpg", "--dpi", "72,"},
      {"encode", "in.ppm", "out.jpg", "--dpi", "65536"},
      {"info"},
      {"info", "--yaml", "x.jpg"},
      {"compare", "a.ppm"},
      {"compare", "a.ppm", "b.ppm", "--min-psnr", "high"},
      {"chart", "c.png", "--size", "10x10"},
  };
  for (const auto& args : bad) {
    ProcessResult r = Cli(args);
    EXPECT_EQ(r.exitStatus, 2) << args[0] << " " << args.back();
    EXPECT_TRUE(Contains(r.err, "Try 'iffjpeg " + args[0] + " --help'.")) << r.err;
  }
}

TEST(CliTool, MissingFileReportsCode8) {
  TempDir dir;
  const std::string missing = dir / "missing.jpg";
  const std::string message = "iffjpeg: " + missing + ": cannot open the file (code 8)\n";
  ProcessResult info = Cli({"info", missing});
  EXPECT_EQ(info.exitStatus, 1);
  EXPECT_EQ(info.err, message);
  ProcessResult decode = Cli({"decode", missing, dir / "out.ppm"});
  EXPECT_EQ(decode.exitStatus, 1);
  EXPECT_EQ(decode.err, message);
  EXPECT_FALSE(Exists(dir / "out.ppm"));
  // An output in a directory that does not exist: the driver cannot open it.
  WritePnm(dir / "in.ppm", Flat(16, 16, 3, 128));
  const std::string unreachable = dir / "no/such/dir/out.jpg";
  ProcessResult encode = Cli({"encode", dir / "in.ppm", unreachable});
  EXPECT_EQ(encode.exitStatus, 1);
  EXPECT_EQ(encode.err, "iffjpeg: " + unreachable + ": cannot open the file (code 8)\n");
}

TEST(CliTool, NonJpegInputReportsCode7AndLeavesNoOutput) {
  TempDir dir;
  const std::string ppm = dir / "picture.ppm";
  WritePnm(ppm, Flat(8, 8, 3, 10));
  const std::string message = "iffjpeg: " + ppm + ": not a JPEG file (code 7)\n";
  ProcessResult info = Cli({"info", ppm});
  EXPECT_EQ(info.exitStatus, 1);
  EXPECT_EQ(info.err, message);
  EXPECT_EQ(info.out, "");
  for (const char* out : {"out.png", "out.bmp", "out.pgm"}) {
    ProcessResult decode = Cli({"decode", ppm, dir / out});
    EXPECT_EQ(decode.exitStatus, 1);
    EXPECT_EQ(decode.err, message);
    EXPECT_FALSE(Exists(dir / out));
  }
}

TEST(CliTool, InfoJsonReportsEveryFileInOneArray) {
  TempDir dir;
  WritePnm(dir / "a.ppm", Flat(8, 8, 3, 10));
  const std::string odd = dir / "say \"hi\".jpg";
  ProcessResult r = Cli({"info", "--json", dir / "a.ppm", odd});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out, "[\n  {\"file\": \"" + (dir / "a.ppm") +
                       "\", \"error\": \"not a JPEG file (code 7)\", "
                       "\"code\": 7},\n  {\"file\": \"" +
                       dir.path() +
                       "/say \\\"hi\\\".jpg\", \"error\": \"cannot open the file (code 8)\", "
                       "\"code\": 8}\n]\n");
}

TEST(CliTool, PngBmpAndPnmCarryTheSameSamples) {
  TempDir dir;
  // 65 pixels wide: BMP rows need padding to four bytes.
  for (const char* size : {"640x480", "65x67"}) {
    for (const char* ext : {"ppm", "png", "bmp", "pgm"}) {
      ProcessResult r = Cli({"chart", dir / (std::string("c.") + ext), "--size", size});
      ASSERT_EQ(r.exitStatus, 0) << r.err;
    }
    for (const char* other : {"c.png", "c.bmp"}) {
      ProcessResult r = Cli({"compare", dir / "c.ppm", dir / other});
      EXPECT_EQ(r.exitStatus, 0) << r.err;
      EXPECT_EQ(r.out, "PSNR inf dB, largest difference 0 (identical)\n") << size << other;
    }
    Image rgb, grey;
    ASSERT_TRUE(ReadPnm(dir / "c.ppm", &rgb));
    ASSERT_TRUE(ReadPnm(dir / "c.pgm", &grey));
    EXPECT_EQ(rgb.channels, 3);
    EXPECT_EQ(grey.channels, 1);
    EXPECT_EQ(grey.width, rgb.width);
    // Grey is the luma of the RGB samples.
    std::size_t i = static_cast<std::size_t>(rgb.width) * 3 + 5;
    EXPECT_EQ(grey.pixels[i], (77 * rgb.pixels[3 * i] + 150 * rgb.pixels[3 * i + 1] +
                               29 * rgb.pixels[3 * i + 2] + 128) >>
                                  8);
  }
  // PNM headers may carry comments.
  Image img = MakeTestImage(21, 13, 3, 5);
  WritePnm(dir / "plain.ppm", img);
  WritePnm(dir / "commented.ppm", img, "# made by a test\n");
  ProcessResult r = Cli({"compare", dir / "plain.ppm", dir / "commented.ppm"});
  EXPECT_EQ(r.out, "PSNR inf dB, largest difference 0 (identical)\n") << r.err;
}

TEST(CliTool, UnreadableImagesAreRefusedWithoutOutput) {
  TempDir dir;
  const std::string out = dir / "out.jpg";
  struct Case {
    const char* name;
    std::string bytes;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"wide.ppm", "P6\n2 2\n65535\n" + std::string(24, 'x'), "only 8-bit PNM"},
      {"short.ppm", "P6\n4 4\n255\n" + std::string(20, 'x'), "the PNM file ends early"},
      {"ascii.ppm", "P3\n1 1\n255\n1 2 3\n", "unrecognised image format"},
      {"huge.pgm", "P5\n99999999 2\n255\n", "damaged PNM header"},
      {"broken.png", "\x89PNG\r\n\x1a\nnot really", "cannot read the image"},
  };
  for (const Case& c : cases) {
    WriteBytes(dir / c.name, c.bytes);
    ProcessResult r = Cli({"encode", dir / c.name, out});
    EXPECT_EQ(r.exitStatus, 1) << c.name;
    EXPECT_TRUE(Contains(r.err, "iffjpeg: " + (dir / c.name) + ": " + c.message)) << r.err;
    EXPECT_FALSE(Exists(out)) << c.name;
  }
}

TEST(CliTool, CompareComputesPsnrAndLargestDifference) {
  TempDir dir;
  Image a = Flat(10, 10, 3, 100), b = a;
  for (std::size_t i = 0; i < b.pixels.size(); i += 2) b.pixels[i] = 120;  // MSE 200
  WritePnm(dir / "a.ppm", a);
  WritePnm(dir / "b.ppm", b);
  ProcessResult r = Cli({"compare", dir / "a.ppm", dir / "b.ppm"});
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.out, "PSNR 25.12 dB, largest difference 20\n");
  EXPECT_EQ(Cli({"compare", dir / "a.ppm", dir / "b.ppm", "--min-psnr", "25"}).exitStatus, 0);
  EXPECT_EQ(Cli({"compare", dir / "a.ppm", dir / "b.ppm", "--min-psnr=26"}).exitStatus, 1);
  // Grey against RGB compares the grey sample with each colour sample.
  WritePnm(dir / "g.pgm", Flat(10, 10, 1, 100));
  EXPECT_EQ(Cli({"compare", dir / "g.pgm", dir / "a.ppm"}).out,
            "PSNR inf dB, largest difference 0 (identical)\n");
  WritePnm(dir / "small.ppm", Flat(10, 9, 3, 100));
  ProcessResult size = Cli({"compare", dir / "a.ppm", dir / "small.ppm"});
  EXPECT_EQ(size.exitStatus, 1);
  EXPECT_TRUE(Contains(size.err, "differ in size: 10 x 10 and 10 x 9")) << size.err;
}

TEST(CliTool, RefusesToOverwriteItsInput) {
  TempDir dir;
  Image img = Flat(8, 8, 3, 77);
  WritePnm(dir / "a.ppm", img);
  EXPECT_EQ(Cli({"encode", dir / "a.ppm", dir / "a.ppm"}).exitStatus, 2);
  EXPECT_EQ(Cli({"decode", dir / "a.ppm", dir / "./a.ppm"}).exitStatus, 2);
  Image back;
  ASSERT_TRUE(ReadPnm(dir / "a.ppm", &back));
  EXPECT_EQ(back.pixels, img.pixels);
}

// A file the driver refuses: the message names why, from the file's markers,
// in the extended reading (the default) and under --strict; a file one
// reading opens, the other refusing, says how to read it. Every case once
// through info, and the decode command prints the same message.
TEST(CliTool, RefusedFilesSayWhyFromTheirMarkers) {
  TempDir dir;
  using Bytes = std::vector<uint8_t>;
  const Image colour = MakeTestImage(24, 16, 3, 4);
  auto build = [&](int marker, int precision) {
    JpegBuildOptions o = ColourOptions(2, 2);
    o.frameMarker = marker;
    o.dataPrecision = precision;
    if (marker == 0xC2) o.progressiveScans = BandSelectionScript(3);
    return BuildJpeg(colour, o);
  };
  auto cut = [](Bytes jpeg, int marker, std::size_t into) {
    jpeg.resize(static_cast<std::size_t>(FindMarker(jpeg, marker)) + into);
    return jpeg;
  };
  const Bytes baseline = build(0xC0, 8);
  const Bytes progressive = build(0xC2, 8);
  JpegBuildOptions cmyk = ColourOptions(1, 1);
  cmyk.components.push_back(BuilderComponent{4, 1, 1, 0, 0, 0});
  cmyk.jfif = false;
  cmyk.extraSegments = {AdobeSegment(0)};
  JpegBuildOptions two = GreyOptions();
  two.components = {BuilderComponent{1, 1, 1, 0, 0, 0}, BuilderComponent{2, 1, 1, 1, 1, 1}};
  Bytes mixedScan = progressive;  // the first scan: DC and AC together
  mixedScan[static_cast<std::size_t>(FindMarker(mixedScan, 0xDA)) + 2 + 2 * 3 + 4] = 63;
  Bytes frameThenEoi = cut(baseline, 0xDA, 0);
  frameThenEoi.insert(frameThenEoi.end(), {0xFF, 0xD9});
  Bytes badTable = baseline;
  badTable[static_cast<std::size_t>(FindMarker(badTable, 0xC4)) + 4] = 0x20;  // class 2

  const std::string strictProgressive =
      "unsupported JPEG: progressive (read it without --strict) (code 7)";
  struct Case {
    const char* name;
    Bytes bytes;
    std::string extended;  // the message; empty: the file opens
    std::string strict;
  };
  const std::vector<Case> cases = {
      {"baseline", baseline, "", ""},
      {"progressive", progressive, "", strictProgressive},
      {"cmyk", BuildJpeg(MakeTestImage(16, 16, 3, 2), cmyk), "",
       "unsupported JPEG: four components (read it without --strict) (code 7)"},
      {"arithmetic", build(0xC9, 8), "unsupported JPEG: arithmetic coding (code 4)",
       "unsupported JPEG: arithmetic coding (code 4)"},
      {"arithmetic_progressive", build(0xCA, 8), "unsupported JPEG: arithmetic coding (code 7)",
       "unsupported JPEG: arithmetic coding, progressive (code 7)"},
      {"twelve_bit", build(0xC1, 12), "unsupported JPEG: 12-bit precision (code 7)",
       "unsupported JPEG: 12-bit precision (code 7)"},
      {"twelve_bit_progressive", build(0xC2, 12), "unsupported JPEG: 12-bit precision (code 7)",
       "unsupported JPEG: progressive, 12-bit precision (code 7)"},
      {"lossless", build(0xC3, 8), "unsupported JPEG: lossless (code 7)",
       "unsupported JPEG: lossless (code 7)"},
      {"hierarchical", build(0xC5, 8), "unsupported JPEG: hierarchical (code 7)",
       "unsupported JPEG: hierarchical (code 7)"},
      {"hierarchical_lossless", build(0xC7, 8), "unsupported JPEG: hierarchical, lossless (code 7)",
       "unsupported JPEG: hierarchical, lossless (code 7)"},
      {"two_components", BuildJpeg(colour, two), "unsupported JPEG: two components (code 2)",
       "unsupported JPEG: two components (code 2)"},
      {"cut_in_tables", cut(baseline, 0xDB, 30),
       "truncated header: the file ends before the first scan (code 7)",
       "truncated header: the file ends before the first scan (code 7)"},
      {"cut_in_scan_header", cut(progressive, 0xDA, 6),
       "truncated header: the file ends before the first scan (code 7)", strictProgressive},
      {"frame_then_eoi", frameThenEoi,
       "no image: the file ends (EOI) before the first scan (code 7)",
       "no image: the file ends (EOI) before the first scan (code 7)"},
      {"first_scan_dc_and_ac", mixedScan,
       "damaged progressive file: the first scan header breaks T.81 G.1.1.1.1 (code 7)",
       strictProgressive},
      {"empty", {}, "not a JPEG file (code 7)", "not a JPEG file (code 7)"},
      {"text", Bytes{'G', 'I', 'F', '8', '9', 'a'}, "not a JPEG file (code 7)",
       "not a JPEG file (code 7)"},
      // The markers tell nothing more than the driver's code.
      {"bad_table", badTable, "malformed or unsupported JPEG data (code 7)",
       "malformed or unsupported JPEG data (code 7)"},
  };
  for (const Case& c : cases) {
    const std::string path = dir / (std::string(c.name) + ".jpg");
    WriteBytes(path, std::string(c.bytes.begin(), c.bytes.end()));
    for (bool strict : {false, true}) {
      const std::string& message = strict ? c.strict : c.extended;
      std::vector<std::string> args = {"info", path};
      if (strict) args.push_back("--strict");
      ProcessResult r = Cli(args);
      EXPECT_EQ(r.exitStatus, message.empty() ? 0 : 1) << c.name << (strict ? " strict" : "");
      EXPECT_EQ(r.err, message.empty() ? "" : "iffjpeg: " + path + ": " + message + "\n")
          << c.name << (strict ? " strict" : "");
    }
  }
  ProcessResult decode = Cli({"decode", "--strict", dir / "progressive.jpg", dir / "out.ppm"});
  EXPECT_EQ(decode.exitStatus, 1);
  EXPECT_EQ(decode.err, "iffjpeg: " + (dir / "progressive.jpg") + ": " + strictProgressive + "\n");
  EXPECT_FALSE(Exists(dir / "out.ppm"));
}

// The marker walk stays bounded and safe on hostile headers: lengths that
// run past the end, a million fill bytes, tens of thousands of segments.
TEST(CliTool, MarkerWalkOnHostileHeaders) {
  TempDir dir;
  std::string soi = "\xFF\xD8";
  std::string segments;
  for (int i = 0; i < 70000; ++i) segments += std::string("\xFF\xFE\x00\x02", 4);
  struct Case {
    const char* name;
    std::string bytes;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"length_past_end", soi + "\xFF\xE1\xFF\xFFshort", "truncated header"},
      {"fill_then_nothing", soi + std::string(1000000, '\xFF'), "truncated header"},
      {"length_below_two", soi + std::string("\xFF\xFE\x00\x01", 4),
       "malformed or unsupported JPEG data"},
      {"many_segments", soi + segments, "malformed or unsupported JPEG data"},
      {"soi_only", soi, "truncated header"},
  };
  for (const Case& c : cases) {
    const std::string path = dir / (std::string(c.name) + ".jpg");
    WriteBytes(path, c.bytes);
    ProcessResult r = Cli({"info", path});
    EXPECT_EQ(r.exitStatus, 1) << c.name;
    EXPECT_TRUE(Contains(r.err, std::string(": ") + c.message)) << c.name << r.err;
    EXPECT_TRUE(Contains(r.err, " (code 7)\n")) << c.name << r.err;
  }
}

// ---- End to end: these need the reader and the writer. ----

// Skips the calling test while reading back a freshly written file fails
// with code 7 (the codec is not built yet).
bool CodecMissing(const TempDir& dir) {
  ProcessResult r = Cli({"chart", dir / "probe.jpg", "--size", "64x64"});
  if (r.exitStatus != 0) return false;
  IFFImageInfo info{};
  int32_t h = IFFOpen((dir / "probe.jpg").c_str(), IFF_MODE_READ, &info);
  if (h > 0) IFFClose(h);
  return h == -IFF_ERR_BAD_DATA;
}

#define SKIP_WITHOUT_CODEC(dir) \
  if (CodecMissing(dir)) GTEST_SKIP() << "reading a written file gives code 7: no codec yet"

TEST(CliRoundTrip, RgbPnmThroughJpegAndBack) {
  TempDir dir;
  SKIP_WITHOUT_CODEC(dir);
  Image original = MakeTestImage(97, 61, 3, 11);
  WritePnm(dir / "in.ppm", original);
  ProcessResult enc = Cli({"encode", dir / "in.ppm", dir / "out.jpg", "--quality", "90"});
  ASSERT_EQ(enc.exitStatus, 0) << enc.err;
  ProcessResult info = Cli({"info", dir / "out.jpg"});
  EXPECT_EQ(info.exitStatus, 0) << info.err;
  EXPECT_TRUE(Contains(info.out, ": 97 x 61, RGB, ")) << info.out;
  ASSERT_EQ(Cli({"decode", dir / "out.jpg", dir / "back.ppm"}).exitStatus, 0);
  Image back;
  ASSERT_TRUE(ReadPnm(dir / "back.ppm", &back));
  ASSERT_EQ(back.width, 97);
  ASSERT_EQ(back.height, 61);
  EXPECT_GT(Psnr(original, back), 30.0);
  // An independent decoder reads the same file to nearly the same samples.
  Image reference;
  ASSERT_TRUE(StbDecode(ReadFileBytes((dir / "out.jpg").c_str()), &reference));
  EXPECT_GT(Psnr(reference, back), 35.0);
  // The other output formats hold exactly the PPM's samples.
  for (const char* ext : {"png", "bmp"}) {
    std::string out = dir / (std::string("back.") + ext);
    ASSERT_EQ(Cli({"decode", dir / "out.jpg", out}).exitStatus, 0);
    EXPECT_EQ(Cli({"compare", dir / "back.ppm", out}).out,
              "PSNR inf dB, largest difference 0 (identical)\n");
  }
}

TEST(CliRoundTrip, GreyscaleStaysGreyInEveryFormat) {
  TempDir dir;
  SKIP_WITHOUT_CODEC(dir);
  WritePnm(dir / "in.pgm", MakeTestImage(40, 33, 1, 3));
  ASSERT_EQ(Cli({"encode", dir / "in.pgm", dir / "grey.jpg"}).exitStatus, 0);
  ProcessResult info = Cli({"info", "--json", dir / "grey.jpg"});
  EXPECT_TRUE(Contains(info.out, "\"colour\": \"grey\", \"channels\": 1")) << info.out;
  for (const char* ext : {"pgm", "pnm", "png", "bmp", "ppm"}) {
    std::string out = dir / (std::string("back.") + ext);
    ASSERT_EQ(Cli({"decode", dir / "grey.jpg", out}).exitStatus, 0) << ext;
    EXPECT_EQ(Cli({"compare", dir / "back.pgm", out}).out,
              "PSNR inf dB, largest difference 0 (identical)\n")
        << ext;
  }
  Image pnm;
  ASSERT_TRUE(ReadPnm(dir / "back.pnm", &pnm));
  EXPECT_EQ(pnm.channels, 1);
  // A PNG input goes through stb_image: the same samples give the same file.
  ASSERT_EQ(Cli({"encode", dir / "back.png", dir / "again_png.jpg"}).exitStatus, 0);
  ASSERT_EQ(Cli({"encode", dir / "back.pgm", dir / "again_pgm.jpg"}).exitStatus, 0);
  EXPECT_EQ(ReadFileBytes((dir / "again_png.jpg").c_str()),
            ReadFileBytes((dir / "again_pgm.jpg").c_str()));
}

TEST(CliRoundTrip, QualityAndResolutionReachTheFile) {
  TempDir dir;
  SKIP_WITHOUT_CODEC(dir);
  WritePnm(dir / "in.ppm", MakeTestImage(64, 48, 3, 2));
  ASSERT_EQ(Cli({"encode", dir / "in.ppm", dir / "a.jpg", "--dpi", "200,100"}).exitStatus, 0);
  ASSERT_EQ(Cli({"encode", dir / "in.ppm", dir / "b.jpg", "--dpi=150", "-q", "20"}).exitStatus, 0);
  ASSERT_EQ(Cli({"encode", dir / "in.ppm", dir / "c.jpg", "--quality=95"}).exitStatus, 0);
  ProcessResult r = Cli({"info", "--json", dir / "a.jpg", dir / "b.jpg"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out.rfind("[\n  {\"file\": ", 0), 0u);
  EXPECT_TRUE(Contains(r.out,
                       "\"width\": 64, \"height\": 48, \"colour\": \"rgb\", "
                       "\"channels\": 3, \"dpi\": [200, 100], \"bytes\": "))
      << r.out;
  EXPECT_TRUE(Contains(r.out, "\"dpi\": [150, 150]")) << r.out;
  EXPECT_LT(std::filesystem::file_size(dir / "b.jpg"), std::filesystem::file_size(dir / "c.jpg"));
  ProcessResult text = Cli({"info", dir / "a.jpg"});
  EXPECT_EQ(text.out, dir / "a.jpg" + ": 64 x 48, RGB, 200 x 100 dpi, " +
                          std::to_string(std::filesystem::file_size(dir / "a.jpg")) +
                          " bytes\n  baseline, YCbCr 4:2:0, restart interval 0, orientation 0, "
                          "ICC 0, EXIF 0, XMP 0, comment 0 bytes\n");
}

// info describes what the markers say, and writes the ICC profile and the
// EXIF data out as stored.
TEST(CliTool, InfoDescribesTheFrameAndWritesTheItems) {
  TempDir dir;
  const std::string icc1(300, 'a'), icc2 = "second chunk";
  const std::string tiff =
      std::string("MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0", 22) +
      std::string(4, '\0');
  auto segment = [](int marker, const std::string& payload) {
    std::vector<uint8_t> out;
    AppendSegment(out, marker, std::vector<uint8_t>(payload.begin(), payload.end()));
    return out;
  };
  JpegBuildOptions o = ColourOptions(2, 1);
  o.restartInterval = 4;
  o.progressiveScans = BandSelectionScript(3);
  o.extraSegments = {segment(0xE2, std::string("ICC_PROFILE\0\x02\x02", 14) + icc2),
                     segment(0xE2, std::string("ICC_PROFILE\0\x01\x02", 14) + icc1),
                     segment(0xE1, std::string("Exif\0\0", 6) + tiff), segment(0xFE, "hello")};
  std::vector<uint8_t> jpeg = BuildJpeg(MakeTestImage(24, 16, 3, 1), o);
  WriteBytes(dir / "p.jpg", std::string(jpeg.begin(), jpeg.end()));

  ProcessResult text = Cli({"info", dir / "p.jpg"});
  ASSERT_EQ(text.exitStatus, 0) << text.err;
  EXPECT_TRUE(Contains(text.out,
                       "\n  progressive, YCbCr 4:2:2, restart interval 4, orientation 6, "
                       "ICC 312, EXIF 26, XMP 0, comment 5 bytes\n"))
      << text.out;
  ProcessResult json =
      Cli({"info", "--json", dir / "p.jpg", "--icc", dir / "p.icc", "--exif=" + dir / "p.exif"});
  ASSERT_EQ(json.exitStatus, 0) << json.err;
  EXPECT_TRUE(Contains(json.out,
                       "\"frame\": \"progressive\", \"model\": \"YCbCr\", \"sampling\": \"4:2:2\", "
                       "\"restartInterval\": 4, \"orientation\": 6, \"iccBytes\": 312, "
                       "\"exifBytes\": 26, \"xmpBytes\": 0, \"commentBytes\": 5}"))
      << json.out;
  std::vector<uint8_t> icc = ReadFileBytes((dir / "p.icc").c_str());
  EXPECT_EQ(std::string(icc.begin(), icc.end()), icc1 + icc2);
  std::vector<uint8_t> exif = ReadFileBytes((dir / "p.exif").c_str());
  EXPECT_EQ(std::string(exif.begin(), exif.end()), tiff);

  // A file without the item: status 1, the description still printed, no file.
  jpeg = BuildJpeg(MakeTestImage(8, 8, 1, 1), GreyOptions());
  WriteBytes(dir / "g.jpg", std::string(jpeg.begin(), jpeg.end()));
  ProcessResult none = Cli({"info", dir / "g.jpg", "--icc", dir / "g.icc"});
  EXPECT_EQ(none.exitStatus, 1);
  EXPECT_TRUE(Contains(none.err, "has no ICC profile")) << none.err;
  EXPECT_TRUE(Contains(none.out, "baseline, greyscale 1x1, restart interval 0")) << none.out;
  EXPECT_FALSE(Exists(dir / "g.icc"));
  EXPECT_EQ(Cli({"info", dir / "g.jpg", dir / "p.jpg", "--exif", dir / "x"}).exitStatus, 2);
  EXPECT_EQ(Cli({"info", dir / "g.jpg", "--icc"}).exitStatus, 2);
}

// The extended reading is the default: a progressive file and its
// sequential twin (the same quantized coefficients) decode to the same
// samples; --strict reads the twin as before.
TEST(CliRoundTrip, ProgressiveFilesDecodeByDefault) {
  TempDir dir;
  SKIP_WITHOUT_CODEC(dir);
  Image image = MakeTestImage(53, 37, 3, 12);
  JpegBuildOptions options = ColourOptions(2, 2);
  std::vector<uint8_t> sequential = BuildJpeg(image, options);
  options.progressiveScans = SuccessiveApproximationScript(3);
  std::vector<uint8_t> progressive = BuildJpeg(image, options);
  WriteBytes(dir / "seq.jpg", std::string(sequential.begin(), sequential.end()));
  WriteBytes(dir / "prog.jpg", std::string(progressive.begin(), progressive.end()));
  ProcessResult info = Cli({"info", dir / "prog.jpg"});
  EXPECT_EQ(info.exitStatus, 0) << info.err;
  EXPECT_TRUE(Contains(info.out, ": 53 x 37, RGB, ")) << info.out;
  ASSERT_EQ(Cli({"decode", dir / "prog.jpg", dir / "prog.ppm"}).exitStatus, 0);
  ASSERT_EQ(Cli({"decode", "--strict", dir / "seq.jpg", dir / "seq.ppm"}).exitStatus, 0);
  EXPECT_EQ(Cli({"compare", dir / "prog.ppm", dir / "seq.ppm"}).out,
            "PSNR inf dB, largest difference 0 (identical)\n");
  EXPECT_EQ(Cli({"compare", dir / "prog.jpg", dir / "seq.jpg"}).out,
            "PSNR inf dB, largest difference 0 (identical)\n");
  EXPECT_EQ(Cli({"compare", "--strict", dir / "prog.jpg", dir / "seq.jpg"}).exitStatus, 1);
  ASSERT_EQ(Cli({"encode", dir / "prog.jpg", dir / "again.jpg"}).exitStatus, 0);
  EXPECT_EQ(Cli({"encode", dir / "prog.jpg", dir / "again.jpg", "--strict"}).exitStatus, 1);
}

// The index of the first segment with this marker before the scan data, or
// npos; *payload gets its bytes after the length field.
std::size_t FindSegment(const std::vector<uint8_t>& f, int marker, std::string* payload) {
  std::size_t p = 2;
  while (p + 4 <= f.size() && f[p] == 0xFF && f[p + 1] != 0xDA) {
    std::size_t length = static_cast<std::size_t>(f[p + 2]) << 8 | f[p + 3];
    if (f[p + 1] == marker) {
      payload->assign(f.begin() + p + 4, f.begin() + p + 2 + length);
      return p;
    }
    p += 2 + length;
  }
  return std::string::npos;
}

TEST(CliRoundTrip, WritingOptionsReachTheFile) {
  TempDir dir;
  SKIP_WITHOUT_CODEC(dir);
  WritePnm(dir / "in.ppm", MakeTestImage(120, 80, 3, 7));
  WriteBytes(dir / "profile.icc", std::string(300, 'P'));
  WriteBytes(dir / "exif.tiff", std::string("MM\0*\0\0\0\x08", 8));
  ASSERT_EQ(Cli({"encode", dir / "in.ppm", dir / "plain.jpg"}).exitStatus, 0);
  ProcessResult r = Cli({"encode", dir / "in.ppm", dir / "opts.JPEG", "--subsample", "444",
                         "--restart=4", "--optimize", "--comment", "a note", "--icc",
                         dir / "profile.icc", "--exif", dir / "exif.tiff"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  std::vector<uint8_t> opts = ReadFileBytes((dir / "opts.JPEG").c_str());
  std::string payload;
  ASSERT_NE(FindSegment(opts, 0xC0, &payload), std::string::npos);
  EXPECT_EQ(static_cast<uint8_t>(payload[7]), 0x11);  // luminance 1x1
  ASSERT_NE(FindSegment(opts, 0xDD, &payload), std::string::npos);
  EXPECT_EQ(payload, std::string("\0\x04", 2));
  ASSERT_NE(FindSegment(opts, 0xFE, &payload), std::string::npos);
  EXPECT_EQ(payload, "a note");
  ASSERT_NE(FindSegment(opts, 0xE2, &payload), std::string::npos);
  EXPECT_EQ(payload, std::string("ICC_PROFILE\0\x01\x01", 14) + std::string(300, 'P'));
  ASSERT_NE(FindSegment(opts, 0xE1, &payload), std::string::npos);
  EXPECT_EQ(payload, std::string("Exif\0\0MM\0*\0\0\0\x08", 14));

  // Optimized alone: the plain file's pixels in fewer bytes.
  ASSERT_EQ(Cli({"encode", dir / "in.ppm", dir / "small.jpg", "--optimize"}).exitStatus, 0);
  EXPECT_EQ(Cli({"compare", dir / "plain.jpg", dir / "small.jpg"}).out,
            "PSNR inf dB, largest difference 0 (identical)\n");
  EXPECT_LT(std::filesystem::file_size(dir / "small.jpg"),
            std::filesystem::file_size(dir / "plain.jpg"));

  // Progressive: the same pixels again, in a SOF2 file.
  ASSERT_EQ(Cli({"encode", dir / "in.ppm", dir / "prog.jpg", "--progressive"}).exitStatus, 0);
  EXPECT_EQ(Cli({"compare", dir / "plain.jpg", dir / "prog.jpg"}).out,
            "PSNR inf dB, largest difference 0 (identical)\n");
  EXPECT_NE(FindSegment(ReadFileBytes((dir / "prog.jpg").c_str()), 0xC2, &payload),
            std::string::npos);

  // "-" writes the same bytes to standard output.
  ProcessResult out = Cli({"encode", dir / "in.ppm", "-"});
  ASSERT_EQ(out.exitStatus, 0) << out.err;
  std::vector<uint8_t> plain = ReadFileBytes((dir / "plain.jpg").c_str());
  EXPECT_EQ(out.out, std::string(plain.begin(), plain.end()));

  // Other names, and bad option values, are refused before anything is
  // written.
  const std::vector<std::vector<std::string>> refused = {
      {"encode", dir / "in.ppm", dir / "out.webp"},
      {"encode", dir / "in.ppm", dir / "out.png"},
      {"encode", dir / "in.ppm", dir / "jpg"},
      {"encode", dir / "in.ppm", dir / "out.jpg", "--subsample", "421"},
      {"encode", dir / "in.ppm", dir / "out.jpg", "--restart", "65536"},
      {"encode", dir / "in.ppm", dir / "out.jpg", "--icc"},
  };
  for (const auto& args : refused) {
    ProcessResult bad = Cli(args);
    EXPECT_EQ(bad.exitStatus, 2) << args.back();
    EXPECT_TRUE(Contains(bad.err, "Try 'iffjpeg encode --help'.")) << bad.err;
  }
  EXPECT_FALSE(Exists(dir / "out.webp"));
  EXPECT_FALSE(Exists(dir / "out.jpg"));
  ProcessResult missing = Cli({"encode", dir / "in.ppm", dir / "out.jpg", "--icc", dir / "none"});
  EXPECT_EQ(missing.exitStatus, 1);
  EXPECT_FALSE(Exists(dir / "out.jpg"));
}

TEST(CliRoundTrip, TruncatedFileDecodesWithAWarningAndStatus3) {
  TempDir dir;
  SKIP_WITHOUT_CODEC(dir);
  ASSERT_EQ(Cli({"chart", dir / "full.jpg", "--size", "128x96"}).exitStatus, 0);
  std::vector<uint8_t> bytes = ReadFileBytes((dir / "full.jpg").c_str());
  WriteBytes(dir / "cut.jpg", std::string(bytes.begin(), bytes.begin() + bytes.size() / 2));
  ProcessResult r = Cli({"decode", dir / "cut.jpg", dir / "cut.ppm"});
  EXPECT_EQ(r.exitStatus, 3);
  EXPECT_TRUE(Contains(r.err, "iffjpeg: " + (dir / "cut.jpg") + ": warning: ")) << r.err;
  EXPECT_TRUE(Contains(r.err, "(code 10)")) << r.err;
  Image cut;
  ASSERT_TRUE(ReadPnm(dir / "cut.ppm", &cut));
  EXPECT_EQ(cut.height, 96);
}

// --scale hands the denominator to the driver: the tool's lines are the
// driver's scaled lines, each side rounded up.
TEST(CliRoundTrip, DecodeScalesAndRefusesOtherScales) {
  TempDir dir;
  SKIP_WITHOUT_CODEC(dir);
  WritePnm(dir / "in.ppm", MakeTestImage(53, 37, 3, 8));
  ASSERT_EQ(Cli({"encode", dir / "in.ppm", dir / "in.jpg"}).exitStatus, 0);
  ASSERT_EQ(Cli({"decode", dir / "in.jpg", dir / "full.ppm"}).exitStatus, 0);
  const struct {
    int d;
    int width, height;
  } cases[] = {{1, 53, 37}, {2, 27, 19}, {4, 14, 10}, {8, 7, 5}};
  for (const auto& c : cases) {
    const std::string out = dir / ("scaled" + std::to_string(c.d) + ".ppm");
    ProcessResult r = Cli({"decode", dir / "in.jpg", out, "--scale=1/" + std::to_string(c.d)});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    Image img;
    ASSERT_TRUE(ReadPnm(out, &img));
    EXPECT_EQ(img.width, c.width) << c.d;
    EXPECT_EQ(img.height, c.height) << c.d;
    IFFImageInfo info{};
    int32_t h = IFFOpen((dir / "in.jpg").c_str(), IFF_MODE_READ | IFF_MODE_EXTENDED, &info);
    ASSERT_GT(h, 0);
    ASSERT_EQ(IFFControl(h, IFF_CTL_SCALE, c.d, 0, nullptr), IFF_OK);
    std::vector<uint8_t> lines(img.pixels.size());
    for (int y = 0; y < c.height; ++y) {
      ASSERT_EQ(IFFGetLine(h, 1, lines.data() + static_cast<std::size_t>(y) * c.width * 3), 0);
    }
    IFFClose(h);
    EXPECT_EQ(img.pixels, lines) << c.d;
  }
  EXPECT_EQ(ReadFileBytes((dir / "scaled1.ppm").c_str()),
            ReadFileBytes((dir / "full.ppm").c_str()));
  for (const char* bad : {"1/3", "2", "1/16", "half", "1/", "2/4"}) {
    ProcessResult r = Cli({"decode", dir / "in.jpg", dir / "bad.ppm", "--scale", bad});
    EXPECT_EQ(r.exitStatus, 2) << bad;
    EXPECT_TRUE(Contains(r.err, "scale must be 1/1, 1/2, 1/4 or 1/8")) << r.err;
  }
  EXPECT_EQ(Cli({"decode", dir / "in.jpg", dir / "bad.ppm", "--scale"}).exitStatus, 2);
  EXPECT_FALSE(Exists(dir / "bad.ppm"));
}

// The image whose pixel (x, y) is in's pixel from(x, y).
template <typename From>
Image Remap(const Image& in, int width, int height, From from) {
  Image out{width, height, in.channels, in.pixels};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      auto [sx, sy] = from(x, y);
      std::copy_n(&in.pixels[(static_cast<std::size_t>(sy) * in.width + sx) * in.channels],
                  in.channels,
                  &out.pixels[(static_cast<std::size_t>(y) * width + x) * in.channels]);
    }
  }
  return out;
}

Image Mirror(const Image& in) {
  return Remap(in, in.width, in.height,
               [&](int x, int y) { return std::pair(in.width - 1 - x, y); });
}

Image TurnClockwise(const Image& in) {
  return Remap(in, in.height, in.width,
               [&](int x, int y) { return std::pair(y, in.height - 1 - x); });
}

// A TIFF structure whose IFD0 holds only the orientation (tag 0x0112,
// SHORT), in either byte order.
std::string OrientationTiff(int orientation, bool bigEndian) {
  auto u16 = [&](int v) {
    return bigEndian ? std::string{static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)}
                     : std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
  };
  auto u32 = [&](int v) { return bigEndian ? u16(0) + u16(v) : u16(v) + u16(0); };
  return (bigEndian ? "MM" : "II") + u16(42) + u32(8) + u16(1) + u16(0x0112) + u16(3) + u32(1) +
         u16(orientation) + u16(0) + u32(0);
}

// --orient shows the image upright: each orientation against the plain
// decode turned by mirrors and quarter turns in the test.
TEST(CliRoundTrip, OrientTurnsTheImageAsItsExifSays) {
  TempDir dir;
  SKIP_WITHOUT_CODEC(dir);
  WritePnm(dir / "in.ppm", MakeTestImage(24, 16, 3, 21));
  auto turns = [](Image img, int n) {
    for (int i = 0; i < n; ++i) img = TurnClockwise(img);
    return img;
  };
  const std::vector<std::function<Image(const Image&)>> upright = {
      [](const Image& i) { return i; },                     // 0: no EXIF
      [](const Image& i) { return i; },                     // 1
      [](const Image& i) { return Mirror(i); },             // 2
      [&](const Image& i) { return turns(i, 2); },          // 3
      [&](const Image& i) { return Mirror(turns(i, 2)); },  // 4
      [&](const Image& i) { return turns(Mirror(i), 3); },  // 5
      [&](const Image& i) { return turns(i, 1); },          // 6
      [&](const Image& i) { return turns(Mirror(i), 1); },  // 7
      [&](const Image& i) { return turns(i, 3); },          // 8
  };
  for (int orientation = 0; orientation <= 8; ++orientation) {
    for (bool bigEndian : {false, true}) {
      const std::string name = std::to_string(orientation) + (bigEndian ? "MM" : "II");
      std::vector<std::string> encode = {"encode", dir / "in.ppm", dir / "o.jpg", "-q", "100"};
      if (orientation > 0) {
        WriteBytes(dir / "o.tiff", OrientationTiff(orientation, bigEndian));
        encode.insert(encode.end(), {"--exif", dir / "o.tiff"});
      }
      ASSERT_EQ(Cli(encode).exitStatus, 0) << name;
      ASSERT_EQ(Cli({"decode", dir / "o.jpg", dir / "plain.ppm"}).exitStatus, 0);
      ProcessResult r = Cli({"decode", "--orient", dir / "o.jpg", dir / "upright.ppm"});
      ASSERT_EQ(r.exitStatus, 0) << r.err;
      Image plain, shown;
      ASSERT_TRUE(ReadPnm(dir / "plain.ppm", &plain));
      ASSERT_TRUE(ReadPnm(dir / "upright.ppm", &shown));
      Image expected = upright[static_cast<std::size_t>(orientation)](plain);
      EXPECT_EQ(shown.width, expected.width) << name;
      EXPECT_EQ(shown.height, expected.height) << name;
      EXPECT_EQ(shown.pixels, expected.pixels) << name;
    }
  }
}

ProcessResult CliWithInput(const std::string& stdinPath, std::vector<std::string> args) {
  args.insert(args.begin(), IFFJPEG_CLI);
  return RunProcess(args, {}, stdinPath);
}

// "-" reads standard input (decode, info) and writes PNM to standard
// output (decode), with the results of the named file.
TEST(CliRoundTrip, StandardInputAndOutput) {
  TempDir dir;
  SKIP_WITHOUT_CODEC(dir);
  JpegBuildOptions options = ColourOptions(2, 2);
  options.progressiveScans = SuccessiveApproximationScript(3);
  std::vector<uint8_t> jpeg = BuildJpeg(MakeTestImage(41, 23, 3, 6), options);
  const std::string file = dir / "p.jpg";
  WriteBytes(file, std::string(jpeg.begin(), jpeg.end()));
  jpeg = BuildJpeg(MakeTestImage(17, 9, 1, 2), GreyOptions());
  WriteBytes(dir / "g.jpg", std::string(jpeg.begin(), jpeg.end()));
  for (const char* name : {"p", "g"}) {
    const std::string in = dir / (std::string(name) + ".jpg");
    const std::string ref = dir / (std::string(name) + ".pnm");
    ASSERT_EQ(Cli({"decode", in, ref}).exitStatus, 0);
    std::vector<uint8_t> bytes = ReadFileBytes(ref.c_str());
    const std::string expected(bytes.begin(), bytes.end());
    ProcessResult toStdout = Cli({"decode", in, "-"});
    EXPECT_EQ(toStdout.exitStatus, 0) << toStdout.err;
    EXPECT_EQ(toStdout.out, expected) << name;
    ProcessResult both = CliWithInput(in, {"decode", "-", "-"});
    EXPECT_EQ(both.exitStatus, 0) << both.err;
    EXPECT_EQ(both.out, expected) << name;
  }
  ASSERT_EQ(CliWithInput(file, {"decode", "-", dir / "in.png"}).exitStatus, 0);
  EXPECT_EQ(Cli({"compare", dir / "in.png", dir / "p.pnm"}).out,
            "PSNR inf dB, largest difference 0 (identical)\n");

  ProcessResult named = Cli({"info", file});
  ProcessResult piped = CliWithInput(file, {"info", "-"});
  EXPECT_EQ(piped.exitStatus, 0) << piped.err;
  EXPECT_EQ(piped.out, "-" + named.out.substr(file.size())) << piped.out;
  // Not JPEG data, and JPEG data cut short.
  WritePnm(dir / "x.ppm", Flat(4, 4, 3, 1));
  ProcessResult notJpeg = CliWithInput(dir / "x.ppm", {"info", "-"});
  EXPECT_EQ(notJpeg.exitStatus, 1);
  EXPECT_EQ(notJpeg.err, "iffjpeg: standard input: not a JPEG file (code 7)\n");
  std::vector<uint8_t> bytes = ReadFileBytes(file.c_str());
  WriteBytes(dir / "cut.jpg", std::string(bytes.begin(), bytes.begin() + bytes.size() * 2 / 3));
  ProcessResult cut = CliWithInput(dir / "cut.jpg", {"decode", "-", dir / "cut.ppm"});
  EXPECT_EQ(cut.exitStatus, 3);
  EXPECT_TRUE(Contains(cut.err, "iffjpeg: standard input: warning: ")) << cut.err;
}

// encode copies a JPEG input's EXIF, ICC profile and XMP; --strip drops
// them, --icc and --exif replace one.
TEST(CliRoundTrip, EncodeCarriesTheMetadataOfAJpegInput) {
  TempDir dir;
  SKIP_WITHOUT_CODEC(dir);
  const std::string icc1(70000, 'i'), icc2 = "tail", exif = OrientationTiff(6, true);
  const std::string xmpId("http://ns.adobe.com/xap/1.0/\0", 29), xmp = "<x:xmpmeta/>";
  auto segment = [](int marker, const std::string& payload) {
    std::vector<uint8_t> out;
    AppendSegment(out, marker, std::vector<uint8_t>(payload.begin(), payload.end()));
    return out;
  };
  JpegBuildOptions o = ColourOptions(2, 2);
  o.extraSegments = {
      segment(0xE1, std::string("Exif\0\0", 6) + exif),
      segment(0xE2, std::string("ICC_PROFILE\0\x01\x02", 14) + icc1.substr(0, 65000)),
      segment(0xE2, std::string("ICC_PROFILE\0\x02\x02", 14) + icc1.substr(65000) + icc2),
      segment(0xE1, xmpId + xmp), segment(0xFE, "not carried")};
  std::vector<uint8_t> jpeg = BuildJpeg(MakeTestImage(32, 16, 3, 3), o);
  WriteBytes(dir / "src.jpg", std::string(jpeg.begin(), jpeg.end()));
  WriteBytes(dir / "new.icc", "replacement");
  auto sizes = [&](const std::string& path) {
    ProcessResult r = Cli({"info", "--json", path});
    std::size_t at = r.out.find("\"iccBytes\"");
    return at == std::string::npos ? r.out + r.err : r.out.substr(at);
  };
  const struct {
    const char* name;
    std::vector<std::string> options;
    std::string sizes;
  } cases[] = {
      {"carried",
       {},
       "\"iccBytes\": 70004, \"exifBytes\": 26, \"xmpBytes\": 12, \"commentBytes\": 0}\n]\n"},
      {"stripped",
       {"--strip"},
       "\"iccBytes\": 0, \"exifBytes\": 0, \"xmpBytes\": 0, \"commentBytes\": 0}\n]\n"},
      {"replaced",
       {"--icc", dir / "new.icc"},
       "\"iccBytes\": 11, \"exifBytes\": 26, \"xmpBytes\": 12, \"commentBytes\": 0}\n]\n"},
      {"stripped_given",
       {"--strip", "--icc", dir / "new.icc"},
       "\"iccBytes\": 11, \"exifBytes\": 0, \"xmpBytes\": 0, \"commentBytes\": 0}\n]\n"},
  };
  for (const auto& c : cases) {
    const std::string out = dir / (std::string(c.name) + ".jpg");
    std::vector<std::string> args = {"encode", dir / "src.jpg", out};
    args.insert(args.end(), c.options.begin(), c.options.end());
    ProcessResult r = Cli(args);
    ASSERT_EQ(r.exitStatus, 0) << c.name << r.err;
    EXPECT_EQ(sizes(out), c.sizes) << c.name;
  }
  // The carried items are the source's bytes.
  ASSERT_EQ(Cli({"info", dir / "carried.jpg", "--icc", dir / "c.icc"}).exitStatus, 0);
  ASSERT_EQ(Cli({"info", dir / "carried.jpg", "--exif", dir / "c.exif"}).exitStatus, 0);
  std::vector<uint8_t> bytes = ReadFileBytes((dir / "c.icc").c_str());
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), icc1 + icc2);
  bytes = ReadFileBytes((dir / "c.exif").c_str());
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), exif);
  bytes = ReadFileBytes((dir / "carried.jpg").c_str());
  EXPECT_TRUE(Contains(std::string(bytes.begin(), bytes.end()), xmpId + xmp));
}

#else

TEST(CliTool, Skipped) { GTEST_SKIP() << "built without the tools (IFFJPEG_BUILD_TOOLS=OFF)"; }

#endif

}  // namespace
}  // namespace iffjpeg_test
