// The outcome of one step of the tool: success, or a one-line message
// that the caller prefixes with the file name.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace iffjpeg_cli {

class Status {
 public:
  static Status Ok() { return Status(); }
  static Status Fail(std::string message) { return Status(std::move(message), 0); }
  // A failure reported by the driver: the message carries the code's meaning.
  static Status Driver(int32_t code);
  // The same with the reason told in place of the code's meaning (the
  // meaning when reason is empty).
  static Status Driver(int32_t code, const std::string& reason);

  bool ok() const { return !failed_; }
  const std::string& message() const { return message_; }
  // The driver's result code, 0 when the failure did not come from it.
  int32_t driverCode() const { return driverCode_; }

 private:
  Status() = default;
  Status(std::string message, int32_t code)
      : failed_(true), message_(std::move(message)), driverCode_(code) {}

  bool failed_ = false;
  std::string message_;
  int32_t driverCode_ = 0;
};

// What a driver result code means, in the words the tool prints.
const char* DriverCodeMeaning(int32_t code);

// Prints "iffjpeg: FILE: MESSAGE" on stderr.
void Report(const std::string& file, const std::string& message);

}  // namespace iffjpeg_cli
