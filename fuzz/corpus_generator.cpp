// Writes the fuzz seed corpora and the malformed-input regression corpus,
// all from the test JPEG builder plus byte edits, so that no sample file has
// to be hand-picked or taken from elsewhere.
//
//   corpus_generator seeds DIR       DIR/read, DIR/write, DIR/api
//   corpus_generator malformed DIR   DIR/*.jpg and DIR/manifest.txt
//
// Manifest lines: NAME OPEN [lines=N] [LINE:CODE ...] [later=any] [mode=extended]
//   OPEN is IFFOpen's result (0 for a handle). When it opens, the first N
//   lines (default: the height) are read one by one; a listed line must
//   return its code and every other line 0, except that with later=any the
//   lines after the last listed one may return 0 or 10. mode=extended: the
//   file is opened with IFF_MODE_EXTENDED (without it, in the default mode).
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/images.h"
#include "support/jpeg_builder.h"

using namespace iffjpeg_test;
using Bytes = std::vector<uint8_t>;

namespace {

namespace fs = std::filesystem;

void Save(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

Bytes Build(int width, int height, int channels, const JpegBuildOptions& options,
            uint32_t seed = 1) {
  return BuildJpeg(MakeTestImage(width, height, channels, seed), options);
}

// Offset of the first byte of the payload of the first segment with this
// marker (after its length).
std::size_t PayloadOf(const Bytes& jpeg, int marker, std::size_t from = 0) {
  long at = FindMarker(jpeg, marker, from);
  if (at < 0) throw std::runtime_error("marker not found");
  return static_cast<std::size_t>(at) + 4;
}

// Offset just after the scan header: the first entropy-coded byte.
std::size_t ScanDataStart(const Bytes& jpeg) {
  std::size_t payload = PayloadOf(jpeg, 0xDA);
  return payload - 2 + (jpeg[payload - 2] << 8 | jpeg[payload - 1]);
}

// Offsets of the restart markers in the entropy-coded data.
std::vector<std::size_t> RestartMarkers(const Bytes& jpeg) {
  std::vector<std::size_t> found;
  for (std::size_t i = ScanDataStart(jpeg); i + 1 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] >= 0xD0 && jpeg[i + 1] <= 0xD7) found.push_back(i);
  }
  return found;
}

Bytes InsertAt(Bytes jpeg, std::size_t at, const Bytes& bytes) {
  jpeg.insert(jpeg.begin() + static_cast<long>(at), bytes.begin(), bytes.end());
  return jpeg;
}

// Inserts bytes in front of the first marker with this code.
Bytes InsertBefore(const Bytes& jpeg, int marker, const Bytes& bytes) {
  long at = FindMarker(jpeg, marker);
  if (at < 0) throw std::runtime_error("marker not found");
  return InsertAt(jpeg, static_cast<std::size_t>(at), bytes);
}

Bytes Segment(int marker, const Bytes& payload) {
  Bytes out;
  AppendSegment(out, marker, payload);
  return out;
}

Bytes Truncate(Bytes jpeg, std::size_t size) {
  jpeg.resize(size);
  return jpeg;
}

// Replaces the scan header's payload.
Bytes ReplaceScanHeader(const Bytes& jpeg, const Bytes& payload) {
  long at = FindMarker(jpeg, 0xDA);
  std::size_t old = static_cast<std::size_t>(jpeg[at + 2] << 8 | jpeg[at + 3]);
  Bytes out(jpeg.begin(), jpeg.begin() + at);
  AppendSegment(out, 0xDA, payload);
  out.insert(out.end(), jpeg.begin() + at + 2 + static_cast<long>(old), jpeg.end());
  return out;
}

// ---- Seeds ---------------------------------------------------------------

struct Layout {
  const char* name;
  int channels, yh, yv, ch, cv;
};

constexpr Layout kLayouts[] = {
    {"grey", 1, 1, 1, 0, 0}, {"grey_2x2", 1, 2, 2, 0, 0}, {"444", 3, 1, 1, 1, 1},
    {"422", 3, 2, 1, 1, 1},  {"420", 3, 2, 2, 1, 1},      {"440", 3, 1, 2, 1, 1},
    {"411", 3, 4, 1, 1, 1},  {"410", 3, 4, 2, 1, 1},      {"odd_2x2_1x2", 3, 2, 2, 1, 2},
};

JpegBuildOptions OptionsFor(const Layout& layout) {
  return layout.channels == 1 ? GreyOptions(layout.yh, layout.yv)
                              : ColourOptions(layout.yh, layout.yv, layout.ch, layout.cv);
}

// The read target reads an input of odd length in extended mode: a
// progressive seed gets one byte after its end when its length is even.
Bytes OddLength(Bytes jpeg) {
  if (jpeg.size() % 2 == 0) jpeg.push_back(0x00);
  return jpeg;
}

struct Script {
  const char* name;
  std::vector<ProgressiveScan> (*make)(int components);
};

std::vector<ProgressiveScan> DeepScript(int components) {
  return DeepApproximationScript(components, 4);
}

constexpr Script kScripts[] = {
    {"bands", BandSelectionScript},
    {"approx", SuccessiveApproximationScript},
    {"dc_each", SingleComponentDcScript},
    {"narrow", NarrowBandsScript},
    {"deep", DeepScript},
};

