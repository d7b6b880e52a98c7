#!/usr/bin/env bash
# The one test command: installs what is missing (Debian packages), then
# configures, builds and runs the whole suite under the dev preset
# (AddressSanitizer, UndefinedBehaviorSanitizer, leak checking).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ libgtest-dev libstb-dev libbenchmark-dev clang libclang-rt-14-dev pkg-config)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then
    echo "installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
  else
    echo "missing packages: ${missing[*]}" >&2
    echo "install them with: sudo apt-get install ${missing[*]}" >&2
    exit 1
  fi
fi

cmake --preset dev
cmake --build --preset dev
ctest --preset dev

# A short fuzzing run of every target (20 seconds each), so that a change
# that crashes on hostile input fails here; scripts/fuzz.sh SECONDS runs longer.
scripts/fuzz.sh 20
