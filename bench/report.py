#!/usr/bin/env python3
"""Reads Google Benchmark's JSON and the instruction counts of one rebuild
per shape and size, prints every shape beside memcpy, and checks the bounds:

- at 1 MiB, the rebuild takes at most 100 times memcpy of the same number
  of bytes on every shape (times measured side by side in the same run);
- per byte, a rebuild of 1 MiB executes at most 1.10 times the instructions
  of a rebuild of 64 KiB, on every shape (callgrind's counts, which do not
  depend on the machine's caches or load): nothing quadratic.

    report.py RESULTS.json INSTRUCTIONS.tsv

INSTRUCTIONS.tsv holds lines "shape<TAB>bytes<TAB>nominal size<TAB>instructions".
"""
import json
import sys

MIB, KIB64 = 1 << 20, 64 << 10
MEMCPY_BOUND, GROWTH_BOUND = 100, 1.10


def read_times(path):
    times = {}
    for b in json.load(open(path))["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        times[b["run_name"]] = b["real_time"]
    return times


def read_instructions(path):
    counts = {}
    for line in open(path):
        shape, size, nominal, instructions = line.split()
        counts[(shape, int(nominal))] = int(instructions) / int(size)
    return counts


def main(results, instructions):
    times = read_times(results)
    per_byte = read_instructions(instructions)
    copy = times.pop("Memcpy")
    failures = []
    print(f"memcpy of 1 MiB: {copy:.0f} ns")
    print(f"{'shape':>20}  {'rebuild':>10} {'x memcpy':>8}  {'instr/byte 64K':>14} "
          f"{'1M':>6} {'growth':>6}")
    for shape, rebuild in times.items():
        small, large = per_byte[(shape, KIB64)], per_byte[(shape, MIB)]
        print(f"{shape:>20}  {rebuild:>8.0f}ns {rebuild / copy:>8.2f}  {small:>14.2f} "
              f"{large:>6.2f} {large / small:>6.3f}")
        if rebuild / copy > MEMCPY_BOUND:
            failures.append(f"{shape}: {rebuild / copy:.1f} x memcpy (bound {MEMCPY_BOUND})")
        if large / small > GROWTH_BOUND:
            failures.append(f"{shape}: instructions per byte grow {large / small:.3f} "
                            f"times (bound {GROWTH_BOUND})")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
