"""Shared helpers: the built relief_forge program run on a grid, for the
DEM that the module must give to the bit."""

import os
import subprocess
from pathlib import Path

import numpy as np
import pytest

NO_DATA = -99999
SOURCE_DIR = Path(os.environ.get("RF_SOURCE_DIR", Path(__file__).resolve().parents[2]))
SANITIZED = os.environ.get("RF_SANITIZED") == "1"


def run_program(tmp_path, contours, equidistance, mesh):
    """The DEM the interactive program writes for `contours` (int32 or
    uint16) with the answers `equidistance` and `mesh`."""
    binary = os.environ.get("RF_BINARY")
    if not binary:
        pytest.skip("RF_BINARY names no built relief_forge program")
    bits16 = contours.dtype == np.uint16
    home = tmp_path / "home"
    folder = home / "images" / "t"
    folder.mkdir(parents=True, exist_ok=True)
    c, m = ("_c2", "_m2") if bits16 else ("_c4", "_m4")
    np.ascontiguousarray(contours).astype(contours.dtype.newbyteorder("<")).tofile(
        folder / f"g{c}.raw")
    lines, cols = contours.shape
    (folder / f"g{c}.txt").write_text(
        f"{lines}\n{cols}\n{2 if bits16 else 4}\n0\n0\n25\n")
    answers = f"t\ng\n{0 if bits16 else 1}\n0\n{equidistance}\n{mesh}\n"
    env = dict(os.environ, HOME=str(home))
    done = subprocess.run([binary], input=answers.encode(), env=env,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    assert done.returncode == 0, done.stdout.decode(errors="replace")[-2000:]
    dem = np.fromfile(folder / f"g{m}.raw", dtype="<u2" if bits16 else "<i4")
    (folder / f"g{m}.raw").unlink()
    return dem.reshape(lines, cols).astype(contours.dtype)


def random_contours(seed, lines, cols, equidistance, bits16=False, levels=12, base=0):
    """A grid of random contour strokes: horizontal and vertical runs of
    levels that are multiples of the equidistance, the rest empty (for
    32 bits) or 0 (for 16 bits, where every pixel is a level)."""
    rng = np.random.default_rng(seed)
    grid = np.full((lines, cols), 0 if bits16 else NO_DATA,
                   dtype=np.uint16 if bits16 else np.int32)
    for _ in range(max(2, lines * cols // 400)):
        level = base + equidistance * int(rng.integers(1, levels))
        i, j = int(rng.integers(0, lines)), int(rng.integers(0, cols))
        n = int(rng.integers(1, max(2, min(lines, cols) // 2)))
        if rng.random() < 0.5:
            grid[i, j:j + n] = level
        else:
            grid[i:i + n, j] = level
    return grid


@pytest.fixture
def program(tmp_path):
    return lambda contours, equidistance, mesh: run_program(tmp_path, contours, equidistance,
                                                            mesh)
