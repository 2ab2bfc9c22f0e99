#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time
# (seconds, default 60) on a working copy of the committed seed corpus;
# prints executions, corpus size and coverage of each. Usage:
#   bash scripts/fuzz.sh [SECONDS] [TARGET...]
#   bash scripts/fuzz.sh --corpus-only   # run each target once over the seeds
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"
seconds=60
corpus_only=0
if [ "${1:-}" = "--corpus-only" ]; then corpus_only=1; shift; fi
if [[ "${1:-}" =~ ^[0-9]+$ ]]; then seconds=$1; shift; fi
targets=("$@")
((${#targets[@]})) || targets=(answers header raster run)

bash "$root/scripts/install_deps.sh" sample checks
CXX=clang++ cmake -S "$root" -B "$build" -DRF_FUZZ=ON -DRF_TESTS=OFF -DRF_GIS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

status=0
for t in "${targets[@]}"; do
  fuzzer="$build/fuzz/fuzz_$t"
  seeds="$root/fuzz/corpus/$t"
  if ((corpus_only)); then
    "$fuzzer" -runs=0 "$seeds" >"$build/fuzz_$t.log" 2>&1 || { status=1; cat "$build/fuzz_$t.log"; }
    echo "fuzz_$t: $(ls "$seeds" | wc -l) seeds ran clean"
    continue
  fi
  work="$build/corpus/$t"
  mkdir -p "$work" "$build/findings/$t"
  cp -n "$seeds"/* "$work"/ 2>/dev/null || true
  if ! "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$build/findings/$t/" \
      "$work" >"$build/fuzz_$t.log" 2>&1; then
    status=1
    tail -n 30 "$build/fuzz_$t.log"
  fi
  execs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$build/fuzz_$t.log" | awk '{print $2}')
  done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$build/fuzz_$t.log" | tail -n 1)
  cov=$(sed -E 's/.*cov: ([0-9]+).*/\1/' <<<"$done_line")
  corp=$(sed -E 's/.*corp: ([0-9]+\/[0-9a-zA-Z]+).*/\1/' <<<"$done_line")
  echo "fuzz_$t: ${seconds}s, ${execs:-?} executions, corpus ${corp:-?} (files/size), coverage ${cov:-?} edges, findings: $(ls "$build/findings/$t" | wc -l)"
done
exit $status
