#!/usr/bin/env bash
# The one test command: installs what is missing (Debian packages), then
# configures, builds and runs the whole suite under the dev preset
# (AddressSanitizer, UndefinedBehaviorSanitizer, leak checking).
set -euo pipefail
cd "$(dirname "$0")/.."

. scripts/ensure-packages.sh
ensure_packages cmake ninja-build g++ libgtest-dev libstb-dev mate-backgrounds libbenchmark-dev clang libclang-rt-14-dev pkg-config golang-go

cmake --preset dev
cmake --build --preset dev
ctest --preset dev

# The library once more with link-time optimisation and ODR warnings as
# errors: one name must have one definition across the whole library.
scripts/odr-check.sh

# A short fuzzing run of every target (20 seconds each), so that a change
# that crashes on hostile input fails here; scripts/fuzz.sh SECONDS runs longer.
scripts/fuzz.sh 20
