"""relief_forge on dask arrays: each chunk from a certified window, the whole
always equal to the whole grid's build, to the bit."""

import logging

import numpy as np
import pytest

import relief_forge as rf
from conftest import NO_DATA, SOURCE_DIR, random_contours

da = pytest.importorskip("dask.array")


def sample():
    raw = np.fromfile(SOURCE_DIR / "data" / "sample" / "hills_c4.raw", dtype="<i4")
    return raw.reshape(300, 400).astype(np.int32)


def negative_columns():
    grid = np.full((40, 90), NO_DATA, dtype=np.int32)
    grid[:, ::29] = -1024
    grid[:, 14] = -2048
    return grid


# (name, contours, equidistance, mesh, chunks, first halo, halo limit, dtype):
# halos too small to begin with, so that they double; limits so small that
# chunks fall back on the whole grid; chunks of one to three cells.
CASES = [
    ("sample m1", sample, 10, 1, (64, 96), 8, 128, None),
    ("sample m5 float", sample, 10, 5, (100, 150), 16, 64, np.float32),
    ("negative columns", negative_columns, 512, 1, (13, 17), 2, 8, None),
    ("negative m3", lambda: random_contours(4, 61, 47, 3, base=-40), 3, 3, (20, 9), 4, 64, None),
    ("tiny chunks", lambda: random_contours(2, 9, 11, 5, base=-200), 5, 1, (1, 3), 1, 4, None),
    ("16 bits m4", lambda: random_contours(8, 50, 44, 50, bits16=True), 50, 4, (16, 16), 5, 40,
     None),
    ("one line", lambda: random_contours(9, 1, 300, 10), 10, 1, (1, 37), 2, 64, None),
]


@pytest.mark.parametrize("name,make,equid,mesh,chunks,halo,limit,dtype", CASES,
                         ids=[c[0] for c in CASES])
def test_tiles_equal_the_whole_grid(name, make, equid, mesh, chunks, halo, limit, dtype):
    contours = make()
    lazy = da.from_array(contours, chunks=chunks)
    result = rf.build(lazy, equid, mesh, dtype=dtype, halo=halo, halo_limit=limit)
    assert result.chunks == lazy.chunks
    got = result.compute()
    np.testing.assert_array_equal(got, rf.build(contours, equid, mesh, dtype=dtype))


def test_the_log_says_halos_refusals_and_fallbacks(caplog):
    contours = negative_columns()
    with caplog.at_level(logging.INFO, logger="relief_forge.tiles"):
        rf.build(da.from_array(contours, chunks=(20, 30)), 512, halo=1, halo_limit=2).compute()
    text = caplog.text
    assert "halo 1" in text and "halo 2" in text
    assert "cells refused; doubling" in text
    assert "taken from the whole grid" in text


def test_the_first_halo_is_used_when_none_is_given(caplog):
    contours = random_contours(3, 70, 60, 10)
    with caplog.at_level(logging.INFO, logger="relief_forge.tiles"):
        got = rf.build(da.from_array(contours, chunks=(35, 30)), 10).compute()
    np.testing.assert_array_equal(got, rf.build(contours, 10))
    assert "first halo" in caplog.text


def test_a_whole_grid_refusal_is_raised():
    with pytest.raises(rf.Error, match="no contour pixel"):
        rf.build(da.full((30, 30), NO_DATA, dtype=np.int32, chunks=10), 5, halo=2).compute()


@pytest.mark.parametrize("seed", range(6))
def test_certified_window_cells_equal_the_whole_grid(seed):
    rng = np.random.default_rng(seed)
    contours = random_contours(seed, 60, 70, 7, base=-35 if seed % 2 else 0)
    mesh = [1, 3, 5][seed % 3]
    whole = rf.build(contours, 7, mesh)
    for _ in range(10):
        i0, j0 = (int(x) for x in rng.integers(0, 40, 2))
        i1, j1 = i0 + int(rng.integers(mesh + 1, 60 - i0 + 1)), j0 + int(rng.integers(mesh + 1, 70 - j0 + 1))
        window = contours[i0:i1, j0:j1]
        if not (window != NO_DATA).any():
            continue
        cuts = (i0 > 0, i1 < 60, j0 > 0, j1 < 70)
        dem, certain, passes = rf.build_window(window, 7, mesh, cuts=cuts)
        assert certain.shape == dem.shape and passes >= 1
        np.testing.assert_array_equal(dem[certain], whole[i0:i1, j0:j1][certain])
        if not any(cuts):
            assert certain.all()


def test_build_window_refuses_cuts_that_are_not_four_sides():
    with pytest.raises(rf.Error, match="four flags"):
        rf.build_window(random_contours(1, 10, 10, 5), 5, cuts=(True, False))
