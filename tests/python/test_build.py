"""relief_forge.build: the program's DEM to the bit, every refusal as
relief_forge.Error, and a good citizen of a Python process."""

import os
import signal
import subprocess
import sys
import threading

import numpy as np
import pytest

import relief_forge as rf
from conftest import NO_DATA, SANITIZED, SOURCE_DIR, random_contours


def sample():
    raw = np.fromfile(SOURCE_DIR / "data" / "sample" / "hills_c4.raw", dtype="<i4")
    return raw.reshape(300, 400).astype(np.int32)


# (name, contours, equidistance, mesh): every mesh size class (none, below
# and at 1, even, odd, the largest), 32- and 16-bit, negative levels.
BIT_CASES = [
    ("sample m1", sample, 10, 1),
    ("sample m5", sample, 10, 5),
    ("random32 m-3", lambda: random_contours(1, 97, 131, 7), 7, -3),
    ("random32 m0", lambda: random_contours(2, 64, 80, 5, base=-200), 5, 0),
    ("random32 m2", lambda: random_contours(3, 120, 90, 25), 25, 2),
    ("random32 m3 negative", lambda: random_contours(4, 101, 77, 3, base=-40), 3, 3),
    ("random32 m33", lambda: random_contours(5, 70, 60, 100, base=5000), 100, 33),
    ("random32 widest mesh", lambda: random_contours(6, 12, 40, 10), 10, 11),
    ("random16 m1", lambda: random_contours(7, 80, 96, 10, bits16=True), 10, 1),
    ("random16 m4", lambda: random_contours(8, 90, 64, 50, bits16=True, base=60000 // 50 * 50 - 600), 50, 4),
    ("one line", lambda: random_contours(9, 1, 300, 10), 10, 1),
]


@pytest.mark.parametrize("name,make,equidistance,mesh", BIT_CASES, ids=[c[0] for c in BIT_CASES])
def test_same_dem_as_the_program(program, name, make, equidistance, mesh):
    contours = make()
    before = contours.copy()
    dem = rf.build(contours, equidistance, mesh)
    assert dem.dtype == contours.dtype and dem.shape == contours.shape
    assert dem.flags.c_contiguous
    np.testing.assert_array_equal(dem, program(contours, equidistance, mesh))
    np.testing.assert_array_equal(contours, before)


@pytest.mark.parametrize("view", [
    lambda a: a.T,
    lambda a: a[::-1, ::2],
    lambda a: a[3:, 1::3],
    lambda a: np.asfortranarray(a),
    lambda a: np.lib.stride_tricks.as_strided(a, (a.shape[0] // 2, a.shape[1]), (a.strides[0] * 2, a.strides[1])),
])
@pytest.mark.parametrize("bits16", [False, True])
def test_any_strides_give_the_dem_of_the_copy(view, bits16):
    grid = random_contours(11, 90, 120, 10, bits16=bits16)
    v = view(grid)
    before = grid.copy()
    np.testing.assert_array_equal(rf.build(v, 10, 3), rf.build(np.ascontiguousarray(v), 10, 3))
    np.testing.assert_array_equal(grid, before)


def test_float32_is_the_surface_before_its_truncation():
    grid = random_contours(12, 64, 64, 10)
    surface = rf.build(grid, 10, 3, dtype=np.float32)
    dem = rf.build(grid, 10, 3)
    assert surface.dtype == np.float32
    # The DEM truncates toward zero what the surface holds exactly.
    assert np.all(np.abs(surface - dem) < 1)
    assert np.any(surface != dem)
    assert np.array_equal(rf.build(grid, 10, 3, dtype=np.int32), dem)


def grid_with(values, shape=(20, 30)):
    g = np.full(shape, NO_DATA, np.int32)
    g[5, :] = values[0]
    g[15, :] = values[-1]
    return g


HUGE = np.broadcast_to(np.int32(5), (1, 2**31))
REFUSALS = [
    ("float64", np.zeros((5, 5)), 10, 1, {}, "must be int32 .* or uint16 .* not float64"),
    ("int64", np.zeros((5, 5), np.int64), 10, 1, {}, "not int64"),
    ("big-endian", grid_with([10, 20]).astype(">i4"), 10, 1, {}, r"not int32 \(big-endian\)"),
    ("3-D", np.zeros((2, 5, 5), np.int32), 10, 1, {}, "2 dimensions, not 3"),
    ("1-D", np.zeros(5, np.int32), 10, 1, {}, "2 dimensions, not 1"),
    ("empty", np.full((6, 7), NO_DATA, np.int32), 10, 1, {}, "^The file contours holds no contour pixel$"),
    ("no cells", np.zeros((0, 7), np.int32), 10, 1, {}, "holds no contour pixel"),
    ("equidistance 0", grid_with([10, 20]), 0, 1, {}, "^The equidistance must be a positive number$"),
    ("equidistance < 0", grid_with([10, 20]), -5, 1, {}, "^The equidistance must be a positive number$"),
    ("equidistance huge", grid_with([10, 20]), 2**40, 1, {}, "at most 2147483647"),
    ("equidistance float", grid_with([10, 20]), 2.5, 1, {}, "must be a whole number, not float"),
    ("mesh float", grid_with([10, 20]), 10, 3.0, {}, "^The smoothing mesh must be a whole number, not float$"),
    ("equidistance bool", grid_with([10, 20]), True, 1, {}, "must be a whole number, not bool"),
    ("mesh too wide", grid_with([10, 20]), 10, 34, {}, "^The smoothing mesh must be 1 or less, or from 2 to 19 for this image$"),
    ("mesh huge", grid_with([10, 20], (50, 50)), 10, 2**70, {}, "from 2 to 33 for this image"),
    ("too small to smooth", grid_with([10, 20], (20, 2)), 10, 3, {}, "^This image is too small to be smoothed : the mesh must be 1 or less$"),
    ("scaled too large", grid_with([10, 2_000_000_000]), 1, 1, {}, "^The altitude 2000000000 is too large for the equidistance 1 : the smallest equidistance that fits is"),
    ("does not come back", grid_with([10, 2147483000]), 1000000, 1, {}, "^The altitude 2147483000 does not come back within the int range"),
    ("dtype float64", grid_with([10, 20]), 10, 1, {"dtype": np.float64}, "as float32, not float64"),
    ("dtype uint16 for int32", grid_with([10, 20]), 10, 1, {"dtype": np.uint16}, "not uint16"),
    ("too many pixels", np.broadcast_to(np.int32(5), (2, 2**30)), 10, 1, {}, "^A grid of 2 lines and 1073741824 columns is larger than this program can index : at most 2147483647 pixels, and at most 536870910 lines or columns$"),
    ("side past the int range", HUGE, 10, 1, {}, "^A grid of 1 lines and 2147483648 columns is larger than this program can index : at most 2147483647 pixels, and at most 536870910 lines or columns$"),
    ("side too long", np.broadcast_to(np.int32(5), (2**29, 1)), 10, 1, {}, "larger than this program can index"),
]


@pytest.mark.parametrize("name,contours,equidistance,mesh,kw,message", REFUSALS, ids=[r[0] for r in REFUSALS])
def test_refusals_are_errors_with_the_program_message(name, contours, equidistance, mesh, kw, message, capfd):
    with pytest.raises(rf.Error, match=message) as caught:
        rf.build(contours, equidistance, mesh, **kw)
    assert isinstance(caught.value, ValueError)
    assert capfd.readouterr() == ("", "")


def test_quiet_on_the_console(capfd):
    rf.build(random_contours(13, 300, 300, 10), 10, 3)
    assert capfd.readouterr() == ("", "")


@pytest.mark.skipif(SANITIZED, reason="the sanitizers reserve more address space than the limit")
@pytest.mark.parametrize("gib,message", [
    (1.0, "Not enough memory for a grid of 10000 lines and 10000 columns"),
    (1.7, "Not enough memory to go on"),
])
def test_memory_running_out_is_an_error(gib, message):
    # Grids of 400 MB, in a process whose address space is limited: the
    # engine's grids, or later its working storage, do not fit.
    code = (
        "import resource, numpy as np, relief_forge as rf\n"
        f"resource.setrlimit(resource.RLIMIT_AS, ({int(gib * 2**30)},) * 2)\n"
        "g = np.full((10000, 10000), -99999, np.int32)\n"
        "g[::97, :] = 50\n"
        "g[:, ::101] = 70\n"
        "try:\n"
        "    rf.build(g, 10)\n"
        "except rf.Error as e:\n"
        "    print(e)\n"
    )
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                          timeout=300)
    assert done.returncode == 0, done.stderr
    assert done.stdout.startswith(message), done.stdout


def test_two_threads_build_at_once_each_its_own_dem():
    grids = [random_contours(20 + k, 1000, 900, 10, base=100 * k) for k in range(2)]
    meshes = [1, 5]
    alone = [rf.build(g, 10, m) for g, m in zip(grids, meshes)]
    results = [None, None]
    stages = [[], []]
    barrier = threading.Barrier(2)

    def one(k):
        barrier.wait()
        results[k] = rf.build(grids[k], 10, meshes[k],
                              progress=lambda s, f: stages[k].append((threading.get_ident(), s)))

    threads = [threading.Thread(target=one, args=(k,)) for k in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for k in range(2):
        np.testing.assert_array_equal(results[k], alone[k])
        # Progress comes from the thread that called build.
        assert {ident for ident, _ in stages[k]} == {threads[k].ident}
    assert [s for _, s in stages[1]][-1] == "smoothing"


def slow_contours():
    # Two contours at the far edges of a large grid: many dilation passes.
    g = np.full((2000, 2000), NO_DATA, np.int32)
    g[0, :] = 100
    g[-1, :] = 5000
    g[:, 0] = 100
    return g


@pytest.mark.parametrize("sender", ["callback", "thread"])
def test_ctrl_c_stops_the_build_with_keyboard_interrupt(sender):
    if threading.current_thread() is not threading.main_thread():
        pytest.skip("signals reach the main thread only")
    stages = []
    started = threading.Event()

    def progress(stage, fraction):
        stages.append(stage)
        if stage == "dilation" and fraction == 0.0:
            if sender == "callback":
                os.kill(os.getpid(), signal.SIGINT)
            started.set()

    def send():
        started.wait(60)
        os.kill(os.getpid(), signal.SIGINT)

    sender_thread = threading.Thread(target=send) if sender == "thread" else None
    if sender_thread:
        sender_thread.start()
    with pytest.raises(KeyboardInterrupt):
        rf.build(slow_contours(), 100, 5, progress=progress)
    if sender_thread:
        sender_thread.join()
    # Stopped at a safe point of the dilation, before its end.
    if sender == "callback":
        assert stages == ["dilation"]
    # The module is whole afterwards.
    g = random_contours(30, 50, 50, 10)
    np.testing.assert_array_equal(rf.build(g, 10), rf.build(g.copy(), 10))


def test_an_exception_from_progress_stops_the_build():
    def progress(stage, fraction):
        raise RuntimeError("enough")

    with pytest.raises(RuntimeError, match="enough"):
        rf.build(slow_contours(), 100, progress=progress)
    with pytest.raises(TypeError):
        rf.build(slow_contours(), 100, progress=3)


def test_progress_reports_every_stage_in_order():
    seen = []
    rf.build(random_contours(40, 500, 400, 10), 10, 3, progress=lambda s, f: seen.append((s, f)))
    assert [s for s, _ in seen if _ in (0.0, 1.0)][:6] == [
        "dilation", "dilation", "gap filling", "gap filling", "smoothing", "smoothing"][:6]
    smoothing = [f for s, f in seen if s == "smoothing"]
    assert smoothing == sorted(smoothing) and smoothing[-1] == 1.0 and len(smoothing) > 3
