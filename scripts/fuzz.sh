#!/usr/bin/env bash
# Builds the fuzz preset (clang, libFuzzer, AddressSanitizer, UBSan) and runs
# every fuzz target for SECONDS seconds each (default 20), starting from
# freshly generated seeds plus the corpus earlier runs kept in
# build/fuzz/corpus. Exits non-zero when a target finds a crash, a leak, a
# timeout or a failed check; the input is left in build/fuzz/artifacts.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     TARGET: read write api
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(read write api)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
scripts/make-seeds.sh build/fuzz/seeds >/dev/null

status=0
for t in "${targets[@]}"; do
  corpus=build/fuzz/corpus/$t
  artifacts=build/fuzz/artifacts/$t/
  log=build/fuzz/$t.log
  mkdir -p "$corpus" "$artifacts"
  echo "== $t: ${seconds}s"
  if ! ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
      UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      "build/fuzz/fuzz/${t}_fuzzer" "$corpus" "build/fuzz/seeds/$t" \
      -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 -max_len=16384 \
      -artifact_prefix="$artifacts" -print_final_stats=1 >"$log" 2>&1; then
    status=1
    echo "$t: FINDING, see $log and $artifacts"
    grep -E 'ERROR|runtime error|check failed|Test unit written' "$log" | head -5 || true
  fi
  grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log" || true
done
exit $status
