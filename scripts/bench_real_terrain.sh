#!/usr/bin/env bash
# The benchmark on real terrain: for each side, a DEM resampled from
# matplotlib's sample data topobathy.npz, its contours every 40 m through
# gdal_contour, rasterised on the DEM's grid by 'relief_forge_gis import';
# then, on that same contour raster and in the same run, the whole
# relief_forge process (equidistance 40, mesh 5) and gdal_fillnodata.py, each
# timed with its peak memory by /usr/bin/time, and the benchmark program's
# pass by pass figures.
#
#   bash scripts/bench_real_terrain.sh [SIDE...]       (default 1024 2048 4096)
#
# BASE_BUILD="DIR..." also times the relief_forge of other builds (an older
# commit, say) on the same rasters, for instance one made with
#   git archive COMMIT | tar -x -C /tmp/base
#   cmake -S /tmp/base -B /tmp/base/build -DRF_TESTS=OFF -DRF_GIS=OFF
#   cmake --build /tmp/base/build --target relief_forge
# BENCH_MAX=SIDE runs the benchmark program up to that side (default 4096;
# 0 never).
#
# Every relief_forge is timed in two states, REPEAT runs of each (default 3),
# the median by the wall clock reported with its user and system time:
# - used: as a user's machine is after another large program, whose memory
#   is full of files read: right after a helper process has written USED_MB
#   megabytes (default 6144) and exited, and a file of CACHE_MB megabytes
#   (default what the system has available at the start, less 2 GB; 0 none)
#   has been read into the file cache again; the builds take turns, the
#   helper before each run. The file has no data on the disk (a hole), so
#   reading it fills the cache with clean pages the system may drop, without
#   a transfer;
# - warm: the same build again and again, nothing between, after one run
#   left untimed.
# The system time is the kernel's share: page faults, clearing fresh pages,
# and compacting memory for large pages where the process asks for them.
# gdal_fillnodata.py runs FILL_REPEAT times (default 3 up to 2048 a side, 1
# above), the best kept. The work folder (rasters of up to 1.3 GB at 8192)
# is removed at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build}
sides=("$@")
((${#sides[@]})) || sides=(1024 2048 4096)

cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" --target relief_forge relief_forge_gis relief_forge_bench >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/relief_forge_terrain.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/images/terrain"

# Runs a command once, standard input from the file $1, and prints its
# wall-clock seconds, user seconds, system seconds and peak memory (MB).
timed_once() {
  local input=$1; shift
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" <"$input" >"$work/out" 2>&1
  read -r t u sy m <"$work/time"
  echo "$t $u $sy $((m / 1024))"
}

# The median by the wall clock of the lines of "wall user system MB" on the
# standard input.
median() { sort -n -k1,1 | awk '{ l[NR] = $0 } END { print l[int((NR + 1) / 2)] }'; }

# Another large process: writes every page of USED_MB megabytes, then exits
# and frees them; then the file cache takes the free memory back, so that
# the next process finds little of it free, and that in pieces.
cache_mb=${CACHE_MB:-$(awk '/^MemAvailable/ { print int($2 / 1024) - 2048 }' /proc/meminfo)}
if ((cache_mb > 0)); then
  truncate -s "${cache_mb}M" "$work/cache"
  cat "$work/cache" >/dev/null
fi
used_machine() {
  /usr/bin/python3 -c "b = bytearray(${USED_MB:-6144} << 20); b[::4096] = b'\1' * len(b[::4096])"
  if ((cache_mb > 0)); then cat "$work/cache" >/dev/null; fi
}

# Wall-clock, processor seconds and peak memory (MB) of the best (by the
# wall clock) of `repeat` runs of a command, standard input from $1.
timed_best() {
  local input=$1; shift
  for ((k = 0; k < repeat; k++)); do timed_once "$input" "$@"; done |
    sort -n -k1,1 | head -1 | awk '{ print $1, $2 + $3, $4 }'
}

# Stops the benchmark unless the DEM just written is, to the bit, the one
# the first run of this side wrote.
same_dem() {
  local sum
  sum=$(sha1sum <"$work/images/terrain/${name}_m4.raw")
  [ -f "$work/dem.sum" ] || echo "$sum" >"$work/dem.sum"
  [ "$sum" = "$(cat "$work/dem.sum")" ] || { echo "the DEMs differ at $side" >&2; exit 1; }
}

builds=("$build")
for b in ${BASE_BUILD:-}; do builds+=("$b"); done
# A build's name in the table: its folder, or the folder above a "build".
label() {
  if [ "$1" = "$build" ]; then echo "this build"; return; fi
  local d=${1%/}
  [ "$(basename "$d")" = build ] && d=$(dirname "$d")
  basename "$d"
}

rows=()
for side in "${sides[@]}"; do
  echo "== $side x $side" >&2
  name=t$side
  repeat=${REPEAT:-3}
  /usr/bin/python3 "$root/scripts/terrain_dem.py" "$side" "$work/dem.tif"
  rm -f "$work/contours.gpkg"
  gdal_contour -q -a ELEV -i 40 "$work/dem.tif" "$work/contours.gpkg"
  "$build/relief_forge_gis" import "$work/contours.gpkg" --like "$work/dem.tif" \
    --out "$work/images/terrain/$name" -q
  raw=$work/images/terrain/${name}_c4.raw
  # Folder, image, 32-bit pixels, generic result name, equidistance 40, mesh 5.
  printf 'terrain\n%s\n1\n0\n40\n5\n' "$name" >"$work/answers"

  rm -f "$work/dem.sum"
  # Used: the builds take turns, each run right after the helper.
  for ((k = 0; k < repeat; k++)); do
    for n in "${!builds[@]}"; do
      used_machine
      r=$(HOME=$work timed_once "$work/answers" "${builds[n]}/relief_forge")
      echo "   used  $(label "${builds[n]}"): $r" >&2
      echo "$r" >>"$work/used$n"
      same_dem
    done
  done
  passes=$(grep -c "Iterative process number" "$work/out")
  # Warm: each build again and again, nothing between.
  for n in "${!builds[@]}"; do
    HOME=$work timed_once "$work/answers" "${builds[n]}/relief_forge" >/dev/null
    for ((k = 0; k < repeat; k++)); do
      r=$(HOME=$work timed_once "$work/answers" "${builds[n]}/relief_forge")
      echo "   warm  $(label "${builds[n]}"): $r" >&2
      echo "$r" >>"$work/warm$n"
      same_dem
    done
  done

  repeat=${FILL_REPEAT:-$((side <= 2048 ? 3 : 1))}
  read -r fill fill_cpu fill_mem < <(timed_best /dev/null gdal_fillnodata.py -q \
    "$work/images/terrain/${name}_c4.vrt" "$work/fill.tif")
  rm -f "$work/fill.tif"
  if ((side <= ${BENCH_MAX:-4096})); then
    "$build/relief_forge_bench" --raster "$raw" --equidistance 40 --no-reference | sed 's/^/    /' >&2
  fi
  for state in used warm; do
    for n in "${!builds[@]}"; do
      read -r t u sy m < <(median <"$work/$state$n")
      rm -f "$work/$state$n"
      rows+=("$(awk -v s="$side" -v p="$passes" -v b="$(label "${builds[n]}")" -v st="$state" \
        -v t="$t" -v u="$u" -v sy="$sy" -v m="$m" -v f="$fill" -v fc="$fill_cpu" -v fm="$fill_mem" 'BEGIN {
          printf "| %d | %d | %s | %s | %.2f s | %.2f s | %.2f s | %.0f ns | %s MB | %.2f s, %.2f s, %s MB | 1/%.1f |",
            s, p, b, st, t, u, sy, t / s / s * 1e9, m, f, fc, fm, f / t }')")
    done
  done
done

echo
echo "Real terrain (topobathy.npz), contours every 40 m, mesh 5, whole processes, $(nproc) cores,"
echo "transparent huge pages $(cat /sys/kernel/mm/transparent_hugepage/enabled 2>/dev/null),"
echo "defrag $(cat /sys/kernel/mm/transparent_hugepage/defrag 2>/dev/null); all rows from one run of this script."
echo "used: each run right after another process wrote ${USED_MB:-6144} MB and exited and a file of $cache_mb MB"
echo "was read into the cache again; warm: runs one after another. relief_forge: the median of ${REPEAT:-3} runs by the wall clock, with its user and system"
echo "time; gdal_fillnodata: the best run, wall clock, processor time, peak memory; the ratio is of"
echo "the wall clocks:"
echo
echo "| side | passes | build | state | wall | user | system | per pixel (wall) | peak memory | gdal_fillnodata | relief_forge / gdal_fillnodata |"
echo "|---|---|---|---|---|---|---|---|---|---|---|"
printf '%s\n' "${rows[@]}"
