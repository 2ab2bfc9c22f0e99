"""python3 -m relief_forge tiles CONTOURS DEM -e E [-s N] [--tile T] [--scheduler ADDRESS]

Builds the DEM of a contour GeoTIFF in tiles on Dask: the contours are read
lazily, each tile is built from a certified window (relief_forge._tiles) and
written as it comes into a tiled GeoTIFF with the contours' grid and CRS,
under a temporary name renamed to DEM once whole. Without --scheduler a
LocalCluster of worker processes runs the tiles; with it, the run joins a
running dask-scheduler, whose workers must see CONTOURS at the same path.
"""

import argparse
import os
import signal
import sys

import numpy as np

from ._engine import NO_DATA, Error


def _contour_levels(block, nodata):
    """A block of the contour raster as the engine's int32 levels: nodata,
    NaN and -99999 are empty; a level must be a whole number."""
    values = np.asarray(block)
    empty = values == NO_DATA
    if nodata is not None:
        empty |= np.isnan(values) if np.isnan(nodata) else values == nodata
    if values.dtype.kind == "f":
        empty |= np.isnan(values)
        levels = np.where(empty, 0, values)
        if not np.array_equal(levels, np.round(levels)) or np.abs(levels).max(initial=0) > 2**31 - 1:
            raise Error("The contour levels must be whole numbers within the int32 range")
    else:
        levels = values
    return np.where(empty, NO_DATA, levels).astype(np.int32)


def _open_contours(path, tile):
    import rioxarray

    da = rioxarray.open_rasterio(path, chunks={"y": tile, "x": tile}, masked=False)
    if "band" in da.dims:
        if da.sizes["band"] != 1:
            raise Error(f"{path}: a contour raster has one band, not {da.sizes['band']}")
        da = da.isel(band=0)
    nodata = da.rio.nodata
    nodata = None if nodata is None else float(nodata)
    levels = da.data.map_blocks(_contour_levels, nodata, dtype=np.int32)
    return da, levels


def _write_tiles(client, dem, template, path, tile):
    """Computes the DEM's blocks on the cluster and writes each as it comes
    into a tiled GeoTIFF at `path`, with a progress line."""
    from dask.distributed import as_completed
    from osgeo import gdal

    gdal.UseExceptions()
    lines, cols = dem.shape
    gtype = gdal.GDT_Int32 if dem.dtype == np.int32 else gdal.GDT_Float32
    block = min(512, tile)
    ds = gdal.GetDriverByName("GTiff").Create(
        path, cols, lines, 1, gtype,
        options=["TILED=YES", f"BLOCKXSIZE={block}", f"BLOCKYSIZE={block}", "COMPRESS=DEFLATE",
                 "BIGTIFF=IF_SAFER"])
    ds.SetGeoTransform(template.rio.transform().to_gdal())
    if template.rio.crs is not None:
        ds.SetProjection(template.rio.crs.to_wkt())
    band = ds.GetRasterBand(1)
    band.SetNoDataValue(NO_DATA)
    starts = [np.cumsum((0,) + c[:-1]) for c in dem.chunks]
    keys = {}
    futures = []
    for bi, i0 in enumerate(starts[0]):
        for bj, j0 in enumerate(starts[1]):
            f = client.compute(dem.blocks[bi, bj])
            keys[f.key] = (int(i0), int(j0))
            futures.append(f)
    done = 0
    for f in as_completed(futures):
        i0, j0 = keys[f.key]
        band.WriteArray(f.result(), xoff=j0, yoff=i0)
        done += 1
        print(f"\r\ttiles {done} / {len(futures)}", end="", file=sys.stderr, flush=True)
    print(file=sys.stderr)
    band.FlushCache()
    ds = None


def tiles(argv):
    ap = argparse.ArgumentParser(prog="python3 -m relief_forge tiles",
                                 description="The DEM of a contour GeoTIFF, in tiles on Dask.")
    ap.add_argument("contours")
    ap.add_argument("dem")
    ap.add_argument("-e", "--equidistance", type=int, required=True)
    ap.add_argument("-s", "--smoothing", type=int, default=1)
    ap.add_argument("--tile", type=int, default=4096)
    ap.add_argument("--scheduler", default=None, help="address of a running dask-scheduler")
    ap.add_argument("--workers", type=int, default=2, help="local worker processes")
    args = ap.parse_args(argv)
    if args.tile < 1:
        ap.error("--tile must be 1 or more")

    from dask.distributed import Client, LocalCluster

    from ._tiles import build_dask

    template, levels = _open_contours(args.contours, args.tile)
    folder = os.path.dirname(os.path.abspath(args.dem))
    part = os.path.join(folder, f".{os.path.basename(args.dem)}.part-{os.getpid()}")
    cluster = None
    # Ctrl-C and a termination both end here with the partial file removed.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))
    try:
        if args.scheduler:
            client = Client(args.scheduler)
        else:
            cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1,
                                   processes=True, dashboard_address=None)
            client = Client(cluster)
        with client:
            dem = build_dask(levels, args.equidistance, args.smoothing)
            _write_tiles(client, dem, template, part, args.tile)
        os.replace(part, args.dem)
    except BaseException:
        if os.path.exists(part):
            os.unlink(part)
        raise
    finally:
        if cluster is not None:
            cluster.close()
    return 0


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if not argv or argv[0] != "tiles":
        print(__doc__.strip().splitlines()[0], file=sys.stderr)
        return 2
    try:
        return tiles(argv[1:])
    except Error as e:
        print(f"relief_forge: {e}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        return 130


if __name__ == "__main__":
    sys.exit(main())
