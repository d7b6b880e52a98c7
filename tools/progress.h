// A percentage on stderr while a large image is processed, shown only when
// stderr is a terminal so that logs and pipes stay clean.
#pragma once

#include <cstdint>
#include <string>

namespace iffjpeg_cli {

class Progress {
 public:
  // Images above this many pixels show progress.
  static constexpr std::uint64_t kMinPixels = 4'000'000;

  Progress(const std::string& label, std::uint64_t pixels, int32_t lines);
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  ~Progress();

  // Call after each line.
  void Step();

 private:
  std::string label_;
  int32_t lines_ = 0;
  int32_t done_ = 0;
  int shown_ = -1;
  bool enabled_ = false;
};

}  // namespace iffjpeg_cli
