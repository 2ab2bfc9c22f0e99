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
# BASE_BUILD=DIR also times the relief_forge of another build (an older
# commit, say) on the same rasters, for instance one made with
#   git archive COMMIT | tar -x -C /tmp/base
#   cmake -S /tmp/base -B /tmp/base/build -DRF_TESTS=OFF -DRF_GIS=OFF
#   cmake --build /tmp/base/build --target relief_forge
# BENCH_MAX=SIDE runs the benchmark program up to that side (default 4096;
# 0 never); REPEAT=N keeps the best of N runs of each timed process
# (default 3 up to 2048 a side, 1 above).
#
# Each process is timed by its wall clock and by its processor time (user
# plus system, over all its threads): on a shared machine the wall clock
# follows the other load as much as the process, the processor time less so.
# The work folder (rasters of up to 1.3 GB at 8192) is removed at the end.
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

# Wall-clock seconds, processor seconds and peak memory (MB) of the best (by
# the wall clock) of `repeat` runs of a command, standard input from the
# file $1.
timed() {
  local input=$1; shift
  local best="" cpu="" mem=""
  for ((k = 0; k < repeat; k++)); do
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" <"$input" >"$work/out" 2>&1
    read -r t u sy m <"$work/time"
    if [ -z "$best" ] || awk "BEGIN{exit !($t < $best)}"; then
      best=$t
      cpu=$(awk "BEGIN{print $u + $sy}")
      mem=$m
    fi
  done
  echo "$best $cpu $((mem / 1024))"
}

rows=()
for side in "${sides[@]}"; do
  echo "== $side x $side" >&2
  name=t$side
  repeat=${REPEAT:-$((side <= 2048 ? 3 : 1))}
  /usr/bin/python3 "$root/scripts/terrain_dem.py" "$side" "$work/dem.tif"
  rm -f "$work/contours.gpkg"
  gdal_contour -q -a ELEV -i 40 "$work/dem.tif" "$work/contours.gpkg"
  "$build/relief_forge_gis" import "$work/contours.gpkg" --like "$work/dem.tif" \
    --out "$work/images/terrain/$name" -q
  raw=$work/images/terrain/${name}_c4.raw
  # Folder, image, 32-bit pixels, generic result name, equidistance 40, mesh 5.
  printf 'terrain\n%s\n1\n0\n40\n5\n' "$name" >"$work/answers"

  read -r rf rf_cpu rf_mem < <(HOME=$work timed "$work/answers" "$build/relief_forge")
  passes=$(grep -c "Iterative process number" "$work/out")
  base="-" base_cpu="-" base_mem="-"
  if [ -n "${BASE_BUILD:-}" ]; then
    read -r base base_cpu base_mem < <(HOME=$work timed "$work/answers" "$BASE_BUILD/relief_forge")
  fi
  read -r fill fill_cpu fill_mem < <(timed /dev/null gdal_fillnodata.py -q \
    "$work/images/terrain/${name}_c4.vrt" "$work/fill.tif")
  rm -f "$work/fill.tif"
  if ((side <= ${BENCH_MAX:-4096})); then
    "$build/relief_forge_bench" --raster "$raw" --equidistance 40 --no-reference | sed 's/^/    /' >&2
  fi
  rows+=("$(awk -v s="$side" -v p="$passes" -v rf="$rf" -v rc="$rf_cpu" -v rm="$rf_mem" \
    -v b="$base" -v bc="$base_cpu" -v bm="$base_mem" -v f="$fill" -v fc="$fill_cpu" \
    -v fm="$fill_mem" 'BEGIN {
      printf "| %d | %d | %.2f s, %.2f s | %.0f ns | %s MB | %s | %.2f s, %.2f s | %s MB | 1/%.1f, 1/%.1f |",
        s, p, rf, rc, rf / s / s * 1e9, rm,
        (b == "-" ? "-" : sprintf("%.2f s, %.2f s, %s MB", b, bc, bm)), f, fc, fm, f / rf, fc / rf }')")
done

echo
echo "Real terrain (topobathy.npz), contours every 40 m, mesh 5, whole processes, $(nproc) cores;"
echo "all rows from one run of this script; times are wall clock, then processor time;"
echo "the ratio is relief_forge's wall clock to gdal_fillnodata's wall clock, then to its"
echo "processor time:"
echo
echo "| side | passes | relief_forge | per pixel (wall) | peak memory | base build | gdal_fillnodata | its peak memory | relief_forge / gdal_fillnodata |"
echo "|---|---|---|---|---|---|---|---|---|"
printf '%s\n' "${rows[@]}"
