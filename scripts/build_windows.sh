#!/usr/bin/env bash
# Cross-builds relief_forge.exe for 64-bit Windows with MinGW-w64, statically
# (C and C++ runtimes and threads linked in), in build-windows/, and checks
# that it imports only DLLs every Windows has: copy the one file to any
# 64-bit Windows and run it from a console.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-windows"

bash "$root/scripts/install_deps.sh" sample windows
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DRF_TESTS=OFF -DRF_GIS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target relief_forge >/dev/null
bash "$root/tests/windows/system_dlls_only.sh" "$build/relief_forge.exe"
