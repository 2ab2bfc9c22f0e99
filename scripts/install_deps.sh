#!/usr/bin/env bash
# Installs, through apt-get, the Debian packages the build, the tests and the
# benchmark scripts need and that are missing. Does nothing when everything is there.
set -euo pipefail
# The Windows build (MinGW-w64) and its tests (Wine); the accuracy and
# benchmark scripts (time, Python with GDAL, NumPy, SciPy, matplotlib's
# sample DEMs); the QGIS plugin's headless tests (QGIS, PyQGIS, Xvfb); the
# GIS accuracy script's peer r.surf.contour and R's volcano DEM.
packages=(cmake g++ make ccache libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev libgdal-dev gdal-bin
  g++-mingw-w64-x86-64-posix wine wine64 time python3-gdal python3-numpy python3-scipy python3-matplotlib
  qgis python3-qgis xvfb
  grass-core r-base-core)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "These Debian packages are missing and installing them needs root: ${missing[*]}" >&2
    exit 1
  fi
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