// Progressive files in a few layouts and every script, with restart
// intervals (EOB runs meeting the interval's end), truncated inside and
// between scans, and with an Adobe segment on a four-component frame.
template <typename Save>
void WriteProgressiveSeeds(Save& save) {
  const Layout* layouts[] = {&kLayouts[0], &kLayouts[2], &kLayouts[4], &kLayouts[8]};
  for (const Layout* layout : layouts) {
    for (const Script& script : kScripts) {
      JpegBuildOptions options = OptionsFor(*layout);
      options.progressiveScans = script.make(layout->channels);
      std::string name = std::string("prog_") + layout->name + "_" + script.name;
      Bytes whole = Build(19, 13, layout->channels, options, 2);
      save(name, OddLength(whole));
      // Cut after the third scan header's data began, and in the middle.
      long third = FindMarker(whole, 0xDA, PayloadOf(whole, 0xDA) + 1);
      if (third > 0) save(name + "_cut_scan", OddLength(Truncate(whole, third + 12)));
      save(name + "_cut_half", OddLength(Truncate(whole, whole.size() / 2)));
      options.restartInterval = 2;
      save(name + "_restart2", OddLength(Build(27, 21, layout->channels, options, 3)));
    }
  }
  JpegBuildOptions cmyk = ColourOptions(2, 2);
  cmyk.components.push_back(BuilderComponent{4, 2, 2, 0, 0, 0});
  cmyk.jfif = false;
  cmyk.extraSegments = {AdobeSegment(2)};
  cmyk.progressiveScans = SuccessiveApproximationScript(4);
  save("prog_ycck_approx", OddLength(Build(21, 17, 3, cmyk)));
  JpegBuildOptions rgb = ColourOptions(1, 1);
  rgb.jfif = false;
  rgb.convertToYcc = false;
  rgb.extraSegments = {AdobeSegment(0)};
  rgb.progressiveScans = BandSelectionScript(3);
  save("prog_adobe_rgb_bands", OddLength(Build(18, 10, 3, rgb)));
}

// The file without its DHT segments (a Motion-JPEG frame).
Bytes WithoutHuffmanTables(const Bytes& jpeg) {
  Bytes out;
  std::size_t from = 0;
  for (const JpegSegment& s : ListSegments(jpeg)) {
    if (s.marker != 0xC4) continue;
    out.insert(out.end(), jpeg.begin() + static_cast<long>(from),
               jpeg.begin() + static_cast<long>(s.offset));
    from = s.offset + 4 + s.payload.size();
  }
  out.insert(out.end(), jpeg.begin() + static_cast<long>(from), jpeg.end());
  return out;
}

std::vector<std::size_t> AllRestartMarkers(const Bytes& jpeg) {
  std::vector<std::size_t> found;
  for (const JpegSegment& s : ListSegments(jpeg)) {
    if (s.marker >= 0xD0 && s.marker <= 0xD7) found.push_back(s.offset);
  }
  return found;
}

Bytes Erase(Bytes jpeg, std::size_t from, std::size_t to) {
  jpeg.erase(jpeg.begin() + static_cast<long>(from), jpeg.begin() + static_cast<long>(to));
  return jpeg;
}

// Bytes from .. to - 1 replaced by noise that holds no 0xFF (no marker).
Bytes Garble(Bytes jpeg, std::size_t from, std::size_t to) {
  uint32_t x = 2024;
  for (std::size_t i = from; i < to; ++i) {
    x = x * 1103515245u + 12345u;
    jpeg[i] = static_cast<uint8_t>((x >> 16) % 255);
  }
  return jpeg;
}

