"""relief_forge: a Digital Elevation Model grown from a raster of contour lines.

``build`` takes a 2-D numpy array of contours and returns the DEM that the
interactive relief_forge program writes for the same raster and answers, to
the bit. ``build_dataarray`` does the same for an xarray DataArray, with the
GIS tool's handling of float levels, nodata and the equidistance.
"""

from ._engine import GRID_PIXELS_MAX, GRID_SIDE_MAX, NO_DATA, Error
from ._engine import build as _build
from ._engine import build_window as _build_window

__all__ = ["build", "build_window", "build_dataarray", "Error", "NO_DATA"]


def _is_dask_array(a):
    return type(a).__module__.split(".")[0] == "dask" and hasattr(a, "chunks")


def build(contours, equidistance, smoothing=1, *, dtype=None, progress=None, **tiles):
    """The DEM of a contour raster.

    contours : 2-D numpy array, int32 with NO_DATA (-99999) for empty pixels,
        or uint16 with every pixel a level; any strides. It is not changed.
    equidistance : the step between contour levels, a positive whole number.
    smoothing : the smoothing mesh (1 or less: none; 2 to 33 Bezier patches).
    dtype : None for the program's DEM in the contours' type (int32 or
        uint16); numpy.float32 for the surface before its final truncation.
    progress : called as progress(stage, fraction) from the calling thread.

    Returns a new C-contiguous array of the contours' shape. Raises Error
    (a ValueError) with the program's message when it refuses, and
    KeyboardInterrupt when interrupted (at the run's next safe point).

    A dask array gives a dask array of the same chunks, each built from a
    window around it that the engine certifies, equal to the whole grid's
    DEM; `halo=` and `halo_limit=` are relief_forge._tiles.build_dask's.
    """
    if _is_dask_array(contours):
        if progress is not None:
            raise Error("progress is not reported for a dask array: see the dask dashboard")
        from ._tiles import build_dask

        return build_dask(contours, equidistance, smoothing, dtype=dtype, **tiles)
    if tiles:
        raise TypeError(f"build() got unexpected keyword arguments {sorted(tiles)}")
    return _build(contours, equidistance, smoothing, dtype=dtype, progress=progress)


def build_window(contours, equidistance, smoothing=1, *, cuts=(False, False, False, False),
                 passes=0, dtype=None):
    """The DEM of a window of a larger contour grid, and which of its cells are
    certainly what the build of the whole grid gives them.

    cuts : (top, bottom, left, right), True for a side that cuts through the
        whole grid, False for one of the whole grid's own edges.
    passes : the whole grid's dilation pass count, 0 when not known.

    Returns (dem, certain, window_passes): the window's DEM as build() gives
    it, a boolean array of its shape, and the window's own pass count.
    """
    return _build_window(contours, equidistance, smoothing, cuts=tuple(cuts), passes=passes,
                         dtype=dtype)


def build_dataarray(da, equidistance=None, smoothing=1, **options):
    """The DEM of a contour raster held in an xarray.DataArray.

    See relief_forge._dataarray.build_dataarray.
    """
    from ._dataarray import build_dataarray as _build_dataarray

    return _build_dataarray(da, equidistance, smoothing, **options)
