#!/usr/bin/env bash
# Whole runs of the Windows build (under Wine) and of the Linux build on the
# same contour rasters and answers: the DEM rasters must be equal byte for
# byte, the DEM headers' six numbers equal, and every line of the Windows
# headers must end in CR LF. Usage:
#   host_parity.sh LINUX_RELIEF_FORGE CONTOUR_GEN WINDOWS_EXE WINE_PREFIX EMULATOR...
set -euo pipefail
linux_bin=$1 gen=$2 exe=$3 prefix=$4
shift 4
emulator=("$@")
work=$(mktemp -d "${TMPDIR:-/tmp}/rf_parity_XXXXXX")
folder="parity_$$"
win_dir="$prefix/drive_c/images/$folder"
trap 'rm -rf "$work" "$win_dir"' EXIT
lin_dir="$work/home/images/$folder"
sample="$(cd "$(dirname "$0")/../.." && pwd)/data/sample"
mkdir -p "$lin_dir" "$win_dir"

failures=0
runs=0
fail() {
  echo "$1: $2"
  failures=$((failures + 1))
}

# run_case NAME TYPE ANSWERS_AFTER_TYPE: runs both builds on the image NAME
# already in both folders, with pixel type TYPE.
run_case() {
  local name=$1 type=$2 rest=$3
  local answers m
  answers=$(printf '%s\n%s\n%s\n%b' "$folder" "$name" "$type" "$rest")
  m=$([ "$type" = 0 ] && echo m2 || echo m4)
  runs=$((runs + 1))
  if ! HOME="$work/home" "$linux_bin" <<<"$answers" >"$work/$name.linux.out" 2>&1; then
    fail "$name" "the Linux build failed"; return
  fi
  if ! "${emulator[@]}" "$exe" <<<"$answers" >"$work/$name.windows.out" 2>&1; then
    fail "$name" "the Windows build failed: $(tail -n 3 "$work/$name.windows.out")"; return
  fi
  cmp -s "$lin_dir/${name}_$m.raw" "$win_dir/${name}_$m.raw" ||
    fail "$name" "the DEM rasters differ ($(stat -c %s "$lin_dir/${name}_$m.raw") and $(stat -c %s "$win_dir/${name}_$m.raw") bytes)"
  head -n 6 "$win_dir/${name}_$m.txt" | tr -d '\r' | cmp -s - <(head -n 6 "$lin_dir/${name}_$m.txt") ||
    fail "$name" "the DEM headers' numbers differ"
  local lines crlf
  lines=$(wc -l <"$win_dir/${name}_$m.txt")
  crlf=$(grep -c $'\r$' "$win_dir/${name}_$m.txt" || true)
  [ "$lines" = "$crlf" ] || fail "$name" "$((lines - crlf)) of the $lines lines of the Windows DEM header end without CR"
}

# gen NAME ARGS...: a generated contour raster, the same in both folders.
gen() {
  local name=$1
  shift
  "$gen" "$@" --out "$lin_dir/$name" >/dev/null
  cp "$lin_dir/$name"_c* "$win_dir/"
}

cp "$sample/hills_c4.raw" "$sample/hills_c4.txt" "$lin_dir/"
cp "$sample/hills_c4.raw" "$sample/hills_c4.txt" "$win_dir/"
run_case hills 1 '0\n10\n5\n'
# Levels from 256 up: every altitude 266 holds a 0x0A byte.
gen high --lines 300 --cols 260 --seed 11 --base 256
run_case high 1 '0\n10\n5\n'
gen steep --lines 240 --cols 300 --seed 13 --base -500 --equidistance 7
run_case steep 1 '0\n7\n4\n'
gen clamp --lines 280 --cols 250 --seed 14 --base 60000 --bits 16
run_case clamp 0 '0\n10\n5\n'
gen flat16 --lines 250 --cols 280 --seed 15 --bits 16 --equidistance 25
run_case flat16 0 '0\n25\n1\n'
# No header: each build creates it from the answers.
gen bare --lines 200 --cols 310 --seed 16 --base 250 --no-header
run_case bare 1 '200\n310\n25\n0\n10\n9\n'
tr -d '\r' <"$win_dir/bare_c4.txt" | cmp -s - "$lin_dir/bare_c4.txt" || fail bare "the created input headers differ"
[ "$(grep -c $'\r$' "$win_dir/bare_c4.txt" || true)" = 6 ] || fail bare "the created Windows input header is not in CR LF"

echo "host parity: $runs whole runs of both builds, $failures differences"
[ "$failures" = 0 ]
