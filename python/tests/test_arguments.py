"""Bad arguments and calls out of turn raise Python's usual exceptions, with
the pile left as it was."""

import json
import pathlib

import numpy as np
import pytest

import btwsandpile as bs

PILE_CALLS = [
    (lambda p: p.drop(-1), ValueError, "grains must be from 0"),
    (lambda p: p.drop(1.5), TypeError, "grains must be an integer, not float"),
    (lambda p: p.drop(None), TypeError, "grains must be an integer"),
    (lambda p: p.drop(True), TypeError, "grains must be an integer, not bool"),
    (lambda p: p.add(8, 0), IndexError, r"site \(8, 0\) is outside the pile"),
    (lambda p: p.add(0, -1), IndexError, "outside the pile"),
    (lambda p: p.add(0.0, 1), TypeError, "row must be an integer"),
    (lambda p: p.sweep(), RuntimeError, "no avalanche in progress"),
]

CONSTRUCTORS_AND_FUNCTIONS = [
    (lambda: bs.Sandpile(1), ValueError, "side must be from 2 to"),
    (lambda: bs.Sandpile(bs.MAX_SIDE + 1), ValueError, "side must be from 2 to"),
    (lambda: bs.Sandpile(8.0), TypeError, "side must be an integer"),
    (lambda: bs.Sandpile("8"), TypeError, "side must be an integer, not str"),
    (lambda: bs.Sandpile(8, seed=0), ValueError, "seed must be from 1 to 2147483646, not 0"),
    (lambda: bs.Sandpile(8, seed=-5), ValueError, "seed must be from 1"),
    (lambda: bs.Sandpile(8, seed=bs.MAX_SEED + 1), ValueError, "not 2147483647"),
    (lambda: bs.Sandpile(8, seed=2**80), ValueError, "seed must be from 1"),
    (lambda: bs.Sandpile(8, start="flat"), ValueError, "start must be 'window', 'stationary' or 'empty'"),
    (lambda: bs.Sandpile(8, start=None), TypeError, "start must be a string"),
    (lambda: bs.exact_topplings_per_grain(1), ValueError, "side must be from 2"),
    (lambda: bs.exact_topplings_per_grain(2.0), TypeError, "side must be an integer"),
    (lambda: bs.measure(sizes=[]), ValueError, "at least one side"),
    (lambda: bs.measure(sizes=[8, 1]), ValueError, f"each size must be from 2 to {bs.MAX_MEASURED_SIDE}, not 1"),
    (lambda: bs.measure(sizes=bs.MAX_MEASURED_SIDE + 1), ValueError, "each size must be from 2"),
    (lambda: bs.measure(sizes=[8, 8]), ValueError, "side 8 asked for twice"),
    (lambda: bs.measure(sizes=8, start="empty"), ValueError, "start must be 'stationary' or 'window'"),
    (lambda: bs.measure(sizes="8"), TypeError, "sizes must be an integer or a sequence"),
    (lambda: bs.measure(sizes=8, grains=0), ValueError, "grains must be from 1"),
    (lambda: bs.measure(sizes=8, runs=0), ValueError, "runs must be from 1"),
    (lambda: bs.measure(sizes=8, threads=-1), ValueError, "threads must be from 0"),
    (lambda: bs.measure(sizes=8, seed=0), ValueError, "seed must be from 1"),
    (lambda: bs.measure(sizes=8, warmup=-1), ValueError, "warmup must be from 0"),
    (lambda: bs.measure(sizes=8, first_run=-1), ValueError, "first_run must be from 0"),
    (lambda: bs.measure(sizes=[8, 16], grains=10**15, runs=10**6), ValueError, "too many grains"),
]


# Settings the series refuses, from the table sandpile-stats' tests share.
SETTINGS_FAULTS = json.loads((pathlib.Path(__file__).parents[2] / "tests/stats/settings_faults.json").read_text())


@pytest.mark.parametrize("row", SETTINGS_FAULTS, ids=lambda row: row["fault"][:30])
def test_settings_faults_are_the_command_lines(row):
    with pytest.raises(ValueError) as raised:
        bs.measure(**row["python"])
    assert str(raised.value) == row["fault"]


@pytest.mark.parametrize("call, error, message", CONSTRUCTORS_AND_FUNCTIONS)
def test_bad_arguments_raise(call, error, message):
    with pytest.raises(error, match=message):
        call()


@pytest.mark.parametrize("call, error, message", PILE_CALLS)
def test_bad_calls_leave_the_pile_as_it_was(call, error, message):
    pile = bs.Sandpile(8, seed=3)
    pile.drop(200)
    before = pile.heights.copy()
    with pytest.raises(error, match=message):
        call(pile)
    assert np.array_equal(pile.heights, before) and pile.grains == 200


@pytest.mark.parametrize("call", [lambda p: p.drop(1), lambda p: p.add(0, 0), lambda p: p.burn()])
def test_an_avalanche_in_progress_allows_only_sweeps(call):
    pile = bs.Sandpile(8, start="empty")
    while not pile.add(np.int64(4), np.int32(4)):   # NumPy integers are integers too
        pass
    before = pile.heights.copy()
    with pytest.raises(RuntimeError, match="avalanche is in progress"):
        call(pile)
    assert np.array_equal(pile.heights, before) and pile.grains == 4
    while pile.avalanche_in_progress:
        pile.sweep()
    call(pile)
