"""The DEM of a dask array, chunk by chunk, equal to the whole grid's build.

Each output chunk is built from a window of the contours: the chunk and a
halo around it. The engine certifies which cells of the window hold what the
whole grid's build gives them (build_window); a chunk is kept only when every
one of its cells is certified. Otherwise its halo doubles, and past a limit
the chunk is taken from the whole grid, whose build needs no certificate.
docs/tiles.md gives the argument and the figures.
"""

import logging

import numpy as np

from ._engine import NO_DATA, Error
from ._engine import build_window as _build_window

log = logging.getLogger("relief_forge.tiles")

# The smallest halo tried, in cells.
HALO_MIN = 8


def _next_power_of_two(n):
    p = 1
    while p < n:
        p *= 2
    return p


def _farthest_from_a_contour(block):
    """The largest chessboard distance from a cell of the block to a contour
    pixel of the block (the block's larger side when it holds none)."""
    block = np.asarray(block)
    if block.dtype == np.uint16:
        return np.zeros((1, 1), dtype=np.int64)
    empty = block == NO_DATA
    if not empty.any():
        return np.zeros((1, 1), dtype=np.int64)
    if empty.all():
        return np.full((1, 1), max(block.shape), dtype=np.int64)
    from scipy.ndimage import distance_transform_cdt

    return np.full((1, 1), int(distance_transform_cdt(empty, metric="chessboard").max()),
                   dtype=np.int64)


def first_halo(contours, smoothing):
    """A first halo for every chunk: the next power of two at or above four
    times the largest distance from a cell to a contour of its chunk, and
    enough for the smoothing's window."""
    import dask.array as da

    far = da.map_blocks(_farthest_from_a_contour, contours, dtype=np.int64,
                        chunks=tuple((1,) * len(c) for c in contours.chunks)).max().compute()
    return max(HALO_MIN, _next_power_of_two(4 * int(far)), int(smoothing) + 1)


class _Source:
    """Reads windows of the contours inside a task. Holding the dask array in
    an attribute keeps dask from computing it whole as a task's argument."""

    def __init__(self, contours):
        self.contours = contours
        self.shape = contours.shape

    def read(self, i0, i1, j0, j1):
        window = self.contours[i0:i1, j0:j1]
        if hasattr(window, "compute"):
            window = window.compute(scheduler="synchronous")
        return np.ascontiguousarray(window)


def build_chunk(source, rows, cols, equidistance, smoothing, dtype, halo, halo_limit):
    """The DEM of the chunk rows x cols (two slices), from windows of the
    source with a halo that doubles while the certificate refuses a cell."""
    lines, columns = source.shape
    r0, r1 = rows.start, rows.stop
    c0, c1 = cols.start, cols.stop
    name = f"chunk [{r0}:{r1}, {c0}:{c1}]"
    while True:
        whole = halo > halo_limit
        if whole:
            i0, i1, j0, j1 = 0, lines, 0, columns
        else:
            i0, i1 = max(0, r0 - halo), min(lines, r1 + halo)
            j0, j1 = max(0, c0 - halo), min(columns, c1 + halo)
        cuts = (i0 > 0, i1 < lines, j0 > 0, j1 < columns)
        window = source.read(i0, i1, j0, j1)
        if not any(cuts):
            # The window is the whole grid: its build is the answer.
            dem, _, passes = _build_window(window, equidistance, smoothing, dtype=dtype)
            if whole:
                log.warning("%s: refused up to a halo of %d, taken from the whole grid",
                            name, halo_limit)
            else:
                log.info("%s: halo %d reaches the whole grid, %d passes", name, halo, passes)
            return np.ascontiguousarray(dem[r0:r1, c0:c1])
        try:
            dem, certain, passes = _build_window(window, equidistance, smoothing, cuts=cuts,
                                                 dtype=dtype)
        except Error as e:
            # A window without a contour, or too small for the mesh: a larger
            # one decides; the whole grid's refusal is the caller's.
            log.info("%s: halo %d refused by the engine (%s)", name, halo, e)
            halo *= 2
            continue
        inner = (slice(r0 - i0, r1 - i0), slice(c0 - j0, c1 - j0))
        refused = int(certain[inner].size - np.count_nonzero(certain[inner]))
        if refused == 0:
            log.info("%s: halo %d, %d passes, every cell certified", name, halo, passes)
            return np.ascontiguousarray(dem[inner])
        log.info("%s: halo %d, %d passes, %d cells refused; doubling", name, halo, passes,
                 refused)
        halo *= 2


def build_dask(contours, equidistance, smoothing=1, *, dtype=None, halo=None, halo_limit=None):
    """The DEM of a 2-D dask array of contours, as a dask array of the same
    chunks; equal to the whole grid's build, to the bit.

    halo : the first halo of every chunk (None: from first_halo).
    halo_limit : the largest halo tried before a chunk is taken from the
        whole grid (None: 16 times the first halo).
    """
    import dask
    import dask.array as da

    if contours.ndim != 2:
        raise Error(f"The contours must be a grid of 2 dimensions, not {contours.ndim}")
    if contours.dtype not in (np.dtype(np.int32), np.dtype(np.uint16)):
        raise Error("The contours must be int32 (-99999 for empty pixels) or uint16 (every pixel"
                    f" a level), in the machine's byte order, not {contours.dtype}")
    if halo is None:
        halo = first_halo(contours, smoothing)
    if halo_limit is None:
        halo_limit = 16 * halo
    out_type = np.dtype(np.float32) if dtype is not None and np.dtype(dtype) == np.float32 \
        else contours.dtype
    log.info("tiles: %d x %d cells in chunks of %s x %s, first halo %d, limit %d",
             contours.shape[0], contours.shape[1], contours.chunks[0][0], contours.chunks[1][0],
             halo, halo_limit)
    source = _Source(contours)
    lines, columns = contours.shape
    reach = 0
    for sizes, side in zip(contours.chunks, contours.shape):
        start = 0
        for size in sizes:
            reach = max(reach, start, side - start - size)
            start += size
    if halo >= reach:
        # Every window would be the whole grid: build it once.
        log.info("tiles: the first halo covers the grid, one build of the whole grid")
        task = dask.delayed(build_chunk)(source, slice(0, lines), slice(0, columns),
                                         equidistance, smoothing, dtype, halo, halo_limit)
        whole = da.from_delayed(task, shape=contours.shape, dtype=out_type)
        return whole.rechunk(contours.chunks)
    blocks = []
    r0 = 0
    for h in contours.chunks[0]:
        row = []
        c0 = 0
        for w in contours.chunks[1]:
            task = dask.delayed(build_chunk)(
                source, slice(r0, r0 + h), slice(c0, c0 + w), equidistance, smoothing, dtype,
                halo, halo_limit)
            row.append(da.from_delayed(task, shape=(h, w), dtype=out_type))
            c0 += w
        blocks.append(row)
        r0 += h
    return da.block(blocks)
