#!/usr/bin/env python3
"""Measures what ksthunk-filter.exe does to a list that another program is
editing while it runs: race_writer.exe appends an entry of its own every
INTERVAL milliseconds (and drops ksthunk, so that every run has something to
write) while the exe runs RUNS times in the same prefix. Prints the runs
that wrote, that refused to write ("Could not Set"), that could not read,
that found ksthunk in place, and how many of the writer's entries the final
list lacks. A measurement, not a test: it passes or fails nothing.

    race.py --exe EXE --helper REGVALUE --writer RACE_WRITER [--runs N] [--interval MS]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

from expected import LISTING_TAIL, PRESENT
from wine_env import seed_windows, wine_env

TWO = b"filter1\0filter2\0\0"


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def classify(output):
    text = output.replace(b"\r\n", b"\n")
    if b"Could not Set" in text:
        return "refused"
    if b"Could not Read" in text:
        return "unread"
    if text.endswith(PRESENT.encode()):
        return "present"
    if text.endswith(LISTING_TAIL.encode()):
        return "wrote"
    return "other"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--helper", required=True)
    parser.add_argument("--writer", required=True)
    parser.add_argument("--runs", type=int, default=40)
    parser.add_argument("--interval", type=int, default=5)
    args = parser.parse_args()

    prefix = tempfile.mkdtemp(prefix="ksthunk-filter-race.")
    env = wine_env(prefix, WINEARCH="win64")
    quiet = dict(env=env, stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    counts = {"wrote": 0, "refused": 0, "unread": 0, "present": 0, "other": 0}
    try:
        subprocess.run(["wineserver", "-p"], check=True, **quiet)
        subprocess.run(["wine", "wineboot", "--init"], stdout=subprocess.DEVNULL, **quiet)
        seed_windows(env)
        subprocess.run(["wine", args.helper, "seed", "7", TWO.hex()], check=True,
                       stdout=subprocess.DEVNULL, **quiet)
        stop = os.path.join(prefix, "stop")
        count_file = os.path.join(prefix, "appended.txt")
        with open(count_file, "wb") as appended_out:
            writer = subprocess.Popen(
                ["wine", args.writer, str(args.interval), windows_path(stop)],
                stdout=appended_out, **quiet)
            time.sleep(2)
            for _ in range(args.runs):
                result = subprocess.run(["wine", args.exe], capture_output=True,
                                        env=env, timeout=300)
                counts[classify(result.stdout)] += 1
            open(stop, "w").close()
            writer.wait(timeout=300)
        appended = int(open(count_file).read().strip())
        dump = subprocess.run(["wine", args.helper, "dump-wide"], capture_output=True,
                              env=env, check=True).stdout.decode().split()
        entries = bytes.fromhex(dump[1]).decode("utf-16-le").split("\0")
        kept = sum(1 for i in range(appended) if f"w{i}" in set(entries))
    finally:
        subprocess.run(["wineserver", "-k"], **quiet)
        subprocess.run(["wineserver", "-w"], **quiet)
        shutil.rmtree(prefix, ignore_errors=True)
    print(f"{args.runs} runs against a writer every {args.interval} ms: "
          f"{counts['wrote']} wrote, {counts['refused']} refused to write, "
          f"{counts['unread']} could not read (the list grew between the queries), "
          f"{counts['present']} found ksthunk, {counts['other']} other; "
          f"the writer appended {appended} entries, {appended - kept} lost")
    return 0


if __name__ == "__main__":
    sys.exit(main())
