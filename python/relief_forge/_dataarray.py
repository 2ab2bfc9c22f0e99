"""build_dataarray: a contour raster in an xarray.DataArray to its DEM.

The levels are taken as relief_forge_gis takes a contour raster's: whole
numbers found through float noise, fractional levels multiplied by the
smallest power of ten that makes them whole, the equidistance inferred from
the levels when it is not given.
"""

import math
import warnings

import numpy as np

from ._engine import NO_DATA, Error
from ._engine import build as _build

# The largest power of ten the levels are multiplied by.
MAX_Z_FACTOR = 1_000_000
INT_MIN = -(2**31)
INT_MAX = 2**31 - 1


def _is_whole(v):
    """Whether each v is a whole number but for float noise: within 1e-6 of
    its magnitude (or of 1 when smaller), and never more than 0.001 away."""
    v = np.asarray(v, dtype=np.float64)
    with np.errstate(invalid="ignore"):
        tolerance = np.minimum(1e-3, 1e-6 * np.maximum(1.0, np.abs(v)))
        return np.isfinite(v) & (np.abs(v - np.rint(v)) <= tolerance)


def _level_factor(levels, equidistance, forced):
    """The smallest power of ten, up to MAX_Z_FACTOR, that makes every level
    and the equidistance (when given) whole; `forced` is then the only one
    tried. Returns (factor, None), or (0, the first value left fractional)."""
    factor = forced if forced else 1
    failing = None
    while factor <= MAX_Z_FACTOR:
        fractional = ~_is_whole(levels * factor)
        equid_bad = equidistance is not None and (
            not _is_whole(equidistance * factor) or np.rint(equidistance * factor) < 1
        )
        if not fractional.any() and not equid_bad:
            return factor, None
        failing = levels[np.argmax(fractional)] if fractional.any() else equidistance
        if forced:
            break
        factor *= 10
    return 0, failing


def _level_step(levels):
    """The greatest common step between whole levels; 0 for fewer than two."""
    if len(levels) < 2:
        return 0
    lowest = min(levels)
    step = 0
    for v in levels:
        step = math.gcd(step, v - lowest)
    return step


def _nodata_of(da):
    """The value that marks the raster's empty cells, as rioxarray tells it."""
    rio = getattr(da, "rio", None)
    for value in (
        rio.nodata if rio is not None else None,
        rio.encoded_nodata if rio is not None else None,
        da.attrs.get("_FillValue"),
        da.encoding.get("_FillValue"),
    ):
        if value is not None:
            return value
    return None


def _grid_of(da):
    """The DataArray's values as a 2-D array, a band of one squeezed."""
    if da.ndim == 3 and da.shape[0] == 1:
        da = da.isel({da.dims[0]: 0})
    if da.ndim != 2:
        raise Error(
            f"The contours must be a grid of 2 dimensions (a single band), not {da.ndim}"
        )
    return da


def _empty_mask(values, nodata, empty):
    """Cells that hold no contour: the nodata value (NaN included), the value
    given as `empty`, and NO_DATA itself."""
    mask = values == NO_DATA
    if nodata is not None:
        if isinstance(nodata, float) and math.isnan(nodata):
            if np.issubdtype(values.dtype, np.floating):
                mask |= np.isnan(values)
        else:
            mask |= values == nodata
    if empty is not None:
        mask |= values == empty
    return mask


def _refuse_pixel(values, good, factor, why):
    """Raises the refusal of the first cell that `good` rejects."""
    i, j = np.unravel_index(np.argmin(good), good.shape)
    by = f"multiplied by {factor} " if factor > 1 else ""
    raise Error(
        f"the cell at line {i}, column {j} of the contours holds "
        f"{float(values[i, j])!r}, which {by}{why}"
    )


def _levels(values, empty_mask, equidistance, z_scale):
    """The contour grid as int32 levels (NO_DATA where empty) and the factor
    they were multiplied by."""
    filled = ~empty_mask
    raw = values[filled].astype(np.float64, copy=False)
    finite = raw[np.isfinite(raw)]
    distinct = np.unique(finite)
    factor, failing = _level_factor(distinct, equidistance, z_scale)
    if factor == 0:
        if failing is not None and not np.any(distinct == failing):
            raise Error(
                f"the equidistance {equidistance!r} is not made whole by a power of ten up "
                f"to {MAX_Z_FACTOR}, as the levels and the equidistance must be"
                if not z_scale
                else f"the equidistance {equidistance!r} is not whole once multiplied by "
                f"z_scale={z_scale}"
            )
        if z_scale:
            raise Error(
                f"the contours hold {float(failing)!r}, which is not whole once multiplied "
                f"by z_scale={z_scale}"
            )
        raise Error(
            f"the contours hold {float(failing)!r}, which is not a whole number, nor made "
            f"whole by a power of ten up to {MAX_Z_FACTOR}: relief_forge works on whole "
            "altitudes"
        )
    grid = np.full(values.shape, NO_DATA, dtype=np.int32)
    v = values.astype(np.float64) * factor
    with np.errstate(invalid="ignore"):
        level = np.rint(v)
        checks = (
            (np.isfinite(v), "is not a number"),
            (_is_whole(v), "is not a whole number: relief_forge works on whole altitudes"),
            ((level >= INT_MIN) & (level <= INT_MAX), "is outside the range of 32-bit altitudes"),
            (level != NO_DATA, "is -99999, the value that marks empty pixels"),
        )
    for good, why in checks:
        good = good | empty_mask
        if not good.all():
            _refuse_pixel(values, good, factor, why)
    grid[filled] = level[filled].astype(np.int32)
    step = _level_step([int(x) for x in np.unique(grid[filled])])
    return grid, factor, step


