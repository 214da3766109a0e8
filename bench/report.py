#!/usr/bin/env python3
"""Reads Google Benchmark's JSON and the instruction counts of one rebuild
per shape and size, prints every shape beside memcpy, and checks the bounds:

- at 1 MiB, the presence test and the rebuild each take at most 32 times
  memcpy of the same number of bytes on every shape, and at most 4 times on
  the typical one (ratios of times measured in the same run);
- per byte, a rebuild of 1 MiB executes at most 1.10 times the instructions
  of a rebuild of 64 KiB, on every shape (callgrind's counts, which do not
  depend on the machine's caches or load).

    report.py RESULTS.json INSTRUCTIONS.tsv

INSTRUCTIONS.tsv holds lines "shape<TAB>bytes<TAB>instructions".
"""
import json
import sys

MIB, KIB64 = 1 << 20, 64 << 10
WORST_BOUND, TYPICAL_BOUND, GROWTH_BOUND = 32, 4, 1.10


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
    shapes = [name.split("/")[1] for name in times
              if name.startswith("Contains/") and name.endswith(f"/{MIB}")]
    failures = []

    print(f"{'shape':>20} {'size':>8}  {'contains':>10} {'x memcpy':>8}  "
          f"{'rebuild':>10} {'x memcpy':>8}  {'instr/byte':>10}")
    worst = (0, None)
    for shape in shapes:
        for size in (KIB64, MIB):
            copy = times[f"Memcpy/{size}"]
            contains = times[f"Contains/{shape}/{size}"]
            rebuild = times[f"Rebuild/{shape}/{size}"]
            print(f"{shape:>20} {size >> 10:>5}KiB  {contains:>8.0f}ns {contains / copy:>8.2f}  "
                  f"{rebuild:>8.0f}ns {rebuild / copy:>8.2f}  {per_byte[(shape, size)]:>10.2f}")
            if size != MIB:
                continue
            ratio = max(contains, rebuild) / copy
            worst = max(worst, (ratio, shape))
            bound = TYPICAL_BOUND if shape == "typical" else WORST_BOUND
            if ratio > bound:
                failures.append(f"{shape} at 1 MiB: {ratio:.2f} x memcpy (bound {bound})")
    for size in (KIB64, MIB):
        print(f"memcpy {size >> 10} KiB: {times[f'Memcpy/{size}']:.0f} ns; "
              f"walk of the typical list: {times[f'Walk/typical/{size}'] / times[f'Memcpy/{size}']:.2f} x memcpy")
    print(f"single-entry list: {times['SingleEntryList']:.1f} ns")
    print(f"worst shape at 1 MiB: {worst[1]}, {worst[0]:.2f} x memcpy (bound {WORST_BOUND}; "
          f"typical bound {TYPICAL_BOUND})")

    growth = {shape: per_byte[(shape, MIB)] / per_byte[(shape, KIB64)] for shape in shapes}
    steepest = max(growth, key=growth.get)
    print(f"rebuild instructions per byte, 1 MiB over 64 KiB: typical {growth['typical']:.3f}, "
          f"steepest {steepest} {growth[steepest]:.3f} (bound {GROWTH_BOUND})")
    for shape, value in growth.items():
        if value > GROWTH_BOUND:
            failures.append(f"{shape}: instructions per byte grow {value:.3f} times")

    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
