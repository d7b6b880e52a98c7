#!/usr/bin/env bash
# Builds the release preset and prints the benchmark's Markdown tables:
# iffjpeg against stb_image / stb_image_write on real photographs (the MATE
# desktop's nature backgrounds, Debian mate-backgrounds, used in place and
# never copied into this repository), one thread, medians of interleaved runs.
#
#   scripts/bench.sh [--reps N]      (extra arguments go to the benchmark)
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ libstb-dev mate-backgrounds)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      "${missing[@]}" >/dev/null
  else
    echo "missing packages: ${missing[*]} (sudo apt-get install ${missing[*]})" >&2
    exit 1
  fi
fi

cmake --preset release -DIFFJPEG_BUILD_BENCH=ON >/dev/null
cmake --build --preset release --target iffjpeg_bench >/dev/null

photos=/usr/share/backgrounds/mate/nature
cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')
echo "## iffjpeg benchmark"
echo
echo "Machine: ${cpu:-unknown}, $(nproc) cores (one thread used), $(uname -sr)."
echo "Photographs: ${photos} (tiled where a size exceeds one photograph)."
./build/release/bench/iffjpeg_bench --photos "$photos" "$@"
