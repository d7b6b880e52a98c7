#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

#include "support/open_files.h"

namespace iffjpeg_test {

// Windows has no portable count of a process's open files (and Wine answers
// GetProcessHandleCount with 0), so count what the open stores leave behind:
// the library's temporary files ("iff*.tmp" in the temporary directory), each
// of which is deleted when its handle closes.
int OpenFileCount() {
  char directory[MAX_PATH + 1];
  DWORD length = ::GetTempPathA(sizeof directory, directory);
  if (length == 0 || length > MAX_PATH) return -1;
  std::string pattern = std::string(directory) + "iff*.tmp";
  WIN32_FIND_DATAA found;
  HANDLE search = ::FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int n = 0;
  do {
    ++n;
  } while (::FindNextFileA(search, &found));
  ::FindClose(search);
  return n;
}

}  // namespace iffjpeg_test