def _run_equidistance(given, factor, step):
    """The equidistance of the run in the levels' scaled units."""
    if given is None:
        if step == 0:
            raise Error(
                "the contours have a single level, so the equidistance cannot be found "
                "from them: give it as equidistance="
            )
        if step > INT_MAX:
            raise Error(
                f"the step between the levels, {step / factor!r}, is too large for an "
                "equidistance"
            )
        return int(step)
    scaled = float(np.rint(given * factor))
    if scaled < 1 or scaled > INT_MAX:
        raise Error(
            f"the equidistance {given!r} is outside what relief_forge can take once the "
            f"levels are multiplied by {factor}"
        )
    equid = int(scaled)
    if step != 0 and step % equid != 0:
        warnings.warn(
            f"relief_forge: the levels do not fit the equidistance {given!r}: their greatest "
            f"common step is {step / factor!r}, the equidistance taken when it is left out",
            stacklevel=3,
        )
    return equid


def build_dataarray(da, equidistance=None, smoothing=1, *, float_dem=False, empty=None,
                    z_scale=None, progress=None):
    """The DEM of a contour raster held in an xarray.DataArray.

    da : 2-D DataArray (a band dimension of one is squeezed), as
        rioxarray.open_rasterio gives it. Empty cells are its nodata value
        (NaN included), the value given as `empty`, or -99999. Levels are
        whole numbers but for float noise, or fractional levels that a power
        of ten makes whole (up to 10**6; `z_scale` forces one).
    equidistance : in the levels' units; None infers it as the greatest
        common step between the levels, and says so in a warning.
    smoothing : the smoothing mesh, as for build().
    float_dem : True for the surface before its final truncation.
    progress : as for build().

    Returns a DataArray on the same grid, with its coordinates, attributes,
    CRS and nodata: int32 with nodata -99999 for whole levels, float32 with
    nodata NaN for scaled levels or float_dem. A uint16 DataArray without
    nodata is the program's 16-bit raster and gives a uint16 DEM.
    """
    if z_scale is not None and (
        not isinstance(z_scale, (int, np.integer))
        or z_scale < 1
        or z_scale > MAX_Z_FACTOR
        or 10 ** round(math.log10(z_scale)) != z_scale
    ):
        raise Error(f"z_scale must be a power of ten from 1 to {MAX_Z_FACTOR}, not {z_scale!r}")
    if equidistance is not None and not (
        isinstance(equidistance, (int, float, np.integer, np.floating))
        and math.isfinite(equidistance)
        and equidistance > 0
    ):
        raise Error("The equidistance must be a positive number")
    grid_da = _grid_of(da)
    values = np.asarray(grid_da.values)
    nodata = _nodata_of(grid_da)
    if nodata is not None:
        nodata = float(nodata)

    if values.dtype == np.uint16 and nodata is None and empty is None:
        # The program's 16-bit raster: every pixel a level, of factor 1.
        grid, factor = values, 1
        step = _level_step([int(x) for x in np.unique(values)])
    elif np.issubdtype(values.dtype, np.integer) or np.issubdtype(values.dtype, np.floating):
        empty_mask = _empty_mask(values, nodata, empty)
        if empty_mask.all():
            raise Error("The file contours holds no contour pixel")
        if not empty_mask.any():
            raise Error(
                "no cell of the contours is empty: every one would be a contour and the DEM "
                "the raster itself; give the background value as empty= (such as empty=0), "
                "or set the DataArray's nodata"
            )
        if empty_mask.sum() * 2 < empty_mask.size:
            warnings.warn(
                f"relief_forge: contours cover {100 * (1 - empty_mask.mean()):.0f} % of the "
                "grid: if its background is a value, give it as empty=",
                stacklevel=2,
            )
        grid, factor, step = _levels(values, empty_mask, equidistance, z_scale or 0)
    else:
        raise Error(f"The contours must hold numbers, not {values.dtype}")

    equid = _run_equidistance(equidistance, factor, step)
    if equidistance is None:
        warnings.warn(
            f"relief_forge: equidistance {equid / factor:g}, the greatest common step "
            "between the levels (give another as equidistance=)",
            stacklevel=2,
        )

    if float_dem:
        dem = _build(grid, equid, smoothing, dtype=np.float32, progress=progress,
                     _z_factor=factor)
        dem[dem == NO_DATA] = np.nan
        fill = np.nan
    elif factor > 1:
        # The whole DEM of the scaled levels, divided back.
        whole = _build(grid, equid, smoothing, progress=progress)
        dem = (whole.astype(np.float64) / factor).astype(np.float32)
        dem[whole == NO_DATA] = np.nan
        fill = np.nan
    else:
        dem = _build(grid, equid, smoothing, progress=progress)
        fill = None if dem.dtype == np.uint16 else NO_DATA

    out = grid_da.copy(data=dem)
    out.attrs = {k: v for k, v in grid_da.attrs.items()
                 if k not in ("_FillValue", "scale_factor", "add_offset")}
    out.encoding = {}
    out.attrs.update(
        relief_forge_equidistance=equid / factor,
        relief_forge_smoothing_mesh=int(smoothing),
        relief_forge_z_scale=factor,
    )
    out.name = grid_da.name
    rio = getattr(grid_da, "rio", None)
    if rio is not None:
        crs = rio.crs
        if crs is not None:
            out = out.rio.write_crs(crs)
        if fill is not None:
            out = out.rio.write_nodata(fill, encoded=False)
    return out
