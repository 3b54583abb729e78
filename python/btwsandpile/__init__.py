"""The Bak-Tang-Wiesenfeld sandpile: the engine of the Sandpile program and
of sandpile-stats, for Python.

    import btwsandpile as bs
    pile = bs.Sandpile(149)            # the window's starting pile, seed 1
    pile = bs.Sandpile(149, start="stationary")   # an exact steady-state pile
    avalanches = pile.drop(1_000_000)  # a NumPy record array: site, grains, size, area, duration
    pile.heights                       # read-only (L, L) view of the heights
    bs.measure(sizes=[64, 128], grains=10**6, runs=4)   # what sandpile-stats measures

Sandpile   one pile: drop(), add() and sweep(), burn(), heights
Cancelled  what a drop() stopped by the pile's cancel() raises
measure    sandpile-stats' measurements, as numbers and arrays
exact_topplings_per_grain, exact_height_probabilities   the exact values
MIN_SIDE, MAX_SIDE, MAX_MEASURED_SIDE, MAX_SEED          the ranges
"""

from ._btwsandpile import (
    MAX_MEASURED_SIDE,
    MAX_SEED,
    MAX_SIDE,
    MIN_SIDE,
    Cancelled,
    Measurement,
    PowerLawFit,
    Sandpile,
    SideStatistics,
    exact_height_probabilities,
    exact_topplings_per_grain,
    measure,
)

__version__ = "1.0.0"

__all__ = [
    "MAX_MEASURED_SIDE",
    "MAX_SEED",
    "MAX_SIDE",
    "MIN_SIDE",
    "Cancelled",
    "Measurement",
    "PowerLawFit",
    "Sandpile",
    "SideStatistics",
    "exact_height_probabilities",
    "exact_topplings_per_grain",
    "measure",
]
