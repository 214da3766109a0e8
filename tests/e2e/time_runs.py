#!/usr/bin/env python3
"""Times whole runs of ksthunk-filter.exe under Wine, on its append path
and its present path, against an empty console program built the same way,
in one throwaway prefix and one session, and reports the ratios.

    time_runs.py EXE EMPTY_EXE HELPER [RUNS]
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

TWO_FILTERS = b"filter1\0filter2\0\0".hex()


def main(exe, empty, helper, runs=15):
    runs = int(runs)
    prefix = tempfile.mkdtemp(prefix="ksthunk-filter-timing.")
    env = dict(os.environ, WINEPREFIX=prefix, WINEARCH="win64", WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=")

    def wine(*args):
        return subprocess.run(["wine", *args], env=env, capture_output=True, timeout=300)

    def timed(*args):
        start = time.perf_counter()
        result = wine(*args)
        elapsed = time.perf_counter() - start
        if result.returncode != 0:
            sys.exit(f"{args} failed")
        return elapsed

    try:
        wine("wineboot", "--init")
        # Runs follow each other closely, so the one wineserver of the
        # prefix stays up between them and no run pays its start.
        for _ in range(3):  # warm the caches
            timed(empty)
        times = {"empty program": [], "append path": [], "present path": []}
        for _ in range(runs):
            wine(helper, "seed", "7", TWO_FILTERS)
            times["append path"].append(timed(exe))
            times["present path"].append(timed(exe))
            times["empty program"].append(timed(empty))
        base = statistics.median(times["empty program"])
        print(f"{runs} runs each, median wall time under Wine:")
        for name, samples in times.items():
            median = statistics.median(samples)
            print(f"  {name:14} {median * 1000:8.1f} ms   ratio {median / base:5.2f}")
    finally:
        subprocess.run(["wineserver", "-k"], env=env, capture_output=True)
        subprocess.run(["wineserver", "-w"], env=env, capture_output=True)
        shutil.rmtree(prefix, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
