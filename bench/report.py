#!/usr/bin/env python3
"""Reads Google Benchmark's JSON and prints each walk and rebuild beside
memcpy of the same bytes, then checks the two bounds the rebuild must keep:
per byte, a 1 MiB list costs at most 1.25 times a 64 KiB one, and at 1 MiB
it takes at most 4 times memcpy.

    report.py RESULTS.json
"""
import json
import sys


def main(path):
    runs = {}
    for b in json.load(open(path))["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        name, _, size = b["run_name"].partition("/")
        runs[(name, int(size) if size else 0)] = b
    sizes = sorted({s for (n, s) in runs if n == "Memcpy"})
    print(f"{'size':>9} {'operation':>8} {'ns':>12} {'GB/s':>7} {'x memcpy':>9}")
    for size in sizes:
        copy = runs[("Memcpy", size)]["real_time"]
        for name in ("Walk", "Rebuild", "Memcpy"):
            b = runs[(name, size)]
            rate = b.get("bytes_per_second", 0) / 1e9
            print(f"{size:>9} {name:>8} {b['real_time']:>12.1f} {rate:>7.2f} "
                  f"{b['real_time'] / copy:>9.2f}")
    for size in (64 << 10, 1 << 20):
        b = runs[("RebuildAllKs", size)]
        print(f"{size:>9} {'all-k':>8} {b['real_time']:>12.1f} "
              f"{b['bytes_per_second'] / 1e9:>7.2f} "
              f"{b['real_time'] / runs[('Memcpy', size)]['real_time']:>9.2f}  (slowest input)")
    single = runs[("SingleEntryList", 0)]["real_time"]
    print(f"single-entry list: {single:.1f} ns")

    def per_byte(size):
        return runs[("Rebuild", size)]["real_time"] / size

    growth = per_byte(1 << 20) / per_byte(64 << 10)
    ratio = runs[("Rebuild", 1 << 20)]["real_time"] / runs[("Memcpy", 1 << 20)]["real_time"]
    print(f"rebuild per byte, 1 MiB over 64 KiB: {growth:.2f} (bound 1.25)")
    print(f"rebuild at 1 MiB over memcpy: {ratio:.2f} (bound 4)")
    return 0 if growth <= 1.25 and ratio <= 4 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
