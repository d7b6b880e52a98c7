// A small, test-only JPEG stream builder with its own straightforward
// encoder (floating-point DCT, standard Annex K Huffman tables), so the
// reader can be tested on every layout T.81 allows for sequential Huffman
// files, independently of the library's own writer.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "support/images.h"

namespace iffjpeg_test {

// Table numbers choose the slot written and used: slot n holds the Annex K
// luminance tables when n is even and the chrominance ones when n is odd.
// Sampling factors and table numbers are written as given (refusal tests).
struct BuilderComponent {
  int id = 1;
  int h = 1;  // sampling factors 1..4
  int v = 1;
  int quantTable = 0;
  int dcTable = 0;
  int acTable = 0;
};

// One scan of a progressive frame (T.81 G.1.1.1.1): frame-component indices
// and the band Ss..Se of zigzag positions, with the successive-approximation
// bit positions Ah (0 on a first scan) and Al. Written as given; coding
// clamps Ss and Se to 0..63.
struct ProgressiveScan {
  std::vector<int> components;
  int ss = 0, se = 0, ah = 0, al = 0;
};

struct JpegBuildOptions {
  // Frame components. Empty: one 1x1 component for a grey image, YCbCr
  // 2x2,1x1,1x1 (ids 1, 2, 3) for a colour image.
  std::vector<BuilderComponent> components;
  // Scales the Annex K quantization tables as the library's writer does;
  // values are then held to 1..255 (8-bit DQT) or 1..32767 (16-bit DQT).
  int quality = 75;
  int frameMarker = 0xC0;        // SOF0; 0xC1 SOF1; others for refusal tests
  int dataPrecision = 8;         // written as is (the pixels are still 8-bit)
  bool sixteenBitQuant = false;  // DQT with Pq = 1
  int restartInterval = 0;       // MCUs per interval, 0 = no DRI
  // The k-th restart marker written (0-based, counted over the whole file,
  // all scans) uses this marker code instead of RSTn: to write wrong numbers
  // or other markers. The RSTn numbering itself restarts at 0 in every scan.
  std::map<int, int> restartMarkerOverride;
  bool jfif = true;
  int jfifMajor = 1;
  int jfifMinor = 1;
  uint8_t densityUnit = 0;
  uint16_t xDensity = 1;
  uint16_t yDensity = 1;
  // All DQT tables in one segment, and each scan's new DHT tables in one.
  bool tablesInOneSegment = false;
  // Two extra 0xFF bytes before every marker code except the leading SOI
  // (RSTn and EOI included); extraSegments are copied untouched.
  bool fillBytes = false;
  // Raw bytes inserted after the JFIF segment, or after SOI without one
  // (whole segments, marker included: COM, APPn, DRI, ...).
  std::vector<std::vector<uint8_t>> extraSegments;
  // Scans as lists of frame-component indices. Empty: one interleaved scan
  // of every component. Tables not yet written are written before the scan
  // that first needs them. An empty list writes a scan header with Ns = 0 and
  // no data (refusal tests).
  std::vector<std::vector<int>> scans;
  // Per-scan restart intervals (scan index -> MCUs per interval, 0 = none);
  // scans without an entry use restartInterval. A DRI segment is written
  // before a scan whenever its interval differs from the one in force.
  std::map<int, int> scanRestartInterval;
  // Progressive coding: when not empty, the frame is SOF2 (unless frameMarker
  // names another code than SOF0) and these scans replace `scans`; every
  // scan writes its own Huffman tables, built from its symbol counts (T.81
  // K.2), right before it. The coefficients are those of the sequential file
  // built from the same options without this list; scanRestartInterval
  // indexes these scans.
  std::vector<ProgressiveScan> progressiveScans;
  bool convertToYcc = true;  // 3 components: RGB -> YCbCr (JFIF) before coding
  bool writeEoi = true;
};

// Default options for a grey image with the given sampling factors.
JpegBuildOptions GreyOptions(int h = 1, int v = 1);
// Default options for a colour image with Y (yh x yv) and both chroma
// components (ch x cv).
JpegBuildOptions ColourOptions(int yh, int yv, int ch = 1, int cv = 1);

// Encodes image (1 or 3 channels; the channel count must match the component
// count, except that a 1-channel image may not be used for 3 components).
// Other component counts (refusal tests) take channel c for component c, or
// channel 0 where the image has fewer channels. Coding stops with an
// exception when a scan names a component index outside the frame.
std::vector<uint8_t> BuildJpeg(const Image& image, const JpegBuildOptions& options);

// Ready-made progressive scan scripts for a frame of `components` components
// (1 = grey, 3 = YCbCr; any count works).
// DC of every component in one scan, then each component's AC in two bands
// (1-5, 6-63); no successive approximation.
std::vector<ProgressiveScan> BandSelectionScript(int components);
// The usual ten-scan script for colour (DC first Al=1 interleaved, Y AC 1-5
// Al=2, chroma AC 1-63 Al=1, Y AC 6-63 Al=2, Y AC 1-63 2->1, DC refinement,
// chroma AC refinements, Y AC 1->0); the same shape for other counts.
std::vector<ProgressiveScan> SuccessiveApproximationScript(int components);
// Each component's DC in its own scans (first Al=1, then its refinement),
// with AC 1-63 in full per component.
std::vector<ProgressiveScan> SingleComponentDcScript(int components);
// DC interleaved, then ten narrow AC bands per component (1-2, 3-5, 6-9, ...).
std::vector<ProgressiveScan> NarrowBandsScript(int components);
// Successive approximation from point transform al down to 0 for DC (all
// components together) and for AC 1-63 (per component), one bit per scan.
std::vector<ProgressiveScan> DeepApproximationScript(int components, int al);

// One marker of a stream as ListSegments finds it.
struct JpegSegment {
  int marker = 0;                // the code byte
  std::size_t offset = 0;        // offset of the 0xFF right before the code byte
  std::vector<uint8_t> payload;  // content after the length; empty for
                                 // SOI, EOI, RSTn and TEM
};

// Walks a stream from SOI: every marker with its content, skipping fill
// bytes and entropy-coded data (restart markers inside the data are listed).
// Stops after EOI, at the end of the data, or at a length that runs past it.
std::vector<JpegSegment> ListSegments(const std::vector<uint8_t>& jpeg);

// Appends one segment: 0xFF, marker, big-endian length (payload + 2), payload.
void AppendSegment(std::vector<uint8_t>& out, int marker, const std::vector<uint8_t>& payload);

// Byte offset of the first occurrence of marker (0xFF then code) at or after
// from; -1 when there is none. Does not look inside entropy-coded data any
// more cleverly than a byte search.
long FindMarker(const std::vector<uint8_t>& jpeg, int code, std::size_t from = 0);

}  // namespace iffjpeg_test
