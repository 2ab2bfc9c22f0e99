#!/usr/bin/env bash
# The GIS tool's speed on vector contours: a SIDE x SIDE DEM resampled from
# matplotlib's sample data (scripts/terrain_dem.py), its contours every 40 m
# through gdal_contour into a GeoPackage; then, in one run on that grid:
#   build -ot Int32 --oversample 1   beside the interactive program's whole run
#                                    on the contour raster import writes;
#   build (default: Float32, auto)   beside gdal_rasterize + gdal_fillnodata.
# Prints each time (best of REPEAT runs, default 1) and the two ratios.
#
#   bash scripts/bench_gis_build.sh [SIDE]        (default 4096)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build}
side=${1:-4096}
repeat=${REPEAT:-1}
gis=$build/relief_forge_gis
interactive=$build/relief_forge
for p in "$gis" "$interactive"; do
  [ -x "$p" ] || { echo "no $p: build relief_forge and relief_forge_gis first" >&2; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/relief_forge_gis_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/images/maps"

/usr/bin/python3 "$root/scripts/terrain_dem.py" "$side" "$work/truth.tif"
gdal_contour -q -i 40 -a ELEV "$work/truth.tif" "$work/contours.gpkg"
"$gis" import "$work/contours.gpkg" --like "$work/truth.tif" --out "$work/images/maps/t" -q

# Best wall-clock seconds of `repeat` runs of a command.
best() {
  local b=""
  for ((k = 0; k < repeat; k++)); do
    local s e
    s=$(date +%s.%N)
    "$@" >"$work/out" 2>&1 || { cat "$work/out" >&2; exit 1; }
    e=$(date +%s.%N)
    b=$(awk -v b="$b" -v t="$(awk "BEGIN{print $e - $s}")" 'BEGIN{print (b == "" || t < b) ? t : b}')
  done
  echo "$b"
}

run_interactive() {
  printf 'maps\nt\n1\n0\n40\n1\n' | HOME=$work "$interactive"
}
fill() {
  gdal_translate -q -ot Float32 -scale 0 1 -99999 -99999 -a_nodata -99999 "$work/truth.tif" \
    "$work/burnt.tif"
  gdal_rasterize -q -a ELEV "$work/contours.gpkg" "$work/burnt.tif"
  gdal_fillnodata.py -q -md 100000 "$work/burnt.tif" "$work/filled.tif"
}

int32=$(best "$gis" build "$work/contours.gpkg" --like "$work/truth.tif" -e 40 -ot Int32 \
  --oversample 1 -o "$work/int32.tif" -q)
whole=$(best run_interactive)
default=$(best "$gis" build "$work/contours.gpkg" --like "$work/truth.tif" -e 40 \
  -o "$work/default.tif")
choice=$(grep -o "oversampling [0-9]*" "$work/out" || true)
peers=$(best fill)
echo "grid $side x $side, contours every 40 m ($(nproc) cores)"
printf '%-52s %8.2f s\n' "build -ot Int32 --oversample 1" "$int32" \
  "relief_forge, whole run on the imported contours" "$whole" \
  "build (default: Float32, $choice)" "$default" \
  "gdal_rasterize + gdal_fillnodata" "$peers"
awk -v a="$int32" -v b="$whole" -v c="$default" -v d="$peers" 'BEGIN{
  printf "build -ot Int32 --oversample 1 / relief_forge: %.2f (goal <= 1.3)\n", a / b
  printf "build / gdal_rasterize + gdal_fillnodata: %.2f (goal <= 0.33)\n", c / d }'