// Files that only extended reading's lenient rules open or decode in step:
// no Huffman tables, restart markers lost or intervals cut short, scan
// selectors that name no frame component. The read target chooses
// extended reading from an odd length: each seed is saved with both.
template <typename Save>
void WriteLenientSeeds(Save& save) {
  auto both = [&](const std::string& name, const Bytes& bytes) {
    save(name, bytes);
    Bytes padded = bytes;
    padded.push_back(0x00);  // after EOI: ignored, flips the length's parity
    save(name + "_padded", padded);
  };
  JpegBuildOptions avi = ColourOptions(2, 2);
  avi.jfif = false;
  avi.extraSegments = {Bytes{0xFF, 0xE0, 0x00, 0x08, 'A', 'V', 'I', '1', 0, 0}};
  both("mjpeg_no_dht", WithoutHuffmanTables(Build(33, 18, 3, avi)));
  both("grey_no_dht", WithoutHuffmanTables(Build(17, 9, 1, GreyOptions())));
  for (bool progressive : {false, true}) {
    JpegBuildOptions o = ColourOptions(2, 2);
    o.restartInterval = 1;
    if (progressive) o.progressiveScans = SuccessiveApproximationScript(3);
    std::string kind = progressive ? "progressive" : "sequential";
    Bytes jpeg = Build(64, 32, 3, o);
    std::vector<std::size_t> rst = AllRestartMarkers(jpeg);
    if (rst.size() < 4) throw std::runtime_error("expected restart markers");
    both(kind + "_rst_removed", Erase(jpeg, rst[1], rst[1] + 2));
    both(kind + "_two_rst_removed", Erase(Erase(jpeg, rst[2], rst[2] + 2), rst[1], rst[1] + 2));
    both(kind + "_intervals_cut", Erase(jpeg, rst[1] + 2, rst[3]));
    both(kind + "_interval_cut_short", Erase(jpeg, (rst[1] + rst[2]) / 2, rst[2]));
    both(kind + "_intervals_garbled", Garble(jpeg, rst[1] + 2, rst[3]));
  }
  // Concealment where an interval is a row, and in a file of one scan per
  // component (decoded whole).
  JpegBuildOptions rows = ColourOptions(2, 2);
  rows.restartInterval = 4;
  Bytes byRows = Build(64, 64, 3, rows);
  std::vector<std::size_t> rowRst = AllRestartMarkers(byRows);
  both("sequential_rows_garbled", Garble(byRows, rowRst[0] + 2, rowRst[2]));
  rows.scans = {{0}, {1}, {2}};
  Bytes split = Build(64, 64, 3, rows);
  std::vector<std::size_t> splitRst = AllRestartMarkers(split);
  both("multiscan_intervals_garbled", Garble(split, splitRst[3] + 2, splitRst[5]));
  Bytes shifted = Build(24, 16, 3, ColourOptions(2, 2));
  std::size_t sos = PayloadOf(shifted, 0xDA);
  for (int i = 0; i < 3; ++i) shifted[sos + 1 + 2 * i] = static_cast<uint8_t>(i);
  both("scan_ids_shifted", shifted);
  JpegBuildOptions progressive = ColourOptions(1, 1);
  progressive.progressiveScans = BandSelectionScript(3);
  Bytes aliased = Build(24, 16, 3, progressive);
  int scan = 0;
  for (const JpegSegment& s : ListSegments(aliased)) {
    if (s.marker != 0xDA) continue;
    for (int i = 0; i < s.payload[0]; ++i) {
      aliased[s.offset + 5 + 2 * i] =
          static_cast<uint8_t>(scan == 0 ? i : s.payload[1 + 2 * i] - 1);
    }
    ++scan;
  }
  both("progressive_scan_ids_shifted", aliased);
}

void WriteReadSeeds(const fs::path& dir) {
  fs::create_directories(dir);
  int n = 0;
  auto save = [&](const std::string& name, const Bytes& bytes) {
    Save(dir / (std::to_string(n++) + "_" + name + ".jpg"), bytes);
  };
  const int sizes[][2] = {{1, 1}, {17, 9}, {40, 33}};
  for (const Layout& layout : kLayouts) {
    for (const auto& size : sizes) {
      JpegBuildOptions options = OptionsFor(layout);
      std::string name =
          std::string(layout.name) + "_" + std::to_string(size[0]) + "x" + std::to_string(size[1]);
      Bytes plain = Build(size[0], size[1], layout.channels, options);
      save(name, plain);
      // Truncations: in the header, at the scan, in the data.
      std::size_t data = ScanDataStart(plain);
      save(name + "_cut_header", Truncate(plain, data / 2));
      save(name + "_cut_scan", Truncate(plain, data));
      save(name + "_cut_data", Truncate(plain, data + (plain.size() - data) / 2));
    }
    JpegBuildOptions restart = OptionsFor(layout);
    restart.restartInterval = 2;
    save(std::string(layout.name) + "_restart2", Build(35, 30, layout.channels, restart));
    restart.restartMarkerOverride = {{1, 0xD5}, {3, 0xFE}};
    save(std::string(layout.name) + "_restart_wrong", Build(35, 30, layout.channels, restart));
    JpegBuildOptions sixteen = OptionsFor(layout);
    sixteen.sixteenBitQuant = true;
    sixteen.quality = 10;
    sixteen.frameMarker = 0xC1;
    save(std::string(layout.name) + "_sof1_dqt16", Build(24, 20, layout.channels, sixteen));
  }
  JpegBuildOptions odd = GreyOptions();
  odd.fillBytes = true;
  odd.tablesInOneSegment = true;
  odd.densityUnit = 2;
  odd.xDensity = 118;
  odd.yDensity = 72;
  odd.extraSegments = {Segment(0xFE, {'h', 'i'}), Segment(0xE1, {1, 2, 3}),
                       Segment(0xCC, {0x00, 0x10, 0x10, 0x05}), Bytes{0xFF, 0x01}};
  save("grey_fill_segments", Build(20, 12, 1, odd));
  JpegBuildOptions noJfif = ColourOptions(1, 1);
  noJfif.jfif = false;
  save("colour_no_jfif", Build(16, 16, 3, noJfif));
  JpegBuildOptions arithmetic = GreyOptions();
  arithmetic.frameMarker = 0xC9;
  save("sof9", Build(8, 8, 1, arithmetic));
  JpegBuildOptions many = ColourOptions(2, 2);
  many.scans = {{0}, {1}, {2}};
  save("three_scans", Build(16, 16, 3, many));
  WriteProgressiveSeeds(save);
  WriteLenientSeeds(save);
}

