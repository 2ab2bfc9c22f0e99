#!/usr/bin/env bash
# The Python module's benchmark on real terrain (see bench_python.py):
#
#   bash scripts/bench_python.sh [SIDE...]       (default 1024 2048 4096 8192)
#
# The work folder (rasters of up to 1.3 GB at 8192) is removed at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build}
cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" --target relief_forge relief_forge_gis rf_python_engine >/dev/null
PYTHONPATH="$build/python" /usr/bin/python3 "$root/scripts/bench_python.py" "$build" "$@"
