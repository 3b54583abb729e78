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


# --- Waiting for a busy pile, and cancelling a drop ---------------------------

# In its own interpreter: a call that never ended would hang the suite.
WAIT_SCRIPT = """
    import _thread, sys, threading
    import btwsandpile as bs

    pile = bs.Sandpile(64)
    outcome = {}

    def drop_for_ever():
        try:
            pile.drop(10**15)
        except bs.Cancelled:
            outcome["drop"] = "cancelled"

    def wait_for_pile():
        while True:   # until the other thread holds the pile
            WAITING_CALL

    def interrupt_the_wait():
        main = threading.main_thread().ident
        while sys._current_frames()[main].f_code is not wait_for_pile.__code__:
            pass
        _thread.interrupt_main()

    dropper = threading.Thread(target=drop_for_ever)
    dropper.start()
    while sys._current_frames().get(dropper.ident) is None or \\
            sys._current_frames()[dropper.ident].f_code is not drop_for_ever.__code__:
        pass
    threading.Thread(target=interrupt_the_wait).start()
    try:
        wait_for_pile()
    except KeyboardInterrupt:
        outcome["wait"] = "interrupted"
    pile.cancel()
    dropper.join()
    print(outcome["wait"], outcome["drop"], pile.grains, bool((pile.heights <= 3).all()))
"""


@pytest.mark.parametrize("call", ["pile.grains", "pile.drop(10)", "pile.burn()", "repr(pile)"])
def test_ctrl_c_ends_a_wait_for_a_busy_pile(call):
    result = run_python(WAIT_SCRIPT.replace("WAITING_CALL", call))
    assert result.returncode == 0, result.stderr
    wait, drop, grains, stable = result.stdout.split()
    assert (wait, drop, stable) == ("interrupted", "cancelled", "True") and int(grains) > 0


def test_cancel_stops_a_drop_on_another_thread():
    pile = bs.Sandpile(48, seed=4)
    pile.drop(100)
    # With no drop running, the next one is stopped before its first grain.
    pile.cancel()
    with pytest.raises(bs.Cancelled, match="every grain dropped until then counted"):
        pile.drop(10)
    assert pile.grains == 100
    assert len(pile.drop(500)) > 0   # honoured once: the next drop runs whole

    raised = []
    def drop_for_ever():
        try:
            pile.drop(10**15)
        except RuntimeError as error:   # Cancelled is a RuntimeError
            raised.append(error)
    dropper = threading.Thread(target=drop_for_ever)
    dropper.start()
    pile.cancel()
    dropper.join()
    assert isinstance(raised[0], bs.Cancelled)
    # Stable, counted right: the same grains replayed reach the same pile.
    assert not pile.avalanche_in_progress and (pile.heights <= 3).all()
    replay = bs.Sandpile(48, seed=4)
    replay.drop(pile.grains)
    assert np.array_equal(replay.heights, pile.heights)


# --- Objects never initialised -------------------------------------------------

UNINITIALISED_SCRIPT = """
    import btwsandpile as bs
    arguments = {"drop": (10,), "add": (0, 0)}
    def outcome(call):
        try:
            call()
            return "returned"
        except Exception as error:
            return type(error).__name__ + ": " + str(error)
    for name in [name for name in dir(bs.Sandpile) if not name.startswith("_")] + ["__repr__"]:
        attribute = getattr(bs.Sandpile, name)
        use = attribute.fget if isinstance(attribute, property) else attribute
        print(name, "|", outcome(lambda: use(bs.Sandpile.__new__(bs.Sandpile), *arguments.get(name, ()))))
    print("drop on an int |", outcome(lambda: bs.Sandpile.drop(5, 10)))
    for kind in (bs.Measurement, bs.SideStatistics, bs.PowerLawFit, bs.StablePile):
        print(kind.__name__, "|", outcome(lambda: kind.__new__(kind)))
"""


def test_objects_never_initialised_raise_and_never_crash():
    result = run_python(UNINITIALISED_SCRIPT)
    assert result.returncode == 0, result.stderr
    outcomes = dict(line.split(" | ") for line in result.stdout.splitlines())
    assert {"heights", "grains", "side", "drop", "cancel", "__repr__"} <= set(outcomes)
    for name, outcome in outcomes.items():
        if name in ("Measurement", "SideStatistics", "PowerLawFit", "StablePile"):
            assert outcome == f"TypeError: cannot make {name} objects: the module's functions return them"
        elif name == "drop on an int":
            assert outcome == "TypeError: a Sandpile method needs a Sandpile, not int"
        else:
            assert outcome.startswith("TypeError: this Sandpile was never initialised"), name
    # The module still makes its own results.
    assert isinstance(bs.measure(sizes=4, grains=10).sides[0].size_fit, bs.PowerLawFit)


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


