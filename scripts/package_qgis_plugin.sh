#!/usr/bin/env bash
# Writes the QGIS plugin as a zip that QGIS's Plugins > Manage and Install
# Plugins > Install from ZIP accepts: one folder, relief_forge_provider/, at
# the top. With --with-tool BINARY the zip also carries relief_forge_gis, in
# the plugin folder, where the provider looks for it first after its setting.
#   scripts/package_qgis_plugin.sh [--with-tool BINARY] [OUT.zip]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tool=""
if [ "${1:-}" = "--with-tool" ]; then
  tool=${2:?--with-tool needs the path of relief_forge_gis}
  shift 2
fi
out=${1:-$root/build/relief_forge_provider.zip}
mkdir -p "$(dirname "$out")"
python3 - "$root/qgis/relief_forge_provider" "$out" "$tool" <<'PY'
import os, sys, zipfile

plugin, out, tool = sys.argv[1:4]
top = os.path.basename(plugin)
tmp = out + ".tmp"
with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED) as z:
    for folder, dirs, files in os.walk(plugin):
        dirs[:] = sorted(d for d in dirs if d != "__pycache__")
        for name in sorted(files):
            if name.endswith(".pyc"):
                continue
            path = os.path.join(folder, name)
            z.write(path, os.path.join(top, os.path.relpath(path, plugin)))
    if tool:
        info = zipfile.ZipInfo(os.path.join(top, "relief_forge_gis"))
        info.external_attr = 0o755 << 16
        info.compress_type = zipfile.ZIP_DEFLATED
        with open(tool, "rb") as f:
            z.writestr(info, f.read())
os.replace(tmp, out)
print("wrote " + out)
PY
