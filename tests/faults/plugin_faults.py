"""Fault injection of the QGIS plugin's run of relief_forge_gis: Cancel at
each point of a build, with the tool given its usual time to clean up and
with none (killed at once, so that the plugin finishes what it left). The
earlier DEM and preview stay unless the tool committed both; nothing else
is left. Prints a line per fault not handled, then "tried N good M".
Usage: plugin_faults.py SOURCE_DIR GIS_TOOL"""

import importlib.util
import os
import sys
import tempfile

SOURCE_DIR, GIS_TOOL = sys.argv[1], sys.argv[2]
SAMPLE = os.path.join(SOURCE_DIR, "data", "sample_vector", "hills_contours.geojson")

from qgis.core import QgsProcessingException  # noqa: E402

# The plugin's module itself: the source folder named qgis would hide QGIS's
# package of that name from an import.
_spec = importlib.util.spec_from_file_location(
    "relief_forge_tool", os.path.join(SOURCE_DIR, "qgis", "relief_forge_provider", "tool.py"))
tool = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(tool)

STAGES = [("rasterising", 1), ("dilation", 4), ("gap filling", 1), ("smoothing", 2),
          ("GeoTIFF", 1), ("preview", 1)]


class Feedback:
    """Cancels once a line holding `cancel_at` is reported ("" at once)."""

    def __init__(self, cancel_at):
        self.cancel_at = cancel_at
        self.canceled = cancel_at == ""
        self.infos = []

    def isCanceled(self):
        return self.canceled

    def pushInfo(self, text):
        self.infos.append(text)
        if self.cancel_at and self.cancel_at in text:
            self.canceled = True

    def pushCommandInfo(self, text):
        pass

    def setProgress(self, value):
        pass


def one(cancel_at, grace):
    with tempfile.TemporaryDirectory(prefix="rf_plugin_fault_") as folder:
        dem, png = os.path.join(folder, "dem.tif"), os.path.join(folder, "dem.png")
        for path in (dem, png):
            with open(path, "w") as f:
                f.write("earlier")
        tool.TERMINATE_GRACE = grace
        args = [GIS_TOOL, "build", SAMPLE, "--cell", "4", "-e", "10", "-s", "5", "--out", dem,
                "--preview", png]
        message = ""
        try:
            tool.run(args, Feedback(cancel_at), STAGES, [dem, png])
        except QgsProcessingException as e:
            message = str(e)
        left = sorted(os.listdir(folder))
        if left != ["dem.png", "dem.tif"]:
            return "left {}".format(left)
        earlier = [open(p, "rb").read() == b"earlier" for p in (dem, png)]
        if message == "Canceled: no file was written":
            return "" if all(earlier) else "an earlier file changed: {}".format(earlier)
        if message.startswith("Canceled after") or not message:
            return "" if not any(earlier) else "a mixed pair: {}".format(earlier)
        return "message: " + message


def main():
    tried = good = 0
    for grace in (10, 0):
        for cancel_at in ("", "a grid of", "rasterising", "dilation", "gap filling",
                          "smoothing", "GeoTIFF", "preview"):
            wrong = one(cancel_at, grace)
            tried += 1
            if wrong:
                print("FAULT NOT HANDLED: plugin: Cancel at '{}' with {} s to clean up: {}".format(
                    cancel_at, grace, wrong))
            else:
                good += 1
    print("plugin: tried {} good {}".format(tried, good))


if __name__ == "__main__":
    main()
