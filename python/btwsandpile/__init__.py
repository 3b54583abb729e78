"""The Bak-Tang-Wiesenfeld sandpile: the engine of the Sandpile program and
of sandpile-stats, for Python.

    import btwsandpile as bs
    pile = bs.Sandpile(149)            # the window's starting pile, seed 1
    pile = bs.Sandpile(149, start="stationary")   # an exact steady-state pile
    avalanches = pile.drop(1_000_000)  # a NumPy record array: site, grains, size, area, duration
    pile.heights                       # read-only (L, L) view of the heights
    bs.measure(sizes=[64, 128], grains=10**6, runs=4)   # what sandpile-stats measures
    bs.centre_pile(2**20).heights      # 2^20 grains dropped on one site, exactly
    bs.identity(1024).heights          # the identity of the 1024 x 1024 pile

Sandpile   one pile: drop(), add() and sweep(), burn(), heights
Cancelled  what a drop() stopped by the pile's cancel() raises
measure    sandpile-stats' measurements, as numbers and arrays
centre_pile, identity, stabilise   the big stable piles, as StablePile results
exact_topplings_per_grain, exact_height_probabilities   the exact values
MIN_SIDE, MAX_SIDE, MAX_MEASURED_SIDE, MAX_SEED          the ranges
MAX_CENTRE_GRAINS, MAX_PILE_SIDE                          the big piles' ranges
"""

from ._btwsandpile import (
    MAX_CENTRE_GRAINS,
    MAX_MEASURED_SIDE,
    MAX_PILE_SIDE,
    MAX_SEED,
    MAX_SIDE,
    MIN_SIDE,
    Cancelled,
    Measurement,
    __version__,
    PowerLawFit,
    Sandpile,
    SideStatistics,
    StablePile,
    centre_pile,
    exact_height_probabilities,
    exact_topplings_per_grain,
    identity,
    measure,
    stabilise,
)

from . import _btwsandpile


def _stable_pile(state):
    """Rebuilds a pickled or copied StablePile from its state."""
    return _btwsandpile._stable_pile(state)


__all__ = [
    "MAX_CENTRE_GRAINS",
    "MAX_MEASURED_SIDE",
    "MAX_PILE_SIDE",
    "MAX_SEED",
    "MAX_SIDE",
    "MIN_SIDE",
    "Cancelled",
    "Measurement",
    "PowerLawFit",
    "Sandpile",
    "SideStatistics",
    "StablePile",
    "centre_pile",
    "exact_height_probabilities",
    "exact_topplings_per_grain",
    "identity",
    "measure",
    "stabilise",
]
