#!/usr/bin/env bash
# Installs, through apt-get, the Debian packages the build and the tests need
# and that are missing. Does nothing when everything is there.
set -euo pipefail
packages=(cmake g++ make ccache libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev libgdal-dev gdal-bin python3-gdal python3-matplotlib qgis python3-qgis xvfb)
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
