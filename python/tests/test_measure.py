"""measure() against the real sandpile-stats: the same report, the same exact
counts, and drop() sees the avalanches the tool tallies."""

import csv
import subprocess
from collections import Counter

import pytest

import btwsandpile as bs
from conftest import needed_libraries


def raw_counts(folder, side):
    """The exact tally of raw_L<side>.csv: {quantity: {value: count}}."""
    counts = {}
    with open(folder / f"raw_L{side}.csv", newline="") as raw:
        for row in csv.DictReader(raw):
            if row["record"] in ("size", "area", "duration", "height"):
                counts.setdefault(row["record"], {})[int(row["key"])] = int(row["value"])
    return counts


@pytest.mark.parametrize("start", ["stationary", "window"])
def test_measure_prints_and_counts_what_the_tool_does(stats_tool, tmp_path, start):
    arguments = ["--size", "8", "--size", "21", "--grains", "3000", "--runs", "2", "--seed", "5", "--start", start]
    printed = subprocess.run([stats_tool, *arguments, "--threads", "2", "--csv", str(tmp_path)],
                             capture_output=True, text=True, check=True).stdout
    measured = bs.measure(sizes=[8, 21], grains=3000, runs=2, seed=5, threads=1, start=start)
    assert measured.report == printed == str(measured)
    assert measured.runs == [0, 1] and not measured.interrupted

    for side in measured.sides:
        raw = raw_counts(tmp_path, side.side)
        for quantity in ("size", "area", "duration"):
            distribution = getattr(side, f"{quantity}_distribution")
            assert dict(zip(distribution["value"].tolist(), distribution["count"].tolist())) == raw[quantity]
        assert side.height_counts.tolist() == [raw["height"].get(z, 0) for z in range(4)]
        sizes = side.size_distribution
        assert side.topplings == (sizes["value"] * sizes["count"]).sum()
        assert side.avalanches == sizes["count"].sum()
        assert side.topplings_per_grain == side.topplings / side.grains
        assert side.exact_topplings_per_grain == bs.exact_topplings_per_grain(side.side)
        assert side.height_probability.tolist() == (side.height_counts / side.height_counts.sum()).tolist()


@pytest.mark.parametrize("start", ["stationary", "window"])
def test_drop_sees_the_avalanches_the_tool_tallies(stats_tool, tmp_path, start):
    grains = 2000
    subprocess.run([stats_tool, "--size", "9", "--grains", str(grains), "--warmup", "50", "--seed", "77",
                    "--start", start, "--csv", str(tmp_path)], capture_output=True, check=True)
    # Both stop after exactly the grains asked for: the same avalanches, none more.
    pile = bs.Sandpile(9, seed=77, start=start)
    pile.drop(50)
    records = pile.drop(grains)
    raw = raw_counts(tmp_path, 9)
    for quantity in ("size", "area", "duration"):
        assert Counter(records[quantity].tolist()) == raw[quantity]


def test_the_module_links_no_qt():
    needed = needed_libraries(bs._btwsandpile.__file__)
    assert needed and not [library for library in needed if "Qt" in library]
