"""relief_forge: a Digital Elevation Model grown from a raster of contour lines.

``build`` takes a 2-D numpy array of contours and returns the DEM that the
interactive relief_forge program writes for the same raster and answers, to
the bit. ``build_dataarray`` does the same for an xarray DataArray, with the
GIS tool's handling of float levels, nodata and the equidistance.
"""

from ._engine import GRID_PIXELS_MAX, GRID_SIDE_MAX, NO_DATA, Error
from ._engine import build as _build

__all__ = ["build", "build_dataarray", "Error", "NO_DATA"]


def build(contours, equidistance, smoothing=1, *, dtype=None, progress=None):
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
    """
    return _build(contours, equidistance, smoothing, dtype=dtype, progress=progress)


def build_dataarray(da, equidistance=None, smoothing=1, **options):
    """The DEM of a contour raster held in an xarray.DataArray.

    See relief_forge._dataarray.build_dataarray.
    """
    from ._dataarray import build_dataarray as _build_dataarray

    return _build_dataarray(da, equidistance, smoothing, **options)
