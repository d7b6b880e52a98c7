# Shared part of the mingw-w64 cross toolchains (Debian packages
# g++-mingw-w64-i686 and g++-mingw-w64-x86-64). The including file sets
# CMAKE_SYSTEM_PROCESSOR and IFFJPEG_MINGW_TRIPLE first.
#
# The "-posix" compilers are used: their libstdc++ has std::mutex and
# std::thread, which the test suite needs. Their thread support library
# (winpthread) is linked statically like libgcc and libstdc++, so the DLL
# imports nothing but Windows system DLLs.
set(CMAKE_SYSTEM_NAME Windows)

set(_triple ${IFFJPEG_MINGW_TRIPLE})
find_program(CMAKE_C_COMPILER NAMES ${_triple}-gcc-posix ${_triple}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${_triple}-g++-posix ${_triple}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${_triple}-windres)
find_program(CMAKE_OBJDUMP NAMES ${_triple}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Header-only packages of the build machine (stb) stay reachable.
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)

# -static makes the linker take the archive of every runtime library
# (libgcc, libstdc++, libwinpthread) instead of its DLL.
set(_static_runtime "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_static_runtime}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_static_runtime}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_static_runtime}")
# Release DLLs ship without their symbol tables.
set(CMAKE_SHARED_LINKER_FLAGS_RELEASE_INIT "-s")

# Test programs run under Wine when it is installed (wine64 on a 64-bit
# build machine; 32-bit programs need a kernel and Wine that can run them).
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  find_program(IFFJPEG_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
  if(IFFJPEG_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${IFFJPEG_WINE})
  endif()
endif()