// API sessions over small progressive files: open one from the input in
// extended mode, read lines, seek back, read again, close.
void WriteApiProgressiveSeeds(const fs::path& dir) {
  fs::create_directories(dir);
  int n = 0;
  for (const Script& script : kScripts) {
    for (int channels : {1, 3}) {
      JpegBuildOptions options = channels == 1 ? GreyOptions() : ColourOptions(1, 1);
      options.jfif = false;
      options.quality = 30;
      options.progressiveScans = script.make(channels);
      Bytes jpeg = Build(8, 8, channels, options, 5);
      if (jpeg.size() > 256) continue;  // the target reads at most 256 bytes of a file
      Bytes session = {0, 1, static_cast<uint8_t>(jpeg.size() - 1)};
      session.insert(session.end(), jpeg.begin(), jpeg.end());
      session.push_back(1);  // extended reading
      const Bytes steps[] = {{4, 0, 4}, {4, 0, 4}, {6, 0, 0, 0, 0, 2}, {4, 0, 3}, {3, 0}};
      for (const Bytes& step : steps) session.insert(session.end(), step.begin(), step.end());
      Save(dir / ("prog_" + std::to_string(n++) + "_" + script.name), session);
    }
  }
}

// Fixed pseudo-random blobs: the write and API targets parse their input.
void WriteBlobSeeds(const fs::path& dir, int count, std::size_t size, uint32_t seed) {
  fs::create_directories(dir);
  for (int i = 0; i < count; ++i) {
    Bytes blob(size + static_cast<std::size_t>(i) * 7);
    for (auto& b : blob) {
      seed = seed * 1664525u + 1013904223u;
      b = static_cast<uint8_t>(seed >> 24);
    }
    Save(dir / ("blob_" + std::to_string(i)), blob);
  }
}

// ---- Malformed corpus ----------------------------------------------------

class Corpus {
 public:
  explicit Corpus(fs::path dir) : dir_(std::move(dir)) {
    fs::create_directories(dir_);
    manifest_.open(dir_ / "manifest.txt");
    manifest_ << "# name open [lines=N] [line:code ...] [later=any] [mode=extended]  (generated "
                 "by fuzz/corpus_generator)\n";
  }
  void Add(const std::string& name, const Bytes& bytes, int open, const std::string& rest = "") {
    Save(dir_ / (name + ".jpg"), bytes);
    manifest_ << name << ".jpg " << open << (rest.empty() ? "" : " ") << rest << "\n";
  }
  // A file read with IFF_MODE_EXTENDED.
  void AddExtended(const std::string& name, const Bytes& bytes, int open,
                   const std::string& rest = "") {
    Add(name, bytes, open, rest.empty() ? "mode=extended" : rest + " mode=extended");
  }

 private:
  fs::path dir_;
  std::ofstream manifest_;
};

Bytes PatchByte(Bytes jpeg, std::size_t at, uint8_t value) {
  jpeg.at(at) = value;
  return jpeg;
}

