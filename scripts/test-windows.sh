#!/usr/bin/env bash
# The Windows check: installs what is missing (Debian packages), cross-builds
# the 32-bit and the 64-bit iffjpeg.dll with mingw-w64, checks their export
# and import tables, runs the 64-bit test suite under wine64, and checks that
# the Windows command-line tool writes and reads the same bytes as the Linux
# one. The 32-bit DLL is built and checked but not run: running 32-bit
# programs needs a kernel and a Wine that can.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS

. scripts/ensure-packages.sh
ensure_packages cmake ninja-build g++ libstb-dev googletest g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64

wine=$(command -v wine64 || true)
[ -n "$wine" ] || wine=/usr/lib/wine/wine64
work=$(mktemp -d "${TMPDIR:-/tmp}/iffjpeg-windows.XXXXXX")
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

echo "== 32-bit DLL: build, exports and imports"
cmake --preset win32 >/dev/null
cmake --build --preset win32
ctest --preset win32

echo "== 64-bit DLL and test suite under wine64"
"$wine" wineboot --init >/dev/null 2>&1
cmake --preset win64 >/dev/null
cmake --build --preset win64
ctest --preset win64

echo "== Same files from the Windows and the Linux library"
linux=build/windows-linux-reference
cmake -S . -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=Release -DIFFJPEG_BUILD_TESTS=OFF >/dev/null
cmake --build "$linux" --target iffjpeg_cli
cp examples/chart.png "$work/chart.png"
cp build/win64/iffjpeg.dll build/win64/tools/iffjpeg.exe "$work/"
(
  cd "$work"
  for q in 75 92; do
    "$OLDPWD/$linux/tools/iffjpeg" encode chart.png "linux-q$q.jpg" --quality "$q" --dpi 300 >/dev/null
    "$wine" iffjpeg.exe encode chart.png "windows-q$q.jpg" --quality "$q" --dpi 300 >/dev/null
    cmp "linux-q$q.jpg" "windows-q$q.jpg"
    "$OLDPWD/$linux/tools/iffjpeg" decode "linux-q$q.jpg" "linux-q$q.ppm" >/dev/null
    "$wine" iffjpeg.exe decode "linux-q$q.jpg" "windows-q$q.ppm" >/dev/null
    cmp "linux-q$q.ppm" "windows-q$q.ppm"
  done
  # A greyscale round trip: PGM in, JPEG out, PGM back.
  "$OLDPWD/$linux/tools/iffjpeg" decode linux-q92.jpg grey.pgm >/dev/null
  "$OLDPWD/$linux/tools/iffjpeg" encode grey.pgm linux-grey.jpg >/dev/null
  "$wine" iffjpeg.exe encode grey.pgm windows-grey.jpg >/dev/null
  cmp linux-grey.jpg windows-grey.jpg
  "$wine" iffjpeg.exe decode windows-grey.jpg windows-grey.pgm >/dev/null
  "$OLDPWD/$linux/tools/iffjpeg" decode linux-grey.jpg linux-grey.pgm >/dev/null
  cmp linux-grey.pgm windows-grey.pgm
)
echo "identical: colour and greyscale JPEG files and their decoded samples"

echo "windows checks passed in $((SECONDS - started)) s"
