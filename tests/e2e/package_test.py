#!/usr/bin/env python3
"""Makes the release ZIP with CPack, unpacks it, checks its SHA256SUMS and
runs the unpacked ksthunk-filter.exe under Wine in a throwaway copy of the
end-to-end template prefix.

    package_test.py CPACK BUILD_DIR E2E_WORK
"""
import glob
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

from wine_env import wine_env

EXPECTED_FILES = {"ksthunk-filter.exe", "README.md", "SHA256SUMS"}


def main(cpack, build_dir, work):
    failures = []
    with tempfile.TemporaryDirectory() as scratch:
        subprocess.run([cpack, "--config", os.path.join(build_dir, "CPackConfig.cmake"),
                        "-B", scratch], check=True, capture_output=True)
        archives = glob.glob(os.path.join(scratch, "*.zip"))
        if len(archives) != 1:
            sys.exit(f"expected one ZIP, found {archives}")
        unpacked = os.path.join(scratch, "unpacked")
        with zipfile.ZipFile(archives[0]) as archive:
            archive.extractall(unpacked)
        (top,) = os.listdir(unpacked)
        root = os.path.join(unpacked, top)
        if set(os.listdir(root)) != EXPECTED_FILES:
            failures.append(f"package holds {sorted(os.listdir(root))}")
        for line in open(os.path.join(root, "SHA256SUMS")).read().splitlines():
            digest, name = line.split("  ", 1)
            with open(os.path.join(root, name), "rb") as f:
                if hashlib.sha256(f.read()).hexdigest() != digest:
                    failures.append(f"SHA256SUMS does not match {name}")

        prefix = os.path.join(scratch, "prefix")
        shutil.copytree(os.path.join(work, "template-win64"), prefix, symlinks=True)
        env = wine_env(prefix)
        result = subprocess.run(["wine", os.path.join(root, "ksthunk-filter.exe")],
                                env=env, capture_output=True, timeout=300)
        subprocess.run(["wineserver", "-k"], env=env, capture_output=True)
        subprocess.run(["wineserver", "-w"], env=env, capture_output=True)
        if result.stdout != b"ERROR 0x2\r\n" or result.returncode != 0:
            failures.append(f"the unpacked exe printed {result.stdout!r}, "
                            f"status {result.returncode}")
    for failure in failures:
        print("FAIL:", failure)
    print("package checked")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
