"""python3 -m relief_forge tiles: a contour GeoTIFF to a tiled GeoTIFF DEM on
a dask-scheduler and two dask-workers started on the loopback as processes of
their own, equal to the whole grid's build; nothing left behind on failure."""

import os
import subprocess
import sys
import time

import numpy as np
import pytest

import relief_forge as rf
from conftest import NO_DATA, SANITIZED, random_contours

pytest.importorskip("distributed")
gdal = pytest.importorskip("osgeo.gdal")
osr = pytest.importorskip("osgeo.osr")

pytestmark = pytest.mark.skipif(SANITIZED, reason="worker processes are not instrumented")


def write_geotiff(path, grid, nodata):
    ds = gdal.GetDriverByName("GTiff").Create(str(path), grid.shape[1], grid.shape[0], 1,
                                              gdal.GDT_Int32)
    ds.SetGeoTransform((500000.0, 5.0, 0.0, 4600000.0, 0.0, -5.0))
    srs = osr.SpatialReference()
    srs.ImportFromEPSG(32631)
    ds.SetProjection(srs.ExportToWkt())
    ds.GetRasterBand(1).SetNoDataValue(nodata)
    ds.GetRasterBand(1).WriteArray(grid)
    ds = None


@pytest.fixture(scope="module")
def scheduler(tmp_path_factory):
    folder = tmp_path_factory.mktemp("dask")
    address_file = folder / "scheduler.json"
    env = dict(os.environ)
    procs = [subprocess.Popen(["dask-scheduler", "--host", "127.0.0.1", "--port", "0",
                               "--no-dashboard", "--scheduler-file", str(address_file)],
                              env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)]
    try:
        for _ in range(300):
            if address_file.exists() and address_file.stat().st_size > 0:
                break
            time.sleep(0.1)
        for _ in range(2):
            procs.append(subprocess.Popen(
                ["dask-worker", "--scheduler-file", str(address_file), "--nworkers", "1",
                 "--nthreads", "1", "--no-dashboard", "--host", "127.0.0.1"],
                env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        from distributed import Client

        with Client(scheduler_file=str(address_file), timeout=60) as client:
            client.wait_for_workers(2, timeout=120)
            yield client.scheduler.address
    finally:
        for p in reversed(procs):
            p.terminate()
        for p in procs:
            p.wait(timeout=60)


def run_tiles(*args):
    return subprocess.run([sys.executable, "-m", "relief_forge", "tiles", *map(str, args)],
                          capture_output=True, text=True, timeout=600)


def write_raw(folder, grid):
    suffix = "_c2" if grid.dtype == np.uint16 else "_c4"
    grid.astype(grid.dtype.newbyteorder("<")).tofile(folder / f"c{suffix}.raw")
    (folder / f"c{suffix}.txt").write_text(
        f"{grid.shape[0]}\n{grid.shape[1]}\n{grid.itemsize}\n0\n0\n5\n")
    return folder / f"c{suffix}.raw"


# (input, mesh): a GeoTIFF with a nodata of its own, the program's 32-bit and
# 16-bit raw rasters with their headers.
@pytest.mark.parametrize("kind,mesh", [("tif", 1), ("tif", 3), ("raw32", 3), ("raw16", 1)])
def test_tiles_on_two_workers_equal_the_whole_grid(tmp_path, scheduler, kind, mesh):
    bits16 = kind == "raw16"
    contours = random_contours(21 + mesh, 150, 170, 10, base=0 if bits16 else -30, bits16=bits16)
    if kind == "tif":
        source = tmp_path / "c.tif"
        write_geotiff(source, np.where(contours == NO_DATA, -1, contours).astype(np.int32), -1)
    else:
        source = write_raw(tmp_path, contours)
    inputs = sorted(os.listdir(tmp_path))
    run = run_tiles(source, tmp_path / "dem.tif", "-e", 10, "-s", mesh, "--tile", 64,
                    "--scheduler", scheduler)
    assert run.returncode == 0, run.stderr
    ds = gdal.Open(str(tmp_path / "dem.tif"))
    if kind == "tif":
        assert ds.GetGeoTransform() == (500000.0, 5.0, 0.0, 4600000.0, 0.0, -5.0)
    assert ds.GetRasterBand(1).GetBlockSize() == [64, 64]
    got = ds.GetRasterBand(1).ReadAsArray()
    want = rf.build(contours, 10, mesh)
    assert got.dtype == want.dtype
    np.testing.assert_array_equal(got, want)
    assert sorted(os.listdir(tmp_path)) == sorted(inputs + ["dem.tif"])


def test_a_refusal_leaves_nothing(tmp_path, scheduler):
    write_geotiff(tmp_path / "c.tif", np.full((40, 40), -1, dtype=np.int32), -1)
    run = run_tiles(tmp_path / "c.tif", tmp_path / "dem.tif", "-e", 10, "--tile", 16,
                    "--scheduler", scheduler)
    assert run.returncode == 1 and "no contour pixel" in run.stderr
    assert os.listdir(tmp_path) == ["c.tif"]
