#include "progress.h"

#include <cstdio>

#if defined(_WIN32)
#include <io.h>
#define IFFJPEG_STDERR_IS_TERMINAL() (_isatty(_fileno(stderr)) != 0)
#else
#include <unistd.h>
#define IFFJPEG_STDERR_IS_TERMINAL() (isatty(STDERR_FILENO) != 0)
#endif

namespace iffjpeg_cli {

Progress::Progress(const std::string& label, std::uint64_t pixels, int32_t lines)
    : label_(label), lines_(lines) {
  enabled_ = pixels > kMinPixels && lines > 0 && IFFJPEG_STDERR_IS_TERMINAL();
}

Progress::~Progress() {
  // Erase the indicator so that later messages start on a clean line.
  if (enabled_ && shown_ >= 0) std::fprintf(stderr, "\r\033[K");
}

void Progress::Step() {
  ++done_;
  if (!enabled_) return;
  int percent = static_cast<int>(static_cast<int64_t>(done_) * 100 / lines_);
  if (percent == shown_) return;
  shown_ = percent;
  std::fprintf(stderr, "\r%s %3d%%", label_.c_str(), percent);
  std::fflush(stderr);
}

}  // namespace iffjpeg_cli
