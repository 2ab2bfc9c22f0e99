#!/usr/bin/env bash
# Accuracy of relief_forge_gis build on real terrain: DEMs shipped with
# matplotlib's sample data (Debian's python3-matplotlib) are contoured with
# gdal_contour, rebuilt from the contours alone by relief_forge_gis and by
# gdal_fillnodata on the same grid, and compared with the truth. Prints one
# Markdown table per case: RMSE, mean and largest error, the share of
# contour cells that no longer hold their level, and the time.
#
#   bash scripts/accuracy_real_terrain.sh [BUILD_DIR] [float] [both]
#
# `float` adds the --float rows, `both` the two --burn modes side by side.
# Needs gdal-bin, python3-gdal and python3-matplotlib.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
gis=$build/relief_forge_gis
[ -x "$gis" ] || { echo "no $gis: build relief_forge_gis first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 "$here/accuracy_real_terrain.py" "$gis" "$work" "${2:-int}" "${3:-}"
