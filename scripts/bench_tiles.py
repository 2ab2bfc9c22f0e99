"""The surface in tiles on Dask against the whole grid's build, on real
terrain (the contour rasters of bench_python.py: matplotlib's topobathy.npz
resampled, contours every 40 m): for each side, the whole grid's build(),
the same grid built with the certificate carried from four cut sides
(build_window: its cost), and the tiled build on two threads, compared to the
bit, with the halos, refusals and fallbacks that the log counts. The tiles
run on the threaded scheduler (two threads of this process), where the log
is seen.

    PYTHONPATH=build/python python3 scripts/bench_tiles.py BUILD [--tile N] [--halo N] [SIDE...]

Not a test: it measures and prints.
"""

import argparse
import collections
import logging
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parent))
from bench_python import contour_raster  # noqa: E402

import relief_forge as rf  # noqa: E402


class Tally(logging.Handler):
    def __init__(self):
        super().__init__()
        self.halos = collections.Counter()
        self.refusals = 0
        self.fallbacks = 0

    def emit(self, record):
        text = record.getMessage()
        if "every cell certified" in text or "reaches the whole grid" in text:
            self.halos[int(text.split("halo ")[1].split(",")[0].split()[0])] += 1
        if "refused" in text:
            self.refusals += 1
        if "taken from the whole grid" in text:
            self.fallbacks += 1


def timed(f):
    t = time.perf_counter()
    out = f()
    return out, time.perf_counter() - t


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build", type=Path)
    ap.add_argument("sides", type=int, nargs="*", default=[2048, 4096])
    ap.add_argument("--tile", type=int, default=1024)
    ap.add_argument("--halo", type=int, default=None)
    ap.add_argument("--mesh", type=int, default=5)
    args = ap.parse_args()
    import dask
    import dask.array as da

    tally = Tally()
    log = logging.getLogger("relief_forge.tiles")
    log.addHandler(tally)
    log.setLevel(logging.INFO)
    with tempfile.TemporaryDirectory(prefix="relief_forge_tiles.") as tmp:
        work = Path(tmp)
        for side in args.sides:
            name, folder = contour_raster(work, side, args.build.resolve())
            contours = np.fromfile(folder / f"{name}_c4.raw", dtype="<i4").reshape(side, side)
            contours = contours.astype(np.int32)
            whole, t_whole = timed(lambda: rf.build(contours, 40, args.mesh))
            # The certificate in full: the whole grid taken as a window cut on
            # its four sides (nothing beyond them, so its DEM is the whole's).
            (dem, certain, passes), t_cert = timed(
                lambda: rf.build_window(contours, 40, args.mesh, cuts=(True,) * 4))
            assert (dem == whole).all()
            tally.__init__()
            lazy = da.from_array(contours, chunks=args.tile)
            with dask.config.set(scheduler="threads", num_workers=2):
                tiled, t_tiled = timed(
                    lambda: rf.build(lazy, 40, args.mesh, halo=args.halo).compute())
            same = bool((tiled == whole).all())
            print(f"{side} x {side}, mesh {args.mesh}, {passes} passes, tiles {args.tile}: whole "
                  f"{t_whole:.2f} s; with the certificate {t_cert:.2f} s "
                  f"({t_cert / t_whole:.2f}x, {certain.mean():.1%} certified); tiled on 2 threads {t_tiled:.2f} s "
                  f"({t_tiled / t_whole:.2f}x), bytes equal: {same}; chunks by final halo "
                  f"{dict(sorted(tally.halos.items()))}, refusals {tally.refusals}, "
                  f"fallbacks {tally.fallbacks}", flush=True)


if __name__ == "__main__":
    main()
