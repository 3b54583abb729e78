"""The pile against an independent reference, its views and its burning test."""

import _thread
import gc
import threading

import numpy as np
import pytest

import btwsandpile as bs
from conftest import ParkMiller, as_tuples, reference_drops, reference_run, topple


@pytest.mark.parametrize("side, seed", [(2, 1), (8, 1), (13, 123456789)])
def test_drops_match_the_reference(side, seed):
    grains = 60 * side * side
    expected_heights, expected = reference_drops(side, seed, grains)

    whole = bs.Sandpile(side, seed=seed)
    records = whole.drop(grains)
    assert as_tuples(records) == expected
    assert np.array_equal(whole.heights, expected_heights)
    assert whole.grains == grains
    assert whole.mean_height == pytest.approx(expected_heights.mean())
    assert whole.largest_avalanche == max(size for _, _, size, _, _ in expected)
    assert whole.avalanche_size == expected[-1][2]

    # Grains left after the last avalanche carry over to the next call.
    split = bs.Sandpile(side, seed=seed)
    first = split.drop(grains // 3)
    parts = np.concatenate([first, split.drop(grains - grains // 3)])
    fields = ("site", "size", "area", "duration")
    assert as_tuples(parts, fields) == as_tuples(records, fields)
    assert first["grains"].sum() <= grains // 3 < first["grains"].sum() + 4 * side * side
    assert np.array_equal(split.heights, expected_heights)


def test_sweeps_replay_parallel_toppling():
    side = 24
    pile = bs.Sandpile(side, seed=7)
    pile.drop(2 * side * side)
    random = ParkMiller(7)
    for _ in range(3 * side * side):   # the starting pile's draws and the grains'
        random.uniform()
    view = pile.heights   # taken once: it follows the pile
    z = view.copy()
    grains = pile.grains
    for row, column in [(0, 0), (12, 12), (0, 9), (23, 5), (11, 12)]:
        started = False
        while not started:
            started = pile.add(row, column)
            z[row, column] += 1
            grains += 1
            assert np.array_equal(view, z)
        assert pile.avalanche_in_progress and pile.avalanche_size == 0
        size = 0
        while pile.avalanche_in_progress:
            toppled = topple(z)
            assert pile.sweep() == toppled.sum()
            size += int(toppled.sum())
            assert np.array_equal(view, z)
            assert pile.avalanche_size == size
        assert (z <= 3).all()
    assert pile.mean_height == pytest.approx(z.mean())
    assert pile.grains == grains
    # drop() goes on from the pile the sweeps left, with the random draws
    # where the first drop() left them.
    expected = reference_run(z, random, side * side)
    assert as_tuples(pile.drop(side * side)) == expected
    assert np.array_equal(view, z)
    assert pile.grains == grains + side * side and pile.avalanche_size == expected[-1][2]
    with pytest.raises(RuntimeError, match="no avalanche"):
        pile.sweep()


def test_heights_are_a_read_only_view_that_keeps_the_pile():
    expected, _ = reference_drops(16, 3, 0)
    view = bs.Sandpile(16, seed=3).heights
    gc.collect()
    assert isinstance(view.base, bs.Sandpile)
    assert view.shape == (16, 16) and view.dtype == np.int32
    assert not view.flags.owndata and not view.flags.writeable
    assert np.array_equal(view, expected)
    with pytest.raises(ValueError, match="read-only"):
        view[0, 0] = 3
    pile = view.base
    assert np.shares_memory(pile.heights, view)
    pile.drop(100)
    assert np.array_equal(view, reference_drops(16, 3, 100)[0])


def test_burning_marks_exactly_the_recurrent_part():
    pile = bs.Sandpile(32, seed=11)
    fresh = pile.heights.copy()
    burnt = pile.burn()
    assert burnt.shape == (32, 32) and burnt.dtype == bool
    # Two neighbouring empty sites never burn, so the random start does not.
    rows, columns = np.nonzero((fresh[:, :-1] == 0) & (fresh[:, 1:] == 0))
    assert len(rows) > 0
    assert not burnt[rows, columns].any() and not burnt[rows, columns + 1].any()

    pile.drop(2 * 32 * 32)
    before = pile.heights.copy()
    assert pile.burn().all()
    assert np.array_equal(pile.heights, before)
    assert not bs.Sandpile(32, start="empty").burn().any()


@pytest.mark.parametrize("side", [2, 31, 100])
def test_the_stationary_start_is_a_steady_state_pile_from_the_seed(side):
    pile = bs.Sandpile(side, seed=9, start="stationary")
    z = pile.heights.copy()
    assert pile.grains == 0 and ((0 <= z) & (z <= 3)).all()
    assert pile.burn().all()
    assert np.array_equal(bs.Sandpile(side, seed=9, start="stationary").heights, z)
    if side > 2:
        assert not np.array_equal(bs.Sandpile(side, seed=10, start="stationary").heights, z)
    # Grains keep it in the steady state.
    pile.drop(side * side)
    assert pile.burn().all()


def test_threads_give_the_same_avalanches():
    grains = 20000
    expected = bs.Sandpile(48, seed=5).drop(2 * grains)

    results = {}
    def run(name, pile, count):
        results[name] = pile.drop(count)

    # Each thread its own pile: each sees the avalanches it sees alone.
    own = [threading.Thread(target=run, args=(k, bs.Sandpile(48, seed=5), 2 * grains)) for k in range(2)]
    # Both threads one pile: the calls take turns, whole.
    shared_pile = bs.Sandpile(48, seed=5)
    shared = [threading.Thread(target=run, args=(f"shared{k}", shared_pile, grains)) for k in range(2)]
    for thread in own + shared:
        thread.start()
    for thread in own + shared:
        thread.join()

    fields = ("site", "size", "area", "duration")
    for k in range(2):
        assert as_tuples(results[k]) == as_tuples(expected)
    orders = [np.concatenate([results["shared0"], results["shared1"]]),
              np.concatenate([results["shared1"], results["shared0"]])]
    assert as_tuples(expected, fields) in [as_tuples(order, fields) for order in orders]
    assert shared_pile.grains == 2 * grains and (shared_pile.heights <= 3).all()


@pytest.mark.parametrize("work", ["drop", "measure"])
def test_ctrl_c_stops_between_avalanches(work):
    pile = bs.Sandpile(64)
    # The timer's thread runs Python, so it fires only if the work lets the GIL go.
    timer = threading.Timer(0.3, _thread.interrupt_main)
    with pytest.raises(KeyboardInterrupt):
        timer.start()
        if work == "drop":
            pile.drop(10**15)
        else:
            bs.measure(sizes=64, grains=10**15, threads=2)
    timer.join()
    # Stable, counted right: the same grains replayed reach the same pile.
    assert not pile.avalanche_in_progress and (pile.heights <= 3).all()
    assert pile.mean_height == pytest.approx(pile.heights.mean())
    replay = bs.Sandpile(64)
    replay.drop(pile.grains)
    assert np.array_equal(replay.heights, pile.heights)