void WriteHeaderRefusals(Corpus& c) {
  const JpegBuildOptions grey = GreyOptions();
  const Bytes g = Build(16, 16, 1, grey);
  const Bytes colour = Build(16, 16, 3, ColourOptions(1, 1));
  const std::size_t sof = PayloadOf(g, 0xC0);
  const std::size_t sos = PayloadOf(g, 0xDA);
  const std::size_t dht = PayloadOf(g, 0xC4);

  c.Add("empty_file", {}, -7);
  c.Add("no_soi", PatchByte(g, 1, 0xD9), -7);
  c.Add("soi_after_fill_byte", InsertAt(g, 0, {0xFF}), -7);
  c.Add("soi_after_junk_byte", InsertAt(g, 0, {0x00}), -7);
  c.Add("second_soi_before_frame", InsertBefore(g, 0xDB, {0xFF, 0xD8}), -7);
  c.Add("eoi_before_frame", InsertBefore(g, 0xC0, {0xFF, 0xD9}), -7);
  c.Add("sos_before_frame", InsertBefore(g, 0xC0, Segment(0xDA, {1, 1, 0, 0, 63, 0})), -7);
  c.Add("second_frame_before_scan",
        InsertBefore(g, 0xDA, Segment(0xC0, {8, 0, 16, 0, 16, 1, 1, 0x11, 0})), -7);

  for (int marker : {0xC2, 0xC3, 0xC5, 0xCA}) {
    JpegBuildOptions o = grey;
    o.frameMarker = marker;
    char name[32];
    std::snprintf(name, sizeof name, "sof_%02x_refused", marker);
    c.Add(name, Build(16, 16, 1, o), -7);
  }
  JpegBuildOptions sof9 = grey;
  sof9.frameMarker = 0xC9;
  c.Add("sof9_arithmetic", Build(16, 16, 1, sof9), -4);

  c.Add("dht_class_2", PatchByte(g, dht, 0x20), -7);
  c.Add("dht_table_4", PatchByte(g, dht, 0x04), -7);
  // Table byte, 16 counts (lengths 1..16), then the symbols.
  auto table = [](uint8_t tcTh, std::vector<std::pair<int, int>> counts, std::size_t symbols) {
    Bytes t(17, 0);
    t[0] = tcTh;
    for (auto [length, count] : counts)
      t[static_cast<std::size_t>(length)] = static_cast<uint8_t>(count);
    for (std::size_t i = 0; i < symbols; ++i) t.push_back(static_cast<uint8_t>(i));
    return t;
  };
  c.Add("dht_counts_over_256",
        InsertBefore(g, 0xDA, Segment(0xC4, table(0x11, {{15, 2}, {16, 255}}, 257))), -7);
  c.Add("dht_counts_beyond_segment", InsertBefore(g, 0xDA, Segment(0xC4, table(0x01, {{3, 6}}, 5))),
        -7);
  c.Add("dht_codes_overflow_lengths",
        InsertBefore(g, 0xDA, Segment(0xC4, table(0x01, {{1, 3}}, 3))), -7);
  c.Add("dht_two_tables_in_one_segment_accepted",
        InsertBefore(g, 0xDA,
                     Segment(0xC4,
                             [&] {
                               Bytes two = table(0x02, {{2, 3}}, 3);
                               Bytes ac = table(0x13, {{1, 1}, {2, 2}}, 3);
                               two.insert(two.end(), ac.begin(), ac.end());
                               return two;
                             }())),
        0);
  c.Add("dac_index_32", InsertBefore(g, 0xC0, Segment(0xCC, {0x20, 0x05})), -7);
  c.Add("dac_lower_above_upper", InsertBefore(g, 0xC0, Segment(0xCC, {0x00, 0x12})), -7);
  c.Add("dac_valid_is_ignored", InsertBefore(g, 0xC0, Segment(0xCC, {0x00, 0x21, 0x1F, 0x3F})), 0);
  c.Add("dqt_table_4", PatchByte(g, PayloadOf(g, 0xDB), 0x04), -7);
  c.Add("dri_length_5", InsertBefore(g, 0xDA, Segment(0xDD, {0, 1, 0})), -7);
  c.Add("dri_length_3", InsertBefore(g, 0xDA, Segment(0xDD, {0})), -7);

  JpegBuildOptions jfif2 = grey;
  jfif2.jfifMajor = 2;
  c.Add("jfif_major_2", Build(16, 16, 1, jfif2), -7);
  JpegBuildOptions jfif12 = grey;
  jfif12.jfifMinor = 2;
  c.Add("jfif_1_2_accepted", Build(16, 16, 1, jfif12), 0);

  c.Add("sos_length_too_long", PatchByte(g, sos - 1, static_cast<uint8_t>(g[sos - 1] + 1)), -7);
  JpegBuildOptions empty = grey;
  empty.scans = {{}};
  c.Add("sos_zero_components", Build(16, 16, 1, empty), -7);
  c.Add("sos_five_components", ReplaceScanHeader(g, {5, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 0, 63, 0}),
        -7);
  c.Add("sos_unknown_selector", PatchByte(g, sos + 1, 9), -7);
  c.Add("sos_component_twice", ReplaceScanHeader(colour, {3, 1, 0x00, 1, 0x11, 3, 0x11, 0, 63, 0}),
        -7);
  c.Add("sos_dc_table_4", PatchByte(g, sos + 2, 0x40), -7);
  c.Add("sos_ac_table_4", PatchByte(g, sos + 2, 0x04), -7);

  JpegBuildOptions twelve = grey;
  twelve.dataPrecision = 12;
  c.Add("precision_12", Build(16, 16, 1, twelve), -7);
  c.Add("height_0", PatchByte(PatchByte(g, sof + 1, 0), sof + 2, 0), -7);
  c.Add("width_0", PatchByte(PatchByte(g, sof + 3, 0), sof + 4, 0), -7);
  c.Add("sampling_factor_0", PatchByte(g, sof + 7, 0x01), -7);
  c.Add("sampling_factor_5", PatchByte(g, sof + 7, 0x51), -7);
  const std::size_t csof = PayloadOf(colour, 0xC0);
  c.Add("factors_not_dividing", PatchByte(PatchByte(colour, csof + 7, 0x31), csof + 10, 0x21), -7);
  c.Add("quant_table_4", PatchByte(g, sof + 8, 4), -7);
  c.Add("quant_table_undefined", PatchByte(g, sof + 8, 2), -7);

  c.Add("frame_then_eoi",
        InsertAt(Truncate(g, FindMarker(g, 0xDA)), FindMarker(g, 0xDA), {0xFF, 0xD9}), -7);
  c.Add("frame_then_end_of_file", Truncate(g, static_cast<std::size_t>(FindMarker(g, 0xDA))), -7);

  JpegBuildOptions ids145 = ColourOptions(1, 1);
  ids145.jfif = false;
  ids145.components[1].id = 4;
  ids145.components[2].id = 5;
  c.Add("colour_ids_1_4_5_without_jfif", Build(16, 16, 3, ids145), -7);
  ids145.jfif = true;
  c.Add("colour_ids_1_4_5_with_jfif", Build(16, 16, 3, ids145), 0);
  JpegBuildOptions two = grey;
  two.components = {BuilderComponent{1, 1, 1, 0, 0, 0}, BuilderComponent{2, 1, 1, 1, 1, 1}};
  c.Add("two_components", Build(16, 16, 3, two), -2);
  JpegBuildOptions four = ColourOptions(1, 1);
  four.components.push_back(BuilderComponent{4, 1, 1, 1, 1, 1});
  c.Add("four_components", Build(16, 16, 3, four), -7);
  c.Add("missing_huffman_table", PatchByte(g, sos + 2, 0x11), -2);
  c.Add("twelve_blocks_per_mcu", Build(16, 16, 3, ColourOptions(2, 2, 2, 2)), -2);
}

