// An output file that disappears unless it is completed: a failed run
// leaves no half-written image behind.
#pragma once

#include <cstdio>
#include <string>

#include "status.h"

namespace iffjpeg_cli {

class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  Status Create(const std::string& path);
  // Standard output instead of a file; it stays whatever happens.
  Status CreateStdout();
  Status Write(const void* data, std::size_t size);
  Status SeekTo(long offset);
  // Flushes and closes; the file stays.
  Status Commit();
  std::FILE* file() { return file_; }

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
  bool committed_ = false;
  bool stdout_ = false;
};

// The text of errno, for messages.
std::string SystemError();

}  // namespace iffjpeg_cli
