#include "support/codec_runs.h"

namespace iffjpeg_test {

ReadRun ReadThrough(MemoryFile& file, int32_t maxLines, int32_t mode) {
  ReadRun run;
  int32_t h = IFFOpen(file.source(), mode | IFF_MODE_CALLBACKS, &run.info);
  if (h <= 0) {
    run.open = h;
    run.fileLeftOpen = file.open;
    return run;
  }
  int32_t lines = maxLines < 0 || maxLines > run.info.height ? run.info.height : maxLines;
  const std::size_t stride = static_cast<std::size_t>(run.info.width) * run.info.planes;
  run.pixels.resize(stride * static_cast<std::size_t>(lines));
  for (int32_t y = 0; y < lines; ++y) {
    run.codes.push_back(IFFGetLine(h, 1, run.pixels.data() + stride * static_cast<std::size_t>(y)));
  }
  run.close = IFFClose(h);
  run.fileLeftOpen = file.open;
  return run;
}

ReadRun ReadBytes(const std::vector<uint8_t>& jpeg, int32_t maxLines) {
  MemoryFile file(jpeg);
  return ReadThrough(file, maxLines);
}

WriteRun WriteThrough(const Image& image, MemoryFile& file, int quality, int32_t option) {
  WriteRun run;
  IFFImageInfo info{};
  info.width = image.width;
  info.height = image.height;
  info.planes = image.channels;
  info.bitsPerSample = 8;
  int32_t h = IFFOpen(file.source(), IFF_MODE_WRITE | IFF_MODE_CALLBACKS, &info);
  if (h <= 0) {
    run.open = h;
    run.fileLeftOpen = file.open;
    return run;
  }
  if (quality != 75) run.quality = IFFControl(h, IFF_CTL_QUALITY, quality, 0, nullptr);
  if (option != 0) IFFControl(h, option, 1, 0, nullptr);
  for (int y = 0; y < image.height; ++y) {
    int32_t rc = IFFPutLine(h, 1, image.row(y));
    run.codes.push_back(rc);
    run.writesAfter.push_back(file.writeCalls);
    if (rc == 0) continue;
    rc = IFFPutLine(h, 1, image.row(y));
    run.codes.push_back(rc);
    run.writesAfter.push_back(file.writeCalls);
    if (rc != 0) break;
  }
  run.close = IFFClose(h);
  run.fileLeftOpen = file.open;
  return run;
}

Image MakeNoiseImage(int width, int height, int channels, uint32_t seed) {
  Image img;
  img.width = width;
  img.height = height;
  img.channels = channels;
  img.pixels.resize(static_cast<std::size_t>(width) * height * channels);
  uint32_t state = seed * 2654435761u + 1u;
  for (auto& sample : img.pixels) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    sample = static_cast<uint8_t>(state >> 11);
  }
  return img;
}

}  // namespace iffjpeg_test
