"""Shared helpers: an independent reference pile in plain Python and NumPy,
and the tools the tests compare with."""

import os
import pathlib
import subprocess

import numpy as np
import pytest

MODULUS = 2**31 - 1


class ParkMiller:
    """The minimal standard generator, written out again from its definition."""

    def __init__(self, seed):
        self.state = seed

    def uniform(self):
        self.state = 16807 * self.state % MODULUS
        return (self.state - 1) * (1.0 / (MODULUS - 1))


def topple(z):
    """One parallel sweep in place: every site holding 4 or more gives one
    grain to each neighbour, grains over the edge are lost. Returns the mask
    of the sites that toppled."""
    unstable = z >= 4
    given = unstable.astype(z.dtype)
    z -= 4 * given
    z[1:, :] += given[:-1, :]
    z[:-1, :] += given[1:, :]
    z[:, 1:] += given[:, :-1]
    z[:, :-1] += given[:, 1:]
    return unstable


def reference_drops(side, seed, grains):
    """The window's starting pile and `grains` random grains, relaxed by
    parallel sweeps. Returns the final heights and one (site, grains, size,
    area, duration) tuple per avalanche."""
    random = ParkMiller(seed)
    z = np.array([int(random.uniform() * 4.0) for _ in range(side * side)], dtype=np.int32).reshape(side, side)
    return z, reference_run(z, random, grains)


def reference_run(z, random, grains):
    """`grains` grains dropped on the pile z (changed in place) from the
    generator `random`; one (site, grains, size, area, duration) tuple per
    avalanche."""
    side = z.shape[0]
    avalanches = []
    since = 0
    for _ in range(grains):
        site = min(int(random.uniform() * side * side), side * side - 1)
        since += 1
        z.flat[site] += 1
        if z.flat[site] < 4:
            continue
        toppled = np.zeros(z.shape, dtype=bool)
        size = duration = 0
        while (z >= 4).any():
            swept = topple(z)
            toppled |= swept
            size += int(swept.sum())
            duration += 1
        avalanches.append((site, since, size, int(toppled.sum()), duration))
        since = 0
    return avalanches


def as_tuples(records, fields=("site", "grains", "size", "area", "duration")):
    return [tuple(int(record[field]) for field in fields) for record in records]


def needed_libraries(path):
    """The shared libraries an ELF file names as needed."""
    dynamic = subprocess.run(["readelf", "-d", str(path)], capture_output=True, text=True, check=True).stdout
    return [line.split("[")[1].rstrip("]") for line in dynamic.splitlines() if "(NEEDED)" in line]


@pytest.fixture
def stats_tool():
    """The sandpile-stats program of the same build (ctest names it)."""
    tool = os.environ.get("SANDPILE_STATS")
    if not tool or not pathlib.Path(tool).exists():
        pytest.skip("SANDPILE_STATS does not name the sandpile-stats program")
    return tool