// The line whose call decodes MCU row r: a band's lines are handed over
// only once the band below it has been decoded (its context), so the first
// call decodes rows 0 and 1 and the call for line (r - 1) x mcuHeight decodes
// row r. A code recorded while row r is decoded belongs to that line.
std::string LineDecoding(int row, int mcuHeight) {
  return std::to_string(row == 0 ? 0 : (row - 1) * mcuHeight);
}

// Truncations and broken restart sequences, with restart intervals of one
// MCU row so that each row's data is known exactly.
void WriteDataFaults(Corpus& c) {
  JpegBuildOptions grey = GreyOptions();
  const Bytes whole = Build(32, 40, 1, grey, 3);  // 5 MCU rows of 8 lines
  const std::size_t data = ScanDataStart(whole);
  c.Add("cut_in_dqt", Truncate(whole, PayloadOf(whole, 0xDB) + 20), -7);
  c.Add("cut_in_frame_header", Truncate(whole, PayloadOf(whole, 0xC0) + 3), -7);
  c.Add("cut_in_scan_header", Truncate(whole, PayloadOf(whole, 0xDA) + 1), -7);
  c.Add("cut_at_scan_data", Truncate(whole, data), 0, "0:10");
  c.Add("cut_in_first_row", Truncate(whole, data + 3), 0, "0:10");
  c.Add("cut_in_last_row", Truncate(whole, whole.size() - 6), 0);
  c.Add("eoi_missing", Truncate(whole, whole.size() - 2), 0);

  JpegBuildOptions rows = GreyOptions();
  rows.restartInterval = 4;  // 32 pixels: one MCU row per interval
  const Bytes restart = Build(32, 40, 1, rows, 4);
  std::vector<std::size_t> rst = RestartMarkers(restart);
  if (rst.size() != 4) throw std::runtime_error("expected four restart markers");
  c.Add("restart_intact", restart, 0);
  c.Add("restart_cut_in_row_2", Truncate(restart, (rst[1] + 2 + rst[2]) / 2), 0,
        LineDecoding(2, 8) + ":10 later=any");
  c.Add("restart_cut_after_marker_3", Truncate(restart, rst[2] + 2), 0,
        LineDecoding(3, 8) + ":10 later=any");
  JpegBuildOptions shifted = rows;
  for (int k = 0; k < 4; ++k) shifted.restartMarkerOverride[k] = 0xD0 + (k + 3) % 8;
  c.Add("restart_numbers_shifted", Build(32, 40, 1, shifted, 4), 0, LineDecoding(1, 8) + ":10");
  JpegBuildOptions other = rows;
  other.restartMarkerOverride[1] = 0xC8;
  c.Add("restart_replaced_by_other_marker", Build(32, 40, 1, other, 4), 0,
        LineDecoding(2, 8) + ":10 later=any");

  // A legitimate header for a huge frame over a few bytes of data: memory
  // follows the width only; the first lines report the missing data.
  Bytes huge = Build(16, 16, 1, grey);
  std::size_t sof = PayloadOf(huge, 0xC0);
  for (int i = 1; i <= 4; ++i) huge[sof + i] = 0xFF;
  c.Add("huge_frame_little_data", Truncate(huge, ScanDataStart(huge) + 8), 0, "lines=9 0:10");
}

// Offset just past the data of the scan whose header is the k-th SOS
// (0-based): the next marker that is not RSTn.
std::size_t ScanEnd(const Bytes& jpeg, int k) {
  std::vector<JpegSegment> segments = ListSegments(jpeg);
  int seen = -1;
  for (std::size_t i = 0; i < segments.size(); ++i) {
    if (segments[i].marker != 0xDA || ++seen != k) continue;
    std::size_t j = i + 1;
    while (j < segments.size() && (segments[j].marker & 0xF8) == 0xD0) ++j;
    if (j < segments.size()) return segments[j].offset;
  }
  throw std::runtime_error("scan not found");
}

