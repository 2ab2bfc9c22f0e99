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
nice cmake --build "$build" -j"$(nproc)" >/dev/null

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
  findings="$build/findings/$t"
  mkdir -p "$work" "$findings"
  cp -n "$seeds"/* "$work"/ 2>/dev/null || true
  before=$(ls "$findings" | wc -l)
  # A finding ends this target's run, not the script: the next target runs.
  if ! nice "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$findings/" "$work" >"$build/fuzz_$t.log" 2>&1; then
    status=1
    echo "fuzz_$t: FINDING"
    grep -E '^(==[0-9]+==ERROR|SUMMARY|artifact_prefix|Test unit written)' "$build/fuzz_$t.log" || \
      tail -n 30 "$build/fuzz_$t.log"
    for f in $(ls -t "$findings" | head -n $(( $(ls "$findings" | wc -l) - before ))); do
      echo "--- $findings/$f:"
      od -c "$findings/$f" | head -n 20
    done
  fi
  execs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$build/fuzz_$t.log" | awk '{print $2}' || true)
  done_line=$(grep -E '^#[0-9]+[[:space:]]+(DONE|pulse|NEW|REDUCE|INITED)' "$build/fuzz_$t.log" | tail -n 1 || true)
  cov=$(sed -nE 's/.*cov: ([0-9]+).*/\1/p' <<<"$done_line")
  corp=$(sed -nE 's/.*corp: ([0-9]+\/[0-9a-zA-Z]+).*/\1/p' <<<"$done_line")
  echo "fuzz_$t: ${seconds}s, ${execs:-?} executions, corpus ${corp:-?} (files/size), coverage ${cov:-?} edges, findings: $(ls "$findings" | wc -l)"
done
exit $status
