#!/usr/bin/env python3
"""Times whole runs of ksthunk-filter.exe under Wine, on its append path
and its present path, against an empty console program built the same way
and an empty one that imports advapi32.dll, as the program must.

One prefix and one wineserver, kept up with Wine's services, serve the
whole measurement (Prefix.start), so that each timed run costs one
process start, not Wine bringing its session up and down. After a
warm-up, each round
seeds the value, then times the append run, the present run and the two
empty programs one after another; the medians and the spread of each are
printed.

    time_runs.py EXE EMPTY_EXE ADVAPI32_EXE HELPER [ROUNDS]
"""
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from run_e2e import Prefix
from wine_env import seed_windows

TWO_FILTERS = b"filter1\0filter2\0\0".hex()
WARM_UP = 3


def main(exe, empty, advapi32, helper, rounds=15):
    rounds = int(rounds)
    prefix = Prefix(tempfile.mkdtemp(prefix="ksthunk-filter-timing."), "win64")

    def timed(*args):
        start = time.perf_counter()
        # No pipes, which Wine's services would hold open.
        result = subprocess.run(["wine", *args], env=prefix.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        elapsed = time.perf_counter() - start
        if result.returncode != 0:
            sys.exit(f"{args} failed with status {result.returncode}")
        return elapsed

    try:
        prefix.wine("wineboot", "--init")
        seed_windows(prefix.env)
        prefix.start()
        kinds = ("append path", "present path", "empty program", "empty+advapi32")
        times = {kind: [] for kind in kinds}
        for round_ in range(WARM_UP + rounds):
            prefix.helper(helper, "seed", "7", TWO_FILTERS)
            samples = (timed(exe), timed(exe), timed(empty), timed(advapi32))
            if round_ >= WARM_UP:
                for kind, sample in zip(kinds, samples):
                    times[kind].append(sample)
        base = statistics.median(times["empty program"])
        fastest = min(times["empty program"])
        print(f"{rounds} rounds after {WARM_UP} of warm-up, one persistent wineserver:")
        print(f"  {'run':14} {'median':>9} {'quartiles':>19} {'fastest':>9}   "
              "ratio to empty (median, fastest)")
        for kind, samples in times.items():
            median = statistics.median(samples)
            low, _, high = statistics.quantiles(samples, n=4)
            print(f"  {kind:14} {median * 1000:7.1f}ms  {low * 1000:7.1f}-{high * 1000:7.1f}ms"
                  f" {min(samples) * 1000:7.1f}ms   {median / base:5.3f} {min(samples) / fastest:5.3f}")
    finally:
        prefix.stop()
        shutil.rmtree(prefix.path, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
