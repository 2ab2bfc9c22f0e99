"""Accuracy of relief_forge_gis build on real terrain, beside its peers.

Each case takes a real DEM shipped in a Debian package as the truth,
resampled to a projected grid of its own; gdal_contour draws its contour
lines; every method rebuilds a DEM from those lines alone on the truth's
grid and is compared with the truth cell by cell: relief_forge_gis by
default (Float32, --oversample auto), with --oversample 1, and as the
interactive program's DEM (-ot Int32 --oversample 1); gdal_grid -a linear
on the contours' vertices; gdal_rasterize + gdal_fillnodata; and GRASS's
r.surf.contour in a temporary location. Run it through
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

# name, sample, EPSG, cell x and y (m), contour interval (m)
CASES = [
    ("Maunga Whau (R's volcano), 2 m cells, 5 m contours", "volcano", 27200, 2, 2, 5),
    ("Jacksboro, 30 m cells, 20 m contours", "jacksboro", 32616, 30, 30, 20),
    ("Jacksboro, 30 x 60 m cells, 10 m contours", "jacksboro", 32616, 30, 60, 10),
    ("Jacksboro, 90 m cells, 5 m contours (dense)", "jacksboro", 32616, 90, 90, 5),
    ("Topobathy, 1000 m cells, 100 m contours (bathymetry)", "topobathy", 32610, 1000, 1000, 100),
    ("Topobathy with a flat sea at 0, 1000 m cells, 50 m contours", "flatsea", 32610, 1000, 1000,
     50),
]

# The case whose hillshades are drawn side by side.
PICTURE_CASE = ("jacksboro", 90, 90)


def run(args, **kw):
    """Runs a command, returns its wall-clock time; fails loudly."""
    start = time.perf_counter()
    r = subprocess.run(args, capture_output=True, text=True, **kw)
    elapsed = time.perf_counter() - start
    if r.returncode != 0:
        sys.exit("failed: %s\n%s%s" % (" ".join(args), r.stdout, r.stderr))
    return elapsed, r.stderr


def write_geotiff(path, z, gt, crs):
    ds = gdal.GetDriverByName("GTiff").Create(path, z.shape[1], z.shape[0], 1, gdal.GDT_Float32)
    ds.SetGeoTransform(gt)
    ds.SetProjection(crs)
    ds.GetRasterBand(1).WriteArray(z.astype(np.float32))
    ds = None


def source_dem(sample, path):
    """The sample DEM as a GeoTIFF in its own CRS, north up."""
    if sample == "volcano":
        # R's datasets: Maunga Whau on a 10 m grid in NZMG, rows running
        # west to east and columns south to north.
        r = subprocess.run(["Rscript", "-e", "write.table(volcano, row.names=FALSE, "
                            "col.names=FALSE)"], capture_output=True, text=True, check=True)
        v = np.array([[float(x) for x in line.split()] for line in r.stdout.splitlines()])
        z = v.T[::-1]
        write_geotiff(path, z, (2667400.0, 10.0, 0, 6478700.0, 0, -10.0), "EPSG:27200")
    elif sample == "jacksboro":
        d = np.load(os.path.join(SAMPLES, "jacksboro_fault_dem.npz"))
        z = d["elevation"].astype(np.float32)
        # The file's ymin and ymax are swapped; its first row is the north.
        north = max(float(d["ymin"]), float(d["ymax"]))
        write_geotiff(path, z, (float(d["xmin"]), float(d["dx"]), 0, north, 0, -float(d["dy"])),
                      "EPSG:4326")
    else:
        d = np.load(os.path.join(SAMPLES, "topobathy.npz"))
        z = d["topo"].astype(np.float32)
        lon, lat = d["longitude"] - 360.0, d["latitude"]
        dx, dy = float(lon[1] - lon[0]), float(lat[1] - lat[0])
        if dy > 0:  # rows from the south: flip to north up
            z, dy = z[::-1], -dy
            lat = lat[::-1]
        if sample == "flatsea":
            z = np.maximum(z, 0)
        write_geotiff(path, z, (float(lon[0]) - dx / 2, dx, 0, float(lat[0]) - dy / 2, 0, dy),
                      "EPSG:4326")


def read(path):
    ds = gdal.Open(path)
    band = ds.GetRasterBand(1)
    a = band.ReadAsArray().astype(np.float64)
    nd = band.GetNoDataValue()
    if nd is not None:
        a[a == nd] = np.nan
    if ds.GetGeoTransform()[5] > 0:
        a = a[::-1]
    return a


def roughness(a):
    """RMS of the discrete Laplacian over the cells where it is defined."""
    lap = (a[1:-1, :-2] + a[1:-1, 2:] + a[:-2, 1:-1] + a[2:, 1:-1] - 4 * a[1:-1, 1:-1])
    return math.sqrt(float(np.nanmean(lap * lap)))


def grass_surf_contour(work, burnt, out, epsg):
    script = os.path.join(work, "surf.sh")
    with open(script, "w") as f:
        f.write("set -e\nr.in.gdal -o --quiet input=%s output=burnt\n"
                "g.region raster=burnt\nr.surf.contour --quiet input=burnt output=surf\n"
                "r.out.gdal --quiet -f input=surf output=%s format=GTiff type=Float32 "
                "nodata=-99999\n" % (burnt, out))
    return run(["grass", "--tmp-location", "EPSG:%d" % epsg, "--exec", "bash", script])[0]


def case(work, gis, name, sample, epsg, xres, yres, interval):
    tag = "%s_%g_%g_%g" % (sample, xres, yres, interval)
    src = os.path.join(work, sample + "_source.tif")
    truth = os.path.join(work, tag + "_truth.tif")
    lines = os.path.join(work, tag + "_contours.gpkg")
    if not os.path.exists(src):
        source_dem(sample, src)
    run(["gdalwarp", "-q", "-overwrite", "-t_srs", "EPSG:%d" % epsg, "-tr", str(xres), str(yres),
         "-r", "cubic", "-dstnodata", "-99999", src, truth])
    if os.path.exists(lines):
        os.remove(lines)
    run(["gdal_contour", "-q", "-i", str(interval), "-a", "ELEV", truth, lines])
    t = read(truth)
    valid = ~np.isnan(t)
    src_ds = gdal.Open(truth)
    cols, rows = src_ds.RasterXSize, src_ds.RasterYSize
    gt = src_ds.GetGeoTransform()
    xmin, ymax = gt[0], gt[3]
    xmax, ymin = xmin + cols * gt[1], ymax + rows * gt[5]

    def blank(path):
        ds = gdal.GetDriverByName("GTiff").Create(path, cols, rows, 1, gdal.GDT_Float32)
        ds.SetGeoTransform(gt)
        ds.SetProjection(src_ds.GetProjection())
        ds.GetRasterBand(1).SetNoDataValue(-99999)
        ds.GetRasterBand(1).Fill(-99999)
        ds = None

    results = []
    note = ""
    for label, args in [("relief_forge_gis (default)", []),
                        ("relief_forge_gis --oversample 1", ["--oversample", "1"]),
                        ("relief_forge_gis -ot Int32 --oversample 1",
                         ["-ot", "Int32", "--oversample", "1"])]:
        out = os.path.join(work, tag + "_rf%d.tif" % len(results))
        seconds, err = run([gis, "build", lines, "--like", truth, "-e", str(interval), "-o", out]
                           + args)
        if not args:
            note = next((l.split("oversampling ", 1)[1] for l in err.splitlines()
                         if "oversampling" in l), "")
        results.append((label, read(out), seconds))

    linear = os.path.join(work, tag + "_linear.tif")
    seconds = run(["gdal_grid", "-q", "-a", "linear:nodata=-99999", "-zfield", "ELEV",
                   "-txe", repr(xmin), repr(xmax), "-tye", repr(ymax), repr(ymin),
                   "-outsize", str(cols), str(rows), "-ot", "Float32", lines, linear])[0]
    results.append(("gdal_grid -a linear", read(linear), seconds))

    # The contours burnt alone on the truth's grid: the input of
    # gdal_fillnodata and of r.surf.contour, timed with them.
    burnt = os.path.join(work, tag + "_burnt.tif")
    blank(burnt)
    burn_time = run(["gdal_rasterize", "-q", "-a", "ELEV", lines, burnt])[0]
    filled = os.path.join(work, tag + "_filled.tif")
    seconds = run(["gdal_fillnodata.py", "-q", "-md", "100000", burnt, filled])[0]
    results.append(("gdal_rasterize + gdal_fillnodata", read(filled), burn_time + seconds))
    surf = os.path.join(work, tag + "_surf.tif")
    seconds = grass_surf_contour(work, burnt, surf, epsg)
    results.append(("gdal_rasterize + r.surf.contour", read(surf), burn_time + seconds))

    print("\n### %s: %d x %d cells, truth %.0f to %.0f m\n" %
          (name, cols, rows, np.nanmin(t), np.nanmax(t)))
    if note:
        print("Default build: oversampling %s.\n" % note)
    print("| method | RMSE (m) | mean error (m) | max error (m) | empty cells | roughness "
          "(x truth) | time (s) |")
    print("|---|---|---|---|---|---|---|")
    rough_truth = roughness(t)
    for label, dem, seconds in results:
        e = (dem - t)[valid & ~np.isnan(dem)]
        empty = float(np.mean(np.isnan(dem[valid])))
        print("| %s | %.2f | %+.2f | %.1f | %.1f %% | %.1f | %.2f |" %
              (label, math.sqrt(float(np.mean(e * e))), float(np.mean(e)),
               float(np.max(np.abs(e))), 100 * empty, roughness(dem) / rough_truth, seconds))
    sys.stdout.flush()
    return t, results, (xres, yres)


def picture(path, title, t, results, cell):
    """Hillshades of the truth and of every method, side by side."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.colors import LightSource
    ls = LightSource(azdeg=315, altdeg=45)
    panels = [("truth", t)] + [(label, dem) for label, dem, _ in results]
    fig, axes = plt.subplots(2, 4, figsize=(16, 8.5))
    for ax in axes.flat:
        ax.axis("off")
    for ax, (label, dem) in zip(axes.flat, panels):
        z = np.where(np.isnan(dem), np.nanmin(dem), dem)
        ax.imshow(ls.hillshade(z, vert_exag=2, dx=cell[0], dy=cell[1]), cmap="gray",
                  aspect=cell[1] / cell[0])
        ax.set_title(label, fontsize=10)
    fig.suptitle(title)
    fig.tight_layout()
    fig.savefig(path, dpi=50)


def main():
    gis, work = sys.argv[1], sys.argv[2]
    shot = sys.argv[3] if len(sys.argv) > 3 else ""
    for c in CASES:
        t, results, cell = case(work, gis, *c)
        if shot and (c[1], c[3], c[4]) == PICTURE_CASE:
            picture(shot, c[0], t, results, cell)


if __name__ == "__main__":
    main()
