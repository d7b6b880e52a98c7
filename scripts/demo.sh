#!/usr/bin/env bash
# Builds the release preset and shows the tool on the test chart shipped in
# examples/: encode it to JPEG, decode it back, print the JPEG's facts and the
# PSNR of the round trip. Installs what is missing (Debian packages) when run
# as root.
set -euo pipefail
cd "$(dirname "$0")/.."

. scripts/ensure-packages.sh
ensure_packages cmake ninja-build g++ libstb-dev

echo "== building (release preset)"
cmake --preset release >/dev/null
cmake --build --preset release

tool=build/release/tools/iffjpeg
input=examples/chart.png
out=build/demo
mkdir -p "$out"

echo
echo "== encoding $input (quality 75, 150 dpi)"
"$tool" encode "$input" "$out/chart.jpg" --quality 75 --dpi 150
echo "== decoding it back"
"$tool" decode "$out/chart.jpg" "$out/chart-decoded.png"
echo
echo "== info"
"$tool" info "$out/chart.jpg"
echo
echo "== round trip"
printf '%s -> %s: ' "$(stat -c %s "$input") bytes PNG" "$(stat -c %s "$out/chart.jpg") bytes JPEG"
"$tool" compare "$input" "$out/chart-decoded.png"
echo
echo "Output files:"
echo "  $out/chart.jpg           the JPEG written by the driver"
echo "  $out/chart-decoded.png   that JPEG decoded back by the driver"
echo "The tool is $tool (run it with --help); the library is build/release/libiffjpeg.so."
