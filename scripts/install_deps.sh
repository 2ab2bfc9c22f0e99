#!/usr/bin/env bash
# Installs, through apt-get, the Debian packages of the groups named (all of
# them when none is) that are missing. Does nothing when everything is there.
#
#   bash scripts/install_deps.sh [GROUP...]
#
# sample   the program alone (scripts/run_sample.sh)
# build    the Linux build with its tests, the benchmark and the GIS tool
# windows  the Windows build (MinGW-w64) and its tests (Wine)
# checks   the sanitizer build and the fuzz targets (clang and its runtime)
# terrain  the accuracy and benchmark scripts on real terrain (time, Python
#          with GDAL, NumPy, SciPy, matplotlib's sample DEMs)
# qgis     the QGIS plugin's headless tests (QGIS, PyQGIS, Xvfb)
# python   the Python module and its tests (pybind11, numpy, xarray, rioxarray, pytest)
# dask     the surface in tiles on Dask (dask, distributed, SciPy for the halo's first bound)
# accuracy the GIS accuracy comparison's peers and truths (GRASS's r.surf.contour,
#          R's volcano); only when named: the test command does not need them
set -euo pipefail

declare -A group=(
  [sample]="cmake g++ make"
  [build]="cmake g++ make ccache libgtest-dev libgmock-dev libbenchmark-dev libgdal-dev gdal-bin"
  [windows]="g++-mingw-w64-x86-64-posix wine wine64"
  [checks]="clang libclang-rt-14-dev"
  [terrain]="time python3-gdal python3-numpy python3-scipy python3-matplotlib"
  [qgis]="qgis python3-qgis xvfb"
  [python]="pybind11-dev python3-dev python3-numpy python3-xarray python3-rioxarray python3-pytest"
  [dask]="python3-dask python3-distributed python3-scipy"
  [accuracy]="grass-core r-base-core"
)
names=("$@")
((${#names[@]})) || names=(sample build windows checks terrain qgis python dask)

packages=()
for name in "${names[@]}"; do
  if [ -z "${group[$name]+set}" ]; then
    echo "install_deps.sh: no group named '$name' (sample, build, windows, checks, terrain, qgis, python, dask, accuracy)" >&2
    exit 2
  fi
  read -r -a listed <<<"${group[$name]}"
  packages+=("${listed[@]}")
done

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  read -r -a missing <<<"$(printf '%s\n' "${missing[@]}" | sort -u | tr '\n' ' ')"
  echo "Installing ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "These Debian packages are missing and installing them needs root: ${missing[*]}" >&2
    exit 1
  fi
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
