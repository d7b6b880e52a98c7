#include "status.h"

#include <cstdio>

#include "iffjpeg.h"

namespace iffjpeg_cli {

const char* DriverCodeMeaning(int32_t code) {
  switch (code) {
    case IFF_OK:
      return "success";
    case IFF_ERR_INVALID:
      return "invalid parameter";
    case IFF_ERR_UNSUPPORTED:
      return "unsupported request";
    case IFF_ERR_VARIANT:
      return "unsupported JPEG variant (arithmetic coding or unknown density unit)";
    case IFF_ERR_MEMORY:
      return "out of memory";
    case IFF_ERR_BAD_DATA:
      return "malformed or unsupported JPEG data";
    case IFF_ERR_OPEN:
      return "cannot open the file";
    case IFF_ERR_CLOSE:
      return "cannot close the file";
    case IFF_ERR_DATA_ENDED:
      return "compressed data ended early or lost its restart sequence";
    case IFF_ERR_WRITE:
      return "cannot write the file (disk full?)";
    default:
      return "unknown error";
  }
}

Status Status::Driver(int32_t code) { return Driver(code, ""); }

Status Status::Driver(int32_t code, const std::string& reason) {
  std::string what = reason.empty() ? DriverCodeMeaning(code) : reason;
  return Status(what + " (code " + std::to_string(code) + ")", code);
}

void Report(const std::string& file, const std::string& message) {
  std::fprintf(stderr, "iffjpeg: %s: %s\n", file.c_str(), message.c_str());
}

}  // namespace iffjpeg_cli
