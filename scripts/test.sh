#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test twice: once in a
# normal build and once under AddressSanitizer and UndefinedBehaviorSanitizer;
# then the fuzz targets, briefly, over their committed seed corpus.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

bash "$root/scripts/install_deps.sh"

run_suite() {
  local dir=$1; shift
  echo "== build $(basename "$dir") $*"
  cmake -S "$root" -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  echo "== tests $(basename "$dir")"
  # A run that finds no test is a failure, not a pass.
  ctest --test-dir "$dir" -j"$jobs" --output-on-failure --no-tests=error
  # The fault-injection suite's summary, from the test log.
  grep -h -E "^(fault injection:|SIG)" "$dir/Testing/Temporary/LastTest.log" || true
}

# The sample script configures build/ without the tests: configure what is tested.
run_suite "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRF_TESTS=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DRF_SANITIZE=ON -DRF_TESTS=ON

echo "== fuzz targets"
bash "$root/scripts/fuzz.sh" 5
