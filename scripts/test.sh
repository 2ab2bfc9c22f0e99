#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test three times: in a
# normal build, in the Windows build under Wine, and under AddressSanitizer
# and UndefinedBehaviorSanitizer; then the fuzz targets, briefly, over their
# committed seed corpus.
#
#   bash scripts/test.sh            everything
#   bash scripts/test.sh --quick    the normal build in build/ and its tests only
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
quick=0
case "${1:-}" in
  --quick) quick=1 ;;
  "") ;;
  *)
    echo "usage: bash scripts/test.sh [--quick]" >&2
    exit 2
    ;;
esac

if ((quick)); then
  bash "$root/scripts/install_deps.sh" build python dask
else
  bash "$root/scripts/install_deps.sh"
fi

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

# The sample script configures build/ without the tests and the GIS tool:
# configure what is tested.
run_suite "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRF_TESTS=ON -DRF_GIS=ON
((quick)) && exit 0

# The Windows build, cross-compiled with MinGW-w64, its tests run under Wine
# (whole runs against the Linux build above). Wine quiet, without questions
# or a display, in a prefix inside the build folder. Its server stays up
# through the stage (it ends by itself 30 s after its last program), with
# Wine's own background programs started once here, away from the pipes
# through which the build and CTest read each test's output: started by a
# test, they would hold those open for seconds after it ends.
(
win_start=$SECONDS
export WINEDEBUG=-all WINEPREFIX="$root/build-win/wineprefix" WINEDLLOVERRIDES=mscoree,mshtml= DISPLAY=
mkdir -p "$WINEPREFIX"
wineserver -k 2>/dev/null || true
wineserver -p 30
wineboot -i </dev/null >/dev/null 2>&1
run_suite "$root/build-win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRF_GIS=OFF -DRF_LINUX_BUILD="$root/build"
wineserver -k || true
echo "== Windows stage: $((SECONDS - win_start)) s"
)
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DRF_SANITIZE=ON -DRF_TESTS=ON

echo "== fuzz targets"
bash "$root/scripts/fuzz.sh" 5
