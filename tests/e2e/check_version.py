#!/usr/bin/env python3
"""Runs the version_info helper on ksthunk-filter.exe or the runner under
Wine and checks every field of the version resource against the project
version.

    check_version.py WINE_RUN PREFIX HELPER EXE VERSION
"""
import os
import subprocess
import sys

DESCRIPTIONS = {
    "ksthunk-filter": "Adds ksthunk to the sound, video and game controller class upper filters",
    "ksthunk-filter-run": "Runs ksthunk-filter.exe for fleet tools and reports its outcome"}


def main(wine_run, prefix, helper, exe, version):
    quad = ".".join((version.split(".") + ["0"] * 4)[:4])
    name = os.path.basename(exe)[:-len(".exe")]
    expected = {
        "fixed.FileVersion": quad,
        "fixed.ProductVersion": quad,
        "Translation": "0409 1200",
        "FileDescription": DESCRIPTIONS[name],
        "ProductName": "ksthunk-filter",
        "InternalName": name,
        "OriginalFilename": name + ".exe",
        "FileVersion": quad,
        "ProductVersion": quad,
    }
    result = subprocess.run([wine_run, prefix, helper, exe], capture_output=True,
                            timeout=300)
    text = result.stdout.decode("ascii").replace("\r\n", "\n")
    print(text, end="")
    fields = dict(line.split("=", 1) for line in text.splitlines() if "=" in line)
    failures = [f"{name}: {fields.get(name)!r}, expected {value!r}"
                for name, value in expected.items() if fields.get(name) != value]
    if result.returncode != 0:
        failures.append(f"helper status {result.returncode}: {result.stderr!r}")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
