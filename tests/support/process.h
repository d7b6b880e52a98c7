// Running another program from a test: its exit status and everything it
// printed.
#pragma once

#include <string>
#include <vector>

namespace iffjpeg_test {

struct ProcessResult {
  int exitStatus = -1;  // -1 when it could not run or was killed by a signal
  std::string out;
  std::string err;
};

// Runs argv[0] (searched on PATH) with the arguments, stdin from /dev/null
// or from the file stdinPath. extraEnv holds "NAME=value" entries added to
// the environment.
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& extraEnv = {},
                         const std::string& stdinPath = "");

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes away.
class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace iffjpeg_test
