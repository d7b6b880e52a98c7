#!/usr/bin/env bash
# Builds the corpus generator (fuzz/corpus_generator.cpp over the test JPEG
# builder) and writes the fuzz seed corpora, or regenerates the malformed
# regression corpus that the test suite reads.
#
#   scripts/make-seeds.sh [DIR]        seeds into DIR/{read,write,api} (default build/fuzz-seeds)
#   scripts/make-seeds.sh --malformed  rewrites the generated files of tests/data/malformed
#                                      (fuzzer findings in tests/data/malformed/found stay)
set -euo pipefail
cd "$(dirname "$0")/.."

generator=build/corpus_generator
sources=(fuzz/corpus_generator.cpp tests/support/jpeg_builder.cpp tests/support/images.cpp)
rebuild=0
[ -x "$generator" ] || rebuild=1
for s in "${sources[@]}" tests/support/jpeg_builder.h tests/support/images.h; do
  [ "$rebuild" -eq 1 ] || [ "$s" -nt "$generator" ] && rebuild=1
done
if [ "$rebuild" -eq 1 ]; then
  mkdir -p build
  "${CXX:-g++}" -std=c++20 -O2 -Iinclude -Isrc -Itests -I/usr/include/stb "${sources[@]}" \
    -o "$generator"
fi

if [ "${1:-}" = "--malformed" ]; then
  # Only the generated files: fuzzer findings live in tests/data/malformed/found.
  mkdir -p tests/data/malformed
  find tests/data/malformed -maxdepth 1 -type f -delete
  "$generator" malformed tests/data/malformed
  echo "tests/data/malformed: $(ls tests/data/malformed | wc -l) files"
else
  out=${1:-build/fuzz-seeds}
  rm -rf "$out"
  "$generator" seeds "$out"
  for d in "$out"/*; do echo "$d: $(ls "$d" | wc -l) seeds"; done
fi
