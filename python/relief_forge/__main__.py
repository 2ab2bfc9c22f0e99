"""python3 -m relief_forge tiles CONTOURS DEM -e E [-s N] [--tile T] [--scheduler ADDRESS]

Builds the DEM of a contour GeoTIFF (or of the program's raw raster,
NAME_c4.raw or NAME_c2.raw with its header) in tiles on Dask: the contours
are read lazily, each tile is built from a certified window (relief_forge._tiles) and
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


def _raw_block(path, dtype, cols, block_info=None):
    """One block of a raw raster, read from the file when the task runs."""
    (r0, r1), (c0, c1) = block_info[None]["array-location"]
    out = np.empty((r1 - r0, c1 - c0), dtype=dtype)
    with open(path, "rb") as f:
        for i in range(r0, r1):
            f.seek((i * cols + c0) * dtype.itemsize)
            out[i - r0] = np.fromfile(f, dtype=dtype, count=c1 - c0)
    return out.astype(dtype.newbyteorder("="))


def _open_raw(path, tile):
    """The program's raw raster (NAME_c4.raw, int32, or NAME_c2.raw, uint16,
    little-endian) with its header NAME_c4.txt beside it: lines, columns,
    bytes per pixel, minimum, maximum, pixel size."""
    import dask.array as da

    header = path[:-4] + ".txt"
    try:
        fields = open(header).read().split()[:6]
        lines, cols, size, _, _, pixel = (int(v) for v in fields)
    except (OSError, ValueError):
        raise Error(f"{header}: no header of six whole numbers beside the raw raster")
    if size not in (2, 4) or lines < 1 or cols < 1:
        raise Error(f"{header}: {lines} lines, {cols} columns, {size} bytes a pixel")
    if os.path.getsize(path) < lines * cols * size:
        raise Error(f"{path}: shorter than the {lines} x {cols} pixels of its header")
    dtype = np.dtype("<u2" if size == 2 else "<i4")
    levels = da.map_blocks(_raw_block, os.path.abspath(path), dtype, cols,
                           chunks=da.core.normalize_chunks(tile, (lines, cols)),
                           dtype=dtype.newbyteorder("="), meta=np.empty((0, 0), dtype))
    geo = (0.0, float(pixel or 1), 0.0, float(lines * (pixel or 1)), 0.0, -float(pixel or 1))
    return geo, None, levels


def _open_contours(path, tile):
    """The contours as a lazy int32 (or uint16) dask array, their geotransform
    and their CRS (WKT, or None)."""
    if path.lower().endswith(".raw"):
        return _open_raw(path, tile)
    import rioxarray

    da = rioxarray.open_rasterio(path, chunks={"y": tile, "x": tile}, masked=False)
    if "band" in da.dims:
        if da.sizes["band"] != 1:
            raise Error(f"{path}: a contour raster has one band, not {da.sizes['band']}")
        da = da.isel(band=0)
    nodata = da.rio.nodata
    nodata = None if nodata is None else float(nodata)
    levels = da.data.map_blocks(_contour_levels, nodata, dtype=np.int32)
    crs = da.rio.crs.to_wkt() if da.rio.crs is not None else None
    return da.rio.transform().to_gdal(), crs, levels


def _write_tiles(client, dem, geo, crs, path, tile):
    """Computes the DEM's blocks on the cluster and writes each as it comes
    into a tiled GeoTIFF at `path`, with a progress line."""
    from dask.distributed import as_completed
    from osgeo import gdal

    gdal.UseExceptions()
    lines, cols = dem.shape
    gtype = {np.dtype(np.int32): gdal.GDT_Int32, np.dtype(np.uint16): gdal.GDT_UInt16,
             np.dtype(np.float32): gdal.GDT_Float32}[np.dtype(dem.dtype)]
    block = min(512, tile)
    ds = gdal.GetDriverByName("GTiff").Create(
        path, cols, lines, 1, gtype,
        options=["TILED=YES", f"BLOCKXSIZE={block}", f"BLOCKYSIZE={block}", "COMPRESS=DEFLATE",
                 "BIGTIFF=IF_SAFER"])
    ds.SetGeoTransform(geo)
    if crs is not None:
        ds.SetProjection(crs)
    band = ds.GetRasterBand(1)
    if dem.dtype != np.uint16:
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

    geo, crs, levels = _open_contours(args.contours, args.tile)
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
            _write_tiles(client, dem, geo, crs, part, args.tile)
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
