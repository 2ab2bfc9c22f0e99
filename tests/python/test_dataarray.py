"""relief_forge.build_dataarray: xarray and rioxarray in and out, levels
taken as the GIS tool takes a contour raster's."""

import os
import subprocess
import warnings

import numpy as np
import pytest

xr = pytest.importorskip("xarray")
rioxarray = pytest.importorskip("rioxarray")

import relief_forge as rf  # noqa: E402
from conftest import NO_DATA, random_contours  # noqa: E402


def dataarray(values, nodata=np.nan, crs="EPSG:32631"):
    lines, cols = values.shape
    da = xr.DataArray(
        values,
        dims=("y", "x"),
        coords={"y": 5_000_000.0 - 25.0 * np.arange(lines) - 12.5,
                "x": 500_000.0 + 25.0 * np.arange(cols) + 12.5},
        attrs={"long_name": "contours"},
        name="contours",
    )
    da = da.rio.write_crs(crs)
    return da if nodata is None else da.rio.write_nodata(nodata, encoded=False)


def fractional_levels():
    """Levels from 100.5 by 2.5, as float32 with NaN where empty, and the
    same levels multiplied by ten."""
    grid = random_contours(50, 120, 150, 25, base=1005 - 25)
    out = np.where(grid == NO_DATA, np.nan, grid / 10.0).astype(np.float32)
    return out, grid


@pytest.mark.parametrize("float_dem", [False, True])
def test_geotiff_round_trip_keeps_the_grid_and_matches_the_gis_tool(tmp_path, float_dem):
    values, scaled = fractional_levels()
    src = tmp_path / "contours.tif"
    dataarray(values).rio.to_raster(src)
    da = rioxarray.open_rasterio(src).squeeze("band", drop=True)

    with pytest.warns(UserWarning, match="equidistance 2.5, the greatest common step"):
        dem = rf.build_dataarray(da, smoothing=3, float_dem=float_dem)

    assert dem.dims == da.dims and dem.shape == da.shape
    for c in ("x", "y"):
        np.testing.assert_array_equal(dem[c], da[c])
    assert dem.rio.crs == da.rio.crs and dem.rio.transform() == da.rio.transform()
    assert dem.dtype == np.float32 and np.isnan(dem.rio.nodata)
    assert dem.attrs["relief_forge_z_scale"] == 10
    assert dem.attrs["relief_forge_equidistance"] == 2.5
    # The levels made whole by ten, built as int32, divided back.
    if float_dem:
        expected = rf._engine.build(scaled, 25, 3, dtype=np.float32, _z_factor=10)
    else:
        expected = (rf.build(scaled, 25, 3) / 10.0).astype(np.float32)
    np.testing.assert_array_equal(dem.values, expected)

    out = tmp_path / "dem.tif"
    dem.rio.to_raster(out)
    back = rioxarray.open_rasterio(out).squeeze("band", drop=True)
    np.testing.assert_array_equal(back.values, dem.values)
    assert back.rio.crs == da.rio.crs

    # The GIS tool writes the surface before its truncation, as float_dem does.
    gis = os.environ.get("RF_GIS_BINARY")
    if gis and float_dem:
        tool = tmp_path / "tool.tif"
        subprocess.run([gis, "build", str(src), "-s", "3", "-o", str(tool), "--quiet"],
                       check=True, capture_output=True)
        written = rioxarray.open_rasterio(tool).squeeze("band", drop=True).values
        np.testing.assert_array_equal(written, dem.values)


def test_integer_raster_with_a_nodata_value_gives_the_int32_dem():
    grid = random_contours(51, 60, 70, 10)
    as_int16 = np.where(grid == NO_DATA, -1, grid).astype(np.int16)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        dem = rf.build_dataarray(dataarray(as_int16, nodata=-1), 10)
    assert dem.dtype == np.int32 and dem.rio.nodata == NO_DATA
    np.testing.assert_array_equal(dem.values, rf.build(grid, 10))
    assert dem.attrs["long_name"] == "contours"


def test_uint16_without_nodata_is_the_16_bit_raster():
    grid = random_contours(52, 40, 50, 10, bits16=True)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        dem = rf.build_dataarray(dataarray(grid, nodata=None), 10)
    assert dem.dtype == np.uint16
    np.testing.assert_array_equal(dem.values, rf.build(grid, 10))


def test_float_noise_is_the_whole_level_it_was_meant_to_be():
    grid = random_contours(53, 50, 50, 10, base=400)
    noisy = np.where(grid == NO_DATA, np.nan, grid.astype(np.float64) - 5.7e-14)
    dem = rf.build_dataarray(dataarray(noisy), 10)
    np.testing.assert_array_equal(dem.values, rf.build(grid, 10))


def levels(*values, empty=np.nan):
    g = np.full((20, 20), empty, np.float64)
    for k, v in enumerate(values):
        g[2 + 3 * k, :] = v
    return g


LEVEL_REFUSALS = [
    ("a third", levels(1 / 3, 2.0), {}, "not a whole number, nor made whole"),
    ("beyond int32", levels(3e9, 10.0), {}, "outside the range of 32-bit altitudes"),
    ("NaN not nodata", levels(10.0, np.nan, 20.0, empty=-5.0), {"nodata": -5.0}, "is not a number"),
    ("single level", levels(10.0, 10.0), {}, "single level, so the equidistance cannot be found"),
    ("no empty cell", np.full((5, 5), 3.0), {"nodata": None}, "no cell of the contours is empty"),
    ("all empty", np.full((5, 5), np.nan), {}, "holds no contour pixel"),
    ("z_scale not a power of ten", levels(10.0, 20.0), {"z_scale": 20}, "power of ten"),
    ("z_scale too small", levels(10.5, 20.0), {"z_scale": 1}, "not whole once multiplied by z_scale=1"),
    ("equidistance fractional", levels(10.0, 20.0), {"equidistance": 1e-9}, "not made whole"),
    ("equidistance not positive", levels(10.0, 20.0), {"equidistance": 0}, "positive number"),
    ("two bands", np.zeros((2, 4, 4)), {}, "2 dimensions"),
]


@pytest.mark.parametrize("name,values,kw,message", LEVEL_REFUSALS, ids=[r[0] for r in LEVEL_REFUSALS])
def test_level_refusals(name, values, kw, message):
    kw = dict(kw)
    nodata = kw.pop("nodata", np.nan)
    da = (xr.DataArray(values, dims=("band", "y", "x")) if values.ndim == 3
          else dataarray(values, nodata=nodata))
    with pytest.raises(rf.Error, match=message):
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            rf.build_dataarray(da, **kw)


def test_an_equidistance_the_levels_do_not_fit_is_warned():
    with pytest.warns(UserWarning, match="do not fit the equidistance 3"):
        rf.build_dataarray(dataarray(levels(10.0, 20.0, 30.0)), 3)
