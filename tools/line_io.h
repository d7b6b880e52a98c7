// Images as streams of lines: every format the tool reads is a LineSource,
// every format it writes is a LineSink. A line is width x channels bytes of
// interleaved 8-bit samples, channels 1 (grey) or 3 (red, green, blue).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "iffjpeg.h"
#include "status.h"

namespace iffjpeg_cli {

struct ImageShape {
  int32_t width = 0;
  int32_t height = 0;
  int32_t channels = 0;

  std::size_t lineBytes() const { return static_cast<std::size_t>(width) * channels; }
  std::uint64_t pixels() const { return static_cast<std::uint64_t>(width) * height; }
};

struct JpegDetails;

class LineSource {
 public:
  virtual ~LineSource() = default;
  const ImageShape& shape() const { return shape_; }
  // Reads the next line, top to bottom, into line (shape().lineBytes()).
  virtual Status ReadLine(uint8_t* line) = 0;
  // True when the data was damaged but lines were still delivered
  // (the driver's code 10: the rest of the image is made up).
  virtual bool damaged() const { return false; }
  // The JPEG file's description, for sources reading one.
  virtual const JpegDetails* jpeg() const { return nullptr; }

 protected:
  ImageShape shape_;
};

class LineSink {
 public:
  virtual ~LineSink() = default;
  // Writes the next line, top to bottom (shape.lineBytes() of the sink).
  virtual Status WriteLine(const uint8_t* line) = 0;
  // Completes and closes the file; after a failure the file is removed.
  virtual Status Finish() = 0;
};

enum class ImageFormat { kUnknown, kJpeg, kPnm, kPng, kBmp };

// Recognises a file by its first bytes.
ImageFormat SniffFormat(const std::string& path);
// Chooses an output format from a file name's extension (png, ppm, pgm,
// pnm, bmp, jpg, jpeg; any case). channels is set to the channel count the
// extension forces (1 for pgm, 3 for ppm) or 0 when it keeps the source's.
ImageFormat FormatFromExtension(const std::string& path, int32_t* channels);

// How JPEG files are read: with the driver's extended reading (progressive
// files, Adobe colour models; the default), or strictly as the driver reads
// without it (--strict).
enum class JpegReading { kExtended, kStrict };

// IFFOpen's read mode for a way of reading.
int32_t JpegReadMode(JpegReading reading);

// The failure for IFFOpen's negative result on path: a refusal of the
// file's content (2, 4 or 7) names the reason when the file's markers tell
// it (see jpeg_markers.h), any other code keeps its meaning.
// bytes: the file in memory, when it is not read from path.
Status JpegOpenFailure(const std::string& path, int32_t result, JpegReading reading,
                       const std::vector<uint8_t>* bytes = nullptr);

// The name of path in messages ("standard input" for "-").
std::string DisplayName(const std::string& path);

// Reads all of standard input.
Status ReadStandardInput(std::vector<uint8_t>* bytes);

// A JPEG file in memory, as the tool's file callbacks read it.
struct JpegMemoryFile {
  IFFFileOps ops;  // first: the driver hands open this record's address
  const std::vector<uint8_t>* bytes = nullptr;
  std::size_t position = 0;
};

// A read handle on a JPEG file named by path, or held in memory (through
// file callbacks of the tool's own). Closed when the object goes.
class JpegReadHandle {
 public:
  JpegReadHandle() = default;
  JpegReadHandle(const JpegReadHandle&) = delete;
  JpegReadHandle& operator=(const JpegReadHandle&) = delete;
  ~JpegReadHandle();
  // On failure the status names the reason (JpegOpenFailure).
  Status Open(const std::string& path, JpegReading reading, const std::vector<uint8_t>* bytes,
              IFFImageInfo* info);
  int32_t get() const { return handle_; }

 private:
  int32_t handle_ = 0;
  JpegMemoryFile memory_{};
};

// Opens any readable image: JPEG through the driver, PNM natively, PNG and BMP
// through stb_image.
Status OpenImageSource(const std::string& path, JpegReading reading,
                       std::unique_ptr<LineSource>* out);

// What a JPEG source knows beyond its lines.
struct JpegDetails {
  int32_t orientation = 0;  // the EXIF orientation, 1..8; 0: none
  // The metadata items (when asked for at open); empty: none.
  std::vector<uint8_t> icc, exif, xmp;
};

// How a JPEG file is opened beyond its reading.
struct JpegOpenOptions {
  JpegReading reading = JpegReading::kExtended;
  int32_t scale = 1;      // IFF_CTL_SCALE's denominator: 1, 2, 4 or 8
  bool metadata = false;  // read the ICC profile, EXIF and XMP at open
  // The whole file in memory (standard input); the path then only names it.
  const std::vector<uint8_t>* bytes = nullptr;
};

// The individual sources and sinks.
Status OpenJpegSource(const std::string& path, JpegReading reading,
                      std::unique_ptr<LineSource>* out);
Status OpenJpegSource(const std::string& path, const JpegOpenOptions& options,
                      std::unique_ptr<LineSource>* out);
// Wraps source so that its lines come turned and flipped as the EXIF
// orientation (1..8) says; 0 and 1 leave it alone. The whole image is held.
void OrientSource(int32_t orientation, std::unique_ptr<LineSource>* source);
Status OpenPnmSource(const std::string& path, std::unique_ptr<LineSource>* out);
Status OpenStbSource(const std::string& path, std::unique_ptr<LineSource>* out);

struct JpegSettings {
  int32_t quality = 0;  // 0: the driver's default
  int32_t dpiX = 0;     // 0: leave the resolution alone
  int32_t dpiY = 0;
  int32_t subsampling = 0;   // IFF_CTL_SUBSAMPLING's value; 0: the default
  int32_t restart = 0;       // restart interval in MCUs; 0: none
  bool optimize = false;     // Huffman tables built for the image
  bool progressive = false;  // a progressive file
  // Metadata segments; empty: none.
  std::vector<uint8_t> icc, exif, xmp, comment;
};
Status CreateJpegSink(const std::string& path, const ImageShape& shape,
                      const JpegSettings& settings, std::unique_ptr<LineSink>* out);
Status CreatePnmSink(const std::string& path, const ImageShape& shape,
                     std::unique_ptr<LineSink>* out);
// PNM on standard output.
Status CreatePnmStdoutSink(const ImageShape& shape, std::unique_ptr<LineSink>* out);
Status CreateBmpSink(const std::string& path, const ImageShape& shape,
                     std::unique_ptr<LineSink>* out);
Status CreatePngSink(const std::string& path, const ImageShape& shape,
                     std::unique_ptr<LineSink>* out);

// Creates the sink for an output format (not JPEG).
Status CreateImageSink(ImageFormat format, const std::string& path, const ImageShape& shape,
                       std::unique_ptr<LineSink>* out);

// Converts one line between channel counts: grey to RGB repeats the sample,
// RGB to grey takes the luma Y = 0.299 R + 0.587 G + 0.114 B.
void ConvertLine(const uint8_t* in, int32_t inChannels, uint8_t* out, int32_t outChannels,
                 int32_t width);

}  // namespace iffjpeg_cli
