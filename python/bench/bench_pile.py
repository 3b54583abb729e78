"""Benchmarks of btwsandpile; prints figures, asserts nothing.

    PYTHONPATH=build/python /usr/bin/python3 python/bench/bench_pile.py

1. Sandpile.drop() against the C++ measuring loop of sandpile-stats
   (measure() on one thread runs it) on the very same pile: the window's
   starting pile, 2 L^2 warm-up grains, then the measured grains. Both make
   the same avalanches; the ratio is drop()'s topplings per second over the
   loop's, by the wall clock and by processor time.
2. Two threads, each dropping on its own pile, against one thread dropping
   on one: with the GIL released the two run side by side.
"""

import argparse
import threading
import time

import btwsandpile as bs


def best_time(work, repeats, clock=time.perf_counter):
    """The shortest of `repeats` timings of work() on `clock`, and its last result."""
    best, result = float("inf"), None
    for _ in range(repeats):
        start = clock()
        result = work()
        best = min(best, clock() - start)
    return best, result


def drop_against_measuring_loop(side, grains, repeats):
    warmup = 2 * side * side

    def drops():
        pile = bs.Sandpile(side)
        return int(pile.drop(warmup)["size"].sum() + pile.drop(grains)["size"].sum())

    def loop():
        return bs.measure(sizes=side, grains=grains, start="window", warmup=warmup, threads=1)

    # Processor time as well as the clock's: on a machine shared with other
    # work it is the steadier of the two. Both loops run on one thread.
    print(f"L = {side}, {warmup} warm-up + {grains} grains, best of {repeats}:")
    for clock, name in ((time.perf_counter, "wall"), (time.process_time, "processor")):
        drop_time, topplings = best_time(drops, repeats, clock)
        loop_time, _ = best_time(loop, repeats, clock)
        print(f"  Sandpile.drop()       {drop_time:7.3f} s {name:9}  {topplings / drop_time / 1e6:6.1f} M topplings/s")
        print(f"  C++ measuring loop    {loop_time:7.3f} s {name:9}  {topplings / loop_time / 1e6:6.1f} M topplings/s")
        print(f"  drop() / loop         {loop_time / drop_time:7.3f} x")


def two_threads_against_one(side, grains, repeats):
    def run(piles):
        threads = [threading.Thread(target=pile.drop, args=(grains,)) for pile in piles]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()

    def timed(piles):
        """Wall and processor time of one run; their ratio is the cores kept busy."""
        wall, processor = time.perf_counter(), time.process_time()
        run(piles)
        return time.perf_counter() - wall, time.process_time() - processor

    one = min(timed([bs.Sandpile(side, seed=1)]) for _ in range(repeats))
    two = min(timed([bs.Sandpile(side, seed=1), bs.Sandpile(side, seed=2)]) for _ in range(repeats))
    print(f"L = {side}, {grains} grains per pile from the starting pile, best of {repeats}:")
    print(f"  one thread, one pile    {one[0]:7.3f} s wall  {one[1] / one[0]:.2f} cores busy")
    print(f"  two threads, two piles  {two[0]:7.3f} s wall  {two[1] / two[0]:.2f} cores busy  "
          f"({two[0] / one[0]:.2f} x the time for twice the work)")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--side", type=int, default=149)
    parser.add_argument("--grains", type=int, default=300_000)
    parser.add_argument("--repeats", type=int, default=3)
    arguments = parser.parse_args()
    drop_against_measuring_loop(arguments.side, arguments.grains, arguments.repeats)
    two_threads_against_one(arguments.side, arguments.grains, arguments.repeats)


if __name__ == "__main__":
    main()
