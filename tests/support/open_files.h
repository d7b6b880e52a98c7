// How many files the process has open (POSIX: descriptors; Windows: the
// library's temporary files): tests compare it before and after to prove
// that backing stores are closed.
#pragma once

namespace iffjpeg_test {

int OpenFileCount();

}  // namespace iffjpeg_test
