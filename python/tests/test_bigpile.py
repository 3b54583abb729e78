"""The big piles from Python: exact results as NumPy arrays and integers."""

import copy
import pickle
import re

import numpy as np
import pytest

import btwsandpile as bs


def laplacian(u):
    padded = np.pad(u, 1)
    return padded[:-2, 1:-1] + padded[2:, 1:-1] + padded[1:-1, :-2] + padded[1:-1, 2:] - 4 * u


def test_centre_pile_is_its_point_pile_stabilised_with_an_odometer_that_explains_it():
    pile = bs.centre_pile(3000, odometer=True)
    side = pile.heights.shape[0]
    start = np.zeros((side, side), dtype=np.int64)
    start[side // 2, side // 2] = 3000
    plain = bs.stabilise(start, odometer=True)
    assert np.array_equal(plain.heights, pile.heights)
    assert np.array_equal(plain.odometer, pile.odometer)
    assert (plain.topplings, plain.grains, plain.grains_lost) == (pile.topplings, 3000, 0)
    assert np.array_equal(laplacian(pile.odometer), pile.heights - start)
    assert pile.centre_topplings == pile.odometer[side // 2, side // 2]
    assert pile.sites_of_height == tuple(np.bincount(pile.heights.ravel(), minlength=4))
    assert pile.heights.dtype == np.uint8 and pile.odometer is not None
    assert bs.centre_pile(3000).odometer is None
    for symmetric in (pile.heights.T, pile.heights[::-1], pile.heights[:, ::-1]):
        assert np.array_equal(symmetric, pile.heights)


def test_identity_is_idempotent_and_recurrent():
    e = bs.identity(50)
    assert np.array_equal(bs.stabilise(2 * e.heights.astype(np.int64)).heights, e.heights)
    assert any("recurrent" in check for check in e.checks)


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda: bs.centre_pile(-1), ValueError),
        (lambda: bs.centre_pile(bs.MAX_CENTRE_GRAINS + 1), ValueError),
        (lambda: bs.centre_pile(2.0), TypeError),
        (lambda: bs.centre_pile(True), TypeError),
        (lambda: bs.identity(0), ValueError),
        (lambda: bs.identity(bs.MAX_PILE_SIDE + 1), ValueError),
        (lambda: bs.identity("8"), TypeError),
        (lambda: bs.stabilise(np.array([[1, -2]])), ValueError),
        (lambda: bs.stabilise(np.zeros(4, dtype=int)), TypeError),
        (lambda: bs.stabilise(np.zeros((2, 2))), TypeError),
        (lambda: bs.stabilise(np.zeros((0, 3), dtype=int)), ValueError),
        (lambda: bs.stabilise(np.full((2, 2), 2**62)), ValueError),
        (lambda: bs.stabilise(np.array([[2**64 - 1]], dtype=np.uint64)), ValueError),
        (lambda: bs.stabilise(np.ma.masked_array(np.ones((2, 2), int), mask=[[0, 1], [0, 0]])), TypeError),
        (lambda: bs.identity(8, odometer=None), TypeError),
        (lambda: bs.centre_pile(8, odometer=2), TypeError),
        (lambda: bs.stabilise(np.ones((2, 2), int), odometer="yes"), TypeError),
    ],
)
def test_bad_arguments_raise_python_exceptions(call, error):
    with pytest.raises(error):
        call()


def test_stable_piles_are_read_only_views_and_pickle_and_copy_whole():
    pile = bs.identity(64, odometer=np.bool_(True))
    assert np.shares_memory(pile.heights, pile.heights) and np.shares_memory(pile.odometer, pile.odometer)
    assert not pile.heights.flags.writeable and not pile.odometer.flags.writeable
    for clone in (pickle.loads(pickle.dumps(pile)), copy.copy(pile), copy.deepcopy(pile)):
        assert np.array_equal(clone.heights, pile.heights) and np.array_equal(clone.odometer, pile.odometer)
        fields = lambda p: (p.grains, p.grains_lost, p.topplings, p.centre_topplings, p.sites_of_height, p.checks, repr(p))
        assert fields(clone) == fields(pile)
    assert pickle.loads(pickle.dumps(bs.centre_pile(100))).odometer is None


def test_sides_are_told_as_rows_by_columns_everywhere():
    assert repr(bs.stabilise(np.zeros((1, 300), int))).startswith("<StablePile 1 x 300,")
    with pytest.raises(ValueError, match="a pile of 0 x 5 sites"):
        bs.stabilise(np.zeros((0, 5), int))


def test_write_zoom_keeps_tiles_alike_once_and_replaces_only_its_own_folders(tmp_path):
    # 1000 x 700 sites of height 2: finest tiles of four kinds (whole, cut
    # on the right, at the bottom, at the corner) among 4 x 3.
    pile = bs.stabilise(np.full((1000, 700), 2))
    folder = tmp_path / "zoom"
    pile.write_zoom(folder, palette="heat")
    description = (folder / "pile.js").read_text()
    shared = dict(re.findall(r'"([^"]+)": "([^"]+)"', description.split('"shared"')[1]))
    finest = [f"tiles/2/{y}/{x}.png" for y in range(4) for x in range(3)]
    assert sorted(name for name in finest if (folder / name).exists()) == ["tiles/2/0/0.png", "tiles/2/0/2.png",
                                                                           "tiles/2/3/0.png", "tiles/2/3/2.png"]
    assert all(name in shared and (folder / shared[name]).is_file() for name in finest if not (folder / name).exists())
    assert '"levels": 3' in description and (folder / "index.html").is_file() and (folder / "leaflet/leaflet.js").is_file()

    bs.identity(10).write_zoom(str(folder))   # its own folder is replaced
    assert '"width": 10' in (folder / "pile.js").read_text()
    assert sorted(p.name for p in tmp_path.iterdir()) == ["zoom"]   # nothing left beside it


@pytest.mark.parametrize(
    "folder, palette, error",
    [
        ("kept", "window", ValueError),     # a folder the pile did not write
        ("new", "rainbow", ValueError),
        (3, "window", TypeError),
        ("no/such/place/zoom", "window", OSError),
    ],
)
def test_write_zoom_refuses_bad_arguments_and_leaves_everything(tmp_path, folder, palette, error):
    (tmp_path / "kept").mkdir()
    (tmp_path / "kept" / "mine.txt").write_text("mine")
    with pytest.raises(error):
        bs.identity(10).write_zoom(tmp_path / folder if isinstance(folder, str) else folder, palette=palette)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["kept"]
    assert [p.name for p in (tmp_path / "kept").iterdir()] == ["mine.txt"]