# --- NumPy arrays and scalars as arguments ---------------------------------------

def test_numpy_arrays_and_integers_serve_as_python_ones():
    plain = bs.measure(sizes=[8, 16], grains=500, runs=2, threads=1, seed=5, warmup=3, first_run=1)
    for sizes in (np.array([8, 16]), np.array([8, 16], dtype=np.uint8), (8, 16), range(8, 17, 8),
                  [np.int16(8), np.int64(16)]):
        numpy = bs.measure(sizes=sizes, grains=np.int64(500), runs=np.int32(2), threads=np.uint8(1),
                           seed=np.int16(5), warmup=np.uint64(3), first_run=np.int8(1))
        assert numpy.report == plain.report, sizes
    assert bs.measure(sizes=np.array(8), grains=100).sides[0].side == 8
    pile = bs.Sandpile(np.int32(8), seed=np.uint32(3))
    pile.drop(np.int64(200))
    pile.add(np.uint8(1), np.int16(2))
    assert pile.grains == 201


@pytest.mark.parametrize("call, message", [
    (lambda true: bs.Sandpile(8, seed=true), "seed must be an integer, not"),
    (lambda true: bs.Sandpile(true), "side must be an integer, not"),
    (lambda true: bs.Sandpile(8).drop(true), "grains must be an integer, not"),
    (lambda true: bs.Sandpile(8).add(true, 0), "row must be an integer, not"),
    (lambda true: bs.Sandpile(8).add(0, true), "column must be an integer, not"),
    (lambda true: bs.measure(sizes=8, seed=true), "seed must be an integer, not"),
    (lambda true: bs.measure(sizes=[8, true]), "each size must be an integer, not"),
    (lambda true: bs.exact_topplings_per_grain(true), "side must be an integer, not"),
])
def test_numpy_bools_are_refused_as_python_bools_are(call, message):
    for true, name in ((True, "bool"), (np.bool_(True), "numpy.bool_")):
        with pytest.raises(TypeError, match=f"{message} {name}$"):
            call(true)


@pytest.mark.parametrize("sizes, error, message", [
    (np.array([[8, 16]]), TypeError, "sizes must be an integer or a sequence of integers, not a 2-D array"),
    (np.array([8.0, 16.0]), TypeError, "each size must be an integer, not numpy.float64"),
    (np.array([], dtype=np.int64), ValueError, "sizes must name at least one side"),
    (np.array([8, 8]), ValueError, "side 8 asked for twice"),
    (np.array(1), ValueError, "each size must be from 2"),
])
def test_bad_size_arrays_name_the_argument(sizes, error, message):
    with pytest.raises(error, match=re.escape(message)):
        bs.measure(sizes=sizes, grains=10)


# --- Memory, as documented ----------------------------------------------------

# Starts the command and prints its exit code and peak resident kilobytes.
# Linux counts in a child's peak that of the process it was forked from, so
# the child comes from this small interpreter, not from the test's.
PEAK_SCRIPT = "import os, subprocess, sys; child = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL); " \
              "_, status, usage = os.wait4(child.pid, 0); print(os.waitstatus_to_exitcode(status), usage.ru_maxrss)"


def peak_resident_bytes(command):
    result = subprocess.run([sys.executable, "-S", "-c", PEAK_SCRIPT, *command], capture_output=True, text=True,
                            check=True)
    code, kilobytes = result.stdout.split()
    assert code == "0", result.stderr
    return int(kilobytes) * 1024


MANUAL = os.path.join(os.path.dirname(__file__), "..", "..", "stats", "sandpile-stats.1")


@pytest.mark.parametrize("program", ["sandpile-stats", "Sandpile"])
def test_peak_memory_per_site_is_what_the_documentation_states(program, request):
    if program == "sandpile-stats":
        stats_tool = request.getfixturevalue("stats_tool")
        with open(MANUAL) as page:
            documentation = page.read().replace("\\ ", " ")
        run = lambda side: [stats_tool, "--grains", "1000", "--threads", "1", "--size", str(side)]
    else:
        documentation = bs.Sandpile.__doc__
        pile = "import btwsandpile as bs; p = bs.Sandpile({}); p.drop(1000)"
        run = lambda side: [sys.executable, "-c", pile.format(side)]
    stated = re.search(r"about (\d+) bytes a site", " ".join(documentation.split()))
    # Two sides, so that the program's own memory cancels.
    small, large = (peak_resident_bytes(run(side)) for side in (64, 1536))
    measured = (large - small) / (1536**2 - 64**2)
    assert stated and 0.8 * int(stated.group(1)) < measured < 1.2 * int(stated.group(1))
