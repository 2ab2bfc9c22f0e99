#!/usr/bin/env bash
# Accuracy of relief_forge_gis build on real terrain, beside its peers: DEMs
# shipped in Debian packages (matplotlib's sample data, R's volcano) are
# contoured with gdal_contour, rebuilt from the contours alone by
# relief_forge_gis, gdal_grid -a linear, gdal_fillnodata and GRASS's
# r.surf.contour on the same grid, and compared with the truth. Prints one
# Markdown table per case: RMSE, mean and largest error, empty cells,
# roughness against the truth's, and the time.
#
#   bash scripts/accuracy_real_terrain.sh [BUILD_DIR] [PICTURE.png]
#
# PICTURE.png, when given, receives the hillshades of one case side by side.
# Needs gdal-bin, python3-gdal, python3-matplotlib, grass-core, r-base-core.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bash "$here/install_deps.sh" terrain accuracy
build=${1:-$here/../build}
gis=$build/relief_forge_gis
[ -x "$gis" ] || { echo "no $gis: build relief_forge_gis first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 "$here/accuracy_real_terrain.py" "$gis" "$work" "${2:-}"
