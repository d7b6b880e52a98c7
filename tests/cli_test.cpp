// The iffjpeg command-line tool, run as a user runs it: exit statuses,
// messages and the files it writes. The CliRoundTrip suite needs a working
// codec and skips itself while reading a freshly written file gives code 7.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
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

#else

TEST(CliTool, Skipped) { GTEST_SKIP() << "built without the tools (IFFJPEG_BUILD_TOOLS=OFF)"; }

#endif

}  // namespace
}  // namespace iffjpeg_test
