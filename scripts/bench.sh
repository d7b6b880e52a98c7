#!/usr/bin/env bash
# Builds the release preset and prints the benchmark's Markdown tables:
# iffjpeg against stb_image / stb_image_write on real photographs (the MATE
# desktop's nature backgrounds, Debian mate-backgrounds, used in place and
# never copied into this repository), one thread, medians of interleaved runs.
#
#   scripts/bench.sh [--reps N] [--decode-only]   (extra arguments go to the benchmark)
set -euo pipefail
cd "$(dirname "$0")/.."

. scripts/ensure-packages.sh
ensure_packages cmake ninja-build g++ libstb-dev mate-backgrounds

cmake --preset release -DIFFJPEG_BUILD_BENCH=ON >/dev/null
cmake --build --preset release --target iffjpeg_bench >/dev/null

photos=/usr/share/backgrounds/mate/nature
cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')
echo "## iffjpeg benchmark"
echo
echo "Machine: ${cpu:-unknown}, $(nproc) cores (one thread used), $(uname -sr)."
echo "Photographs: ${photos} (tiled where a size exceeds one photograph)."
./build/release/bench/iffjpeg_bench --photos "$photos" "$@"
