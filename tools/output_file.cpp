#include "output_file.h"

#include <cerrno>
#include <cstring>
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace iffjpeg_cli {

std::string SystemError() { return std::strerror(errno); }

OutputFile::~OutputFile() {
  if (file_ != nullptr && !stdout_) std::fclose(file_);
  if (!path_.empty() && !committed_) std::remove(path_.c_str());
}

Status OutputFile::Create(const std::string& path) {
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) return Status::Fail("cannot create the file: " + SystemError());
  path_ = path;
  return Status::Ok();
}

Status OutputFile::CreateStdout() {
#if defined(_WIN32)
  _setmode(_fileno(stdout), _O_BINARY);  // no CR inserted before LF bytes
#endif
  file_ = stdout;
  stdout_ = true;
  return Status::Ok();
}

Status OutputFile::Write(const void* data, std::size_t size) {
  if (size != 0 && std::fwrite(data, 1, size, file_) != size) {
    return Status::Fail("cannot write the file: " + SystemError());
  }
  return Status::Ok();
}

Status OutputFile::SeekTo(long offset) {
  if (std::fseek(file_, offset, SEEK_SET) != 0) {
    return Status::Fail("cannot seek in the file: " + SystemError());
  }
  return Status::Ok();
}

Status OutputFile::Commit() {
  std::FILE* f = file_;
  file_ = nullptr;
  bool flushed = std::fflush(f) == 0;
  bool closed = stdout_ || std::fclose(f) == 0;
  if (!flushed || !closed) return Status::Fail("cannot write the file: " + SystemError());
  committed_ = true;
  return Status::Ok();
}

}  // namespace iffjpeg_cli
