#!/usr/bin/env bash
# Builds relief_forge and runs it on the bundled sample contour raster, with
# the answers piped in, under a home folder inside the build folder, so that
# nothing outside the build folder is touched.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"

bash "$root/scripts/install_deps.sh" sample
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DRF_TESTS=OFF -DRF_GIS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target relief_forge >/dev/null

home="$build/sample-home"
rm -rf "$home"
mkdir -p "$home/images/sample"
cp "$root/data/sample/hills_c4.raw" "$root/data/sample/hills_c4.txt" "$home/images/sample/"

# Folder, image, pixel type (32 bits), generic result name, equidistance 10,
# smoothing mesh 5.
printf 'sample\nhills\n1\n0\n10\n5\n' | HOME="$home" "$build/relief_forge"
echo
echo "The DEM is in $home/images/sample/: hills_m4.raw (300 x 400 32-bit pixels) and hills_m4.txt"
