"""The module under careless and hostile use: calls waiting for a busy pile,
cancelled drops, objects never initialised, NumPy's arrays and scalars as
arguments; and the measurements' soundness: short runs unbiased, the memory
that the documentation states."""

import math
import os
import re
import subprocess
import sys
import textwrap
import threading

import numpy as np
import pytest

import btwsandpile as bs


def run_python(script, timeout=120):
    """Runs a script in a fresh interpreter with this module; the timeout only
    guards against a hang, which is a failure."""
    return subprocess.run([sys.executable, "-c", textwrap.dedent(script)], capture_output=True, text=True,
                          timeout=timeout, env=dict(os.environ, PYTHONDONTWRITEBYTECODE="1"))


def replayed(pile):
    """The same start and seed after the grains the pile counts."""
    replay = bs.Sandpile(pile.side, seed=pile.seed)
    replay.drop(pile.grains)
    return replay


# --- Short runs: exactly the grains asked for, unbiased -------------------------

@pytest.mark.parametrize("side, grains, runs", [(2, 1, 40000), (2, 3, 20000), (16, 1, 80000)])
def test_short_runs_average_to_the_exact_topplings_per_grain(side, grains, runs):
    measured = bs.measure(sizes=side, grains=grains, runs=runs, seed=17, threads=2)
    s = measured.sides[0]
    exact = bs.exact_topplings_per_grain(side)
    assert s.grains == grains * runs and f"{grains * runs} of {grains * runs} asked for" in measured.report
    assert s.topplings_per_grain == s.topplings / s.grains
    if grains == 1:
        # One grain a run: each run topples an avalanche's size or nothing,
        # so the standard error comes straight from the size distribution.
        sizes = s.size_distribution
        quiet = runs - sizes["count"].sum()
        mean = (sizes["value"] * sizes["count"]).sum() / runs
        variance = (((sizes["value"] - mean) ** 2 * sizes["count"]).sum() + quiet * mean**2) / (runs - 1)
        error = math.sqrt(variance / runs)
        assert quiet > 0 and s.topplings_error == pytest.approx(error, rel=1e-9)
    else:
        error = s.topplings_error   # batch means over blocks, one per run here
    # Seeded, so the outcome is fixed; 4 standard errors either way.
    assert abs(s.topplings_per_grain - exact) < 4 * error


