"""Drops a million grains on the window's pile, histograms the avalanche
sizes in logarithmic bins and plots their distribution.

    PYTHONPATH=build/python /usr/bin/python3 python/examples/avalanche_sizes.py docs/python-sizes.png
"""

import sys

import matplotlib

matplotlib.use("Agg")   # draws to a file, no display needed
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import btwsandpile as bs  # noqa: E402

L = 149
GRAINS = 1_000_000

pile = bs.Sandpile(L)                  # the window's starting pile, seed 1
pile.drop(2 * L * L)                   # into the steady state
avalanches = pile.drop(GRAINS)         # one record per avalanche
sizes = avalanches["size"]

print(f"{len(avalanches)} avalanches from {GRAINS} grains on {L} x {L}")
print(f"largest: s = {sizes.max()} topplings, area = {avalanches['area'].max()} sites, "
      f"duration = {avalanches['duration'].max()} sweeps")
print(f"topplings per grain: {sizes.sum() / GRAINS:.2f} (exact {bs.exact_topplings_per_grain(L):.2f})")
print(f"mean height: {pile.mean_height:.4f}; recurrent: {pile.burn().all()}")

# Logarithmic bins over the integers, and the density per unit of s.
edges = np.unique(np.geomspace(1, sizes.max() + 1, 50).astype(np.int64))
counts, _ = np.histogram(sizes, bins=edges)
density = counts / np.diff(edges) / len(sizes)
centres = np.sqrt(edges[:-1] * edges[1:])
shown = counts > 0

figure, axes = plt.subplots(figsize=(6, 4.2), dpi=100)
axes.loglog(centres[shown], density[shown], "o", markersize=4, label=f"L = {L}, {GRAINS:,} grains")
guide = (centres > 10) & (centres < L * L / 10)
axes.loglog(centres[guide], 0.4 * centres[guide] ** -1.1, "--", color="grey", label=r"$s^{-1.1}$")
axes.set_xlabel("avalanche size s (topplings)")
axes.set_ylabel("P(s)")
axes.set_title("Bak-Tang-Wiesenfeld sandpile: avalanche sizes")
axes.legend()
figure.tight_layout()
figure.savefig(sys.argv[1] if len(sys.argv) > 1 else "sizes.png")
