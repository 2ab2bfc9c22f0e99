"""Accuracy of relief_forge_gis build on real terrain, against gdal_fillnodata.

Each case takes a real DEM shipped with matplotlib's sample data as the
truth, projected to UTM on a grid of its own; gdal_contour draws its contour
lines; both methods rebuild a DEM from those lines alone on the truth's grid
(--like), and each is compared with the truth cell by cell. Run it through
scripts/accuracy_real_terrain.sh.
"""

import math
import os
import subprocess
import sys
import time

import numpy as np
from osgeo import gdal

gdal.UseExceptions()

SAMPLES = "/usr/share/matplotlib/mpl-data/sample_data"

# name, sample, UTM zone EPSG, cell (m), contour interval (m)
CASES = [
    ("Jacksboro 75 m, 20 m contours", "jacksboro", 32616, 75, 20),
    ("Jacksboro 30 m, 20 m contours", "jacksboro", 32616, 30, 20),
    ("Jacksboro 30 m, 50 m contours", "jacksboro", 32616, 30, 50),
    ("Topobathy 1000 m, 100 m contours", "topobathy", 32610, 1000, 100),
]


def run(args):
    """Runs a command, returns its wall-clock time; fails loudly."""
    start = time.perf_counter()
    r = subprocess.run(args, capture_output=True, text=True)
    elapsed = time.perf_counter() - start
    if r.returncode != 0:
        sys.exit("failed: %s\n%s%s" % (" ".join(args), r.stdout, r.stderr))
    return elapsed


def geographic_truth(sample, path):
    """The sample DEM as a GeoTIFF in WGS 84, north up."""
    if sample == "jacksboro":
        d = np.load(os.path.join(SAMPLES, "jacksboro_fault_dem.npz"))
        z = d["elevation"].astype(np.float32)
        # The file's ymin and ymax are swapped; its first row is the north.
        north = max(float(d["ymin"]), float(d["ymax"]))
        gt = (float(d["xmin"]), float(d["dx"]), 0, north, 0, -float(d["dy"]))
    else:
        d = np.load(os.path.join(SAMPLES, "topobathy.npz"))
        z = d["topo"].astype(np.float32)
        lon, lat = d["longitude"] - 360.0, d["latitude"]
        dx, dy = float(lon[1] - lon[0]), float(lat[1] - lat[0])
        if dy > 0:  # rows from the south: flip to north up
            z, dy = z[::-1], -dy
            lat = lat[::-1]
        gt = (float(lon[0]) - dx / 2, dx, 0, float(lat[0]) - dy / 2, 0, dy)
    ds = gdal.GetDriverByName("GTiff").Create(path, z.shape[1], z.shape[0], 1, gdal.GDT_Float32)
    ds.SetGeoTransform(gt)
    ds.SetProjection("EPSG:4326")
    ds.GetRasterBand(1).WriteArray(z)
    ds = None


def read(path):
    ds = gdal.Open(path)
    band = ds.GetRasterBand(1)
    a = band.ReadAsArray().astype(np.float64)
    nd = band.GetNoDataValue()
    if nd is not None:
        a[a == nd] = np.nan
    return a


def errors(dem, truth, mask):
    e = (dem - truth)[mask & ~np.isnan(dem)]
    return math.sqrt(float(np.mean(e * e))), float(np.mean(e)), float(np.max(np.abs(e)))


def contour_fidelity(dem, burnt):
    """Share of contour cells that no longer hold their level, and the
    largest departure."""
    on = ~np.isnan(burnt)
    d = np.abs(dem[on] - burnt[on])
    return float(np.mean(d > 1e-6)), float(np.max(d))


def case(work, gis, name, sample, epsg, cell, interval, rows, extra):
    tag = "%s_%d_%d" % (sample, cell, interval)
    geo = os.path.join(work, sample + "_wgs84.tif")
    truth = os.path.join(work, tag + "_truth.tif")
    lines = os.path.join(work, tag + "_contours.gpkg")
    if not os.path.exists(geo):
        geographic_truth(sample, geo)
    run(["gdalwarp", "-q", "-overwrite", "-t_srs", "EPSG:%d" % epsg, "-tr", str(cell), str(cell),
         "-r", "cubic", "-dstnodata", "-99999", geo, truth])
    if os.path.exists(lines):
        os.remove(lines)
    run(["gdal_contour", "-q", "-i", str(interval), "-a", "ELEV", truth, lines])
    t = read(truth)
    valid = ~np.isnan(t)

    # The contours burnt alone on the truth's grid: the input of
    # gdal_fillnodata, and the levels each method should keep.
    burnt = os.path.join(work, tag + "_burnt.tif")
    filled = os.path.join(work, tag + "_filled.tif")

    def fillnodata(si):
        src = gdal.Open(truth)
        ds = gdal.GetDriverByName("GTiff").Create(burnt, src.RasterXSize, src.RasterYSize, 1,
                                                  gdal.GDT_Float32)
        ds.SetGeoTransform(src.GetGeoTransform())
        ds.SetProjection(src.GetProjection())
        ds.GetRasterBand(1).SetNoDataValue(-99999)
        ds.GetRasterBand(1).Fill(-99999)
        ds = src = None
        # Timed as the tool is: the contours burnt, then the gaps filled.
        return (run(["gdal_rasterize", "-q", "-a", "ELEV", lines, burnt]) +
                run(["gdal_fillnodata.py", "-q", "-md", "100000", "-si", str(si), burnt, filled]))

    results = []
    for label, args in rows:
        out = os.path.join(work, tag + "_rf.tif")
        seconds = run([gis, "build", lines, "--like", truth, "-e", str(interval), "--out", out,
                       "-q"] + args + extra)
        results.append((label, read(out), seconds))
    for si in (0, 2):
        seconds = fillnodata(si)
        results.append(("gdal_fillnodata -si %d" % si, read(filled), seconds))
    b = read(burnt)
    b[~valid] = np.nan

    print("\n### %s: %d x %d cells, truth %.0f to %.0f m\n" %
          (name, t.shape[1], t.shape[0], np.nanmin(t), np.nanmax(t)))
    print("| method | RMSE (m) | mean error (m) | max error (m) | contour cells off their level "
          "| time (s) |")
    print("|---|---|---|---|---|---|")
    for label, dem, seconds in results:
        rmse, bias, worst = errors(dem, t, valid)
        off, dev = contour_fidelity(dem, b)
        print("| %s | %.2f | %+.2f | %.1f | %.0f %% (up to %.1f m) | %.2f |" %
              (label, rmse, bias, worst, 100 * off, dev, seconds))


def main():
    gis, work = sys.argv[1], sys.argv[2]
    floats = len(sys.argv) > 3 and sys.argv[3] == "float"
    burn = sys.argv[4] if len(sys.argv) > 4 else ""
    rows = [("relief_forge_gis Int32", ["-s", "1"]), ("relief_forge_gis Int32 -s 5", ["-s", "5"])]
    if floats:
        rows += [("relief_forge_gis --float", ["-s", "1", "--float"]),
                 ("relief_forge_gis --float -s 5", ["-s", "5", "--float"])]
    if burn == "both":
        rows += [("relief_forge_gis Int32 --burn all-touched", ["-s", "1", "--burn",
                                                                "all-touched"]),
                 ("relief_forge_gis Int32 --burn line", ["-s", "1", "--burn", "line"])]
    for c in CASES:
        case(work, gis, *c, rows, [])


if __name__ == "__main__":
    main()
