#!/usr/bin/env bash
# Builds the shared library alone once with link-time optimisation and ODR
# warnings as errors (g++), so that two different definitions of one name
# (say, two enums of the same name in two headers) fail the test run.
# Usage: scripts/odr-check.sh [SOURCE_DIR [BUILD_DIR]]
set -euo pipefail
cd "$(dirname "$0")/.."
src="${1:-.}"
build="${2:-build/lto}"
flags="-flto=auto -Wodr -Werror"
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++ \
  -DIFFJPEG_BUILD_TESTS=OFF -DIFFJPEG_BUILD_TOOLS=OFF -DIFFJPEG_BUILD_BENCH=OFF \
  -DIFFJPEG_BUILD_FUZZERS=OFF -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_SHARED_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$build" --target iffjpeg -j2