// Progressive and whole-image faults, read in extended mode. A first scan
// header outside T.81 G.1.1.1.1 is refused at open; a later scan that
// cannot be decoded (damaged header, undefined table, lost data) ends the
// decoding there, and the first line of the first MCU row it failed to
// reach gives 10, once.
void WriteProgressiveFaults(Corpus& c) {
  const Image grey = MakeTestImage(32, 40, 1, 3);  // 5 MCU rows of 8 lines
  auto build = [&](const std::vector<ProgressiveScan>& scans, int restart = 0) {
    JpegBuildOptions o = GreyOptions();
    o.progressiveScans = scans;
    o.restartInterval = restart;
    return BuildJpeg(grey, o);
  };
  const std::vector<ProgressiveScan> approx = SuccessiveApproximationScript(1);
  const Bytes whole = build(approx);
  c.AddExtended("prog_intact", whole, 0);
  c.Add("prog_default_mode_refused", whole, -7);
  c.AddExtended("prog_cut_at_first_scan_data", Truncate(whole, ScanDataStart(whole)), 0, "0:10");
  c.AddExtended("prog_cut_between_scans", Truncate(whole, ScanEnd(whole, 2)), 0, "0:10");
  c.AddExtended("prog_cut_in_segment_between_scans", Truncate(whole, ScanEnd(whole, 2) + 7), 0,
                "0:10");
  c.AddExtended("prog_eoi_missing", Truncate(whole, whole.size() - 2), 0);
  c.AddExtended("prog_cut_after_last_scan_in_eoi", Truncate(whole, whole.size() - 1), 0);

  // Restart intervals of one MCU row: the last scan (Y AC 1->0) cut after
  // its k-th restart marker leaves MCU row k + 1 unreached.
  const Bytes rows = build(approx, 4);
  std::vector<std::size_t> rst;
  const std::size_t lastScan = static_cast<std::size_t>(FindMarker(rows, 0xDA, ScanEnd(rows, 4)));
  for (std::size_t i = lastScan + 2; i + 1 < rows.size(); ++i) {
    if (rows[i] == 0xFF && rows[i + 1] >= 0xD0 && rows[i + 1] <= 0xD7) rst.push_back(i);
  }
  if (rst.size() != 4) throw std::runtime_error("expected four restart markers in the last scan");
  c.AddExtended("prog_cut_after_restart_2_of_last_scan", Truncate(rows, rst[1] + 2), 0, "16:10");
  c.AddExtended("prog_cut_in_row_4_of_last_scan", Truncate(rows, rst[3] + 3), 0, "32:10");

  // The first scan header: Ss, Se, Ah, Al and the components it holds.
  struct FirstScan {
    const char* name;
    ProgressiveScan scan;
  };
  const FirstScan firsts[] = {
      {"prog_first_scan_ss_above_se", {{0}, 6, 5, 0, 0}},
      {"prog_first_scan_se_64", {{0}, 1, 64, 0, 0}},
      {"prog_first_scan_al_14", {{0}, 0, 0, 0, 14}},
      {"prog_first_scan_ah_14", {{0}, 1, 5, 14, 13}},
      {"prog_first_scan_dc_and_ac", {{0}, 0, 5, 0, 0}},
      {"prog_first_scan_refines_never_coded_dc", {{0}, 0, 0, 1, 0}},
      {"prog_first_scan_refines_never_coded_ac", {{0}, 1, 63, 2, 1}},
  };
  for (const FirstScan& f : firsts) {
    std::vector<ProgressiveScan> scans = approx;
    scans.insert(scans.begin(), f.scan);
    c.AddExtended(f.name, build(scans), -7);
  }
  const Image colour = MakeTestImage(32, 32, 3, 4);
  JpegBuildOptions ycc = ColourOptions(2, 2);
  ycc.progressiveScans = SuccessiveApproximationScript(3);
  ycc.progressiveScans.insert(ycc.progressiveScans.begin(), ProgressiveScan{{0, 1}, 1, 63, 0, 0});
  c.AddExtended("prog_first_scan_ac_two_components", BuildJpeg(colour, ycc), -7);

  // Later scan headers: decoding ends at the scan.
  struct LaterScan {
    const char* name;
    std::vector<ProgressiveScan> scans;
  };
  const LaterScan laters[] = {
      {"prog_later_scan_refines_never_coded",
       {{{0}, 0, 0, 0, 0}, {{0}, 1, 5, 0, 1}, {{0}, 6, 63, 1, 0}}},
      {"prog_later_scan_refines_from_wrong_bit",
       {{{0}, 0, 0, 0, 1}, {{0}, 1, 63, 0, 2}, {{0}, 1, 63, 1, 0}}},
      {"prog_later_scan_al_not_ah_minus_1",
       {{{0}, 0, 0, 0, 0}, {{0}, 1, 63, 0, 3}, {{0}, 1, 63, 3, 1}}},
      {"prog_later_scan_se_64", {{{0}, 0, 0, 0, 0}, {{0}, 1, 64, 0, 0}}},
  };
  for (const LaterScan& l : laters) c.AddExtended(l.name, build(l.scans), 0, "0:10");
  JpegBuildOptions later = ColourOptions(2, 2);
  later.progressiveScans = {{{0, 1, 2}, 0, 0, 0, 0}, {{1, 2}, 1, 63, 0, 0}};
  c.AddExtended("prog_later_scan_ac_two_components", BuildJpeg(colour, later), 0, "0:10");
  // A later scan's AC table slot never defined: its DHT is dropped. Extended
  // reading stands the Annex K table in; the scan's data, coded with
  // another table, decode until they break, where the 10 is reported.
  {
    const std::size_t second = static_cast<std::size_t>(FindMarker(whole, 0xDA, ScanEnd(whole, 0)));
    long dht = FindMarker(whole, 0xC4, ScanEnd(whole, 0));
    if (dht < 0 || static_cast<std::size_t>(dht) > second) throw std::runtime_error("no DHT");
    Bytes noTable = whole;
    noTable.erase(noTable.begin() + dht, noTable.begin() + static_cast<long>(second));
    c.AddExtended("prog_later_scan_table_undefined", noTable, 0, "32:10");
  }

  // More than 1,000 scans: a DC first scan of one block, then 1,000 DC
  // refinements of one zero bit each; the image of the first 1,000.
  {
    JpegBuildOptions o = GreyOptions();
    o.progressiveScans = {{{0}, 0, 0, 0, 1}};
    o.writeEoi = false;
    Bytes many = BuildJpeg(MakeTestImage(8, 8, 1, 1), o);
    for (int i = 0; i < 1000; ++i) {
      AppendSegment(many, 0xDA, {1, 1, 0x00, 0, 0, 0x10});
      many.push_back(0x00);
    }
    many.insert(many.end(), {0xFF, 0xD9});
    c.AddExtended("prog_1001_scans", many, 0, "0:10");
  }

  JpegBuildOptions twelve = GreyOptions();
  twelve.dataPrecision = 12;
  twelve.progressiveScans = approx;
  c.AddExtended("prog_precision_12", BuildJpeg(grey, twelve), -7);
  JpegBuildOptions arithmetic = GreyOptions();
  arithmetic.frameMarker = 0xCA;
  c.AddExtended("prog_sof10_arithmetic", BuildJpeg(grey, arithmetic), -7);
  arithmetic.frameMarker = 0xC9;
  c.AddExtended("sof9_arithmetic_extended", BuildJpeg(grey, arithmetic), -4);
  c.AddExtended(
      "four_components_adobe_cmyk",
      [] {
        JpegBuildOptions o = ColourOptions(1, 1);
        o.components.push_back(BuilderComponent{4, 1, 1, 0, 0, 0});
        o.jfif = false;
        o.extraSegments = {AdobeSegment(0)};
        o.progressiveScans = SuccessiveApproximationScript(4);
        return BuildJpeg(MakeTestImage(16, 16, 3, 2), o);
      }(),
      0);

  // Huge frames over a few bytes of data. 65535 x 65535 needs more than
  // the default whole-image limits hold (64 MiB in memory, 4 GiB stored):
  // 5 at the first line, before anything is stored. 4096 x 4096 fits in
  // memory: the first scan runs out in MCU row 0.
  auto huge = [&](int size) {
    Bytes jpeg = Truncate(whole, ScanDataStart(whole) + 8);
    std::size_t sof = PayloadOf(jpeg, 0xC2);
    for (int i : {1, 3}) {
      jpeg[sof + i] = static_cast<uint8_t>(size >> 8);
      jpeg[sof + i + 1] = static_cast<uint8_t>(size);
    }
    return jpeg;
  };
  c.AddExtended("prog_huge_frame_beyond_limits", huge(65535), 0, "lines=2 0:5 1:5");
  c.AddExtended("prog_huge_frame_little_data", huge(4096), 0, "lines=9 0:10");
  // A multi-scan sequential frame read whole, in extended mode: the data end
  // before the last component's scan.
  JpegBuildOptions split = ColourOptions(2, 2);
  split.scans = {{0}, {1}, {2}};
  const Bytes three = BuildJpeg(colour, split);
  c.AddExtended("multiscan_cut_before_last_scan", Truncate(three, ScanEnd(three, 1)), 0, "0:10");
  c.AddExtended("multiscan_eoi_missing", Truncate(three, three.size() - 2), 0);
  // Two intervals garbled (and the marker between): passed over and
  // concealed, 10 on the line where the marker out of sequence was met.
  JpegBuildOptions each = ColourOptions(2, 2);
  each.restartInterval = 1;  // four MCUs in the 32 x 32 image of 4:2:0
  const Bytes byMcu = BuildJpeg(colour, each);
  const std::vector<std::size_t> marks = AllRestartMarkers(byMcu);
  c.AddExtended("intervals_garbled_concealed", Garble(byMcu, marks[0] + 2, marks[2]), 0, "0:10");
  split.restartInterval = 2;
  const Bytes splitRst = BuildJpeg(colour, split);
  const std::vector<std::size_t> at = AllRestartMarkers(splitRst);
  c.AddExtended("multiscan_garbled_concealed", Garble(splitRst, at[1] + 2, at[3]), 0, "8:10");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s seeds|malformed DIR\n", argv[0]);
    return 2;
  }
  fs::path dir = argv[2];
  std::string what = argv[1];
  if (what == "seeds") {
    WriteReadSeeds(dir / "read");
    WriteBlobSeeds(dir / "write", 24, 24, 7);
    WriteBlobSeeds(dir / "api", 24, 48, 11);
    WriteApiProgressiveSeeds(dir / "api");
  } else if (what == "malformed") {
    Corpus corpus(dir);
    WriteHeaderRefusals(corpus);
    WriteDataFaults(corpus);
    WriteProgressiveFaults(corpus);
  } else {
    std::fprintf(stderr, "unknown corpus %s\n", argv[1]);
    return 2;
  }
  return 0;
}
