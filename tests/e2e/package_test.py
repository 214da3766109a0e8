#!/usr/bin/env python3
"""Makes the release ZIP with CPack, unpacks it, checks its contents (the
guide, every recipe, the build information), its SHA256SUMS and
runs the unpacked ksthunk-filter.exe under Wine in a throwaway copy of the
end-to-end template prefix. Before that, a plain install: it writes no sums,
and neither it nor the release removes a file outside what they make.

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

from run_e2e import console
from wine_env import wine_env

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
# The release: the exe, its papers, the guide and every recipe, what built
# it, and the sums over all of it. A plain install has neither of the last
# two.
TOP = {"ksthunk-filter.exe", "README.md", "LICENSE", "THIRD-PARTY-NOTICES.txt"}
RECIPES = {os.path.relpath(os.path.join(folder, name), ROOT)
           for top in ("docs", "deploy")
           for folder, _, names in os.walk(os.path.join(ROOT, top)) for name in names}
EXPECTED_FILES = TOP | RECIPES | {"BUILD-INFO.txt", "SHA256SUMS"}


def files_below(root):
    return {os.path.relpath(os.path.join(folder, name), root)
            for folder, _, names in os.walk(root) for name in names}


def plain_install(cpack, build_dir, scratch, failures):
    """Installs four folders below a ZIP that a release step guessing its
    output folder from the prefix would take for its own."""
    stranger = os.path.join(scratch, "a", "pkg.zip")
    prefix = os.path.join(scratch, "a", "b", "c", "d", "pkg")
    os.makedirs(os.path.dirname(stranger))
    with open(stranger, "w") as f:
        f.write("not ours")
    cmake = os.path.join(os.path.dirname(cpack), "cmake")
    subprocess.run([cmake, "--install", build_dir, "--prefix", prefix],
                   check=True, capture_output=True)
    if files_below(prefix) != TOP | RECIPES:
        failures.append(f"a plain install made {sorted(files_below(prefix))}")
    return stranger


def main(cpack, build_dir, work):
    failures = []
    with tempfile.TemporaryDirectory() as scratch:
        stranger = plain_install(cpack, build_dir, scratch, failures)
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
        if files_below(root) != EXPECTED_FILES:
            failures.append(f"package holds {sorted(files_below(root))}")
        wrapper = open(os.path.join(root, "deploy", "windows", "ksthunk-filter-run.cmd"), "rb").read()
        if wrapper.count(b"\n") != wrapper.count(b"\r\n"):
            failures.append("the wrapper in the package has LF-only line ends")
        build_info = open(os.path.join(root, "BUILD-INFO.txt")).read()
        if "g++-mingw-w64-i686-win32=" not in build_info or "Commit: " not in build_info:
            failures.append(f"BUILD-INFO.txt lacks the compiler or the commit:\n{build_info}")
        if not os.path.exists(stranger):
            failures.append("the install or the release removed a file not its own")
        summed = set()
        for line in open(os.path.join(root, "SHA256SUMS")).read().splitlines():
            digest, name = line.split("  ", 1)
            summed.add(name)
            with open(os.path.join(root, name), "rb") as f:
                if hashlib.sha256(f.read()).hexdigest() != digest:
                    failures.append(f"SHA256SUMS does not match {name}")
        if summed != EXPECTED_FILES - {"SHA256SUMS"}:
            failures.append(f"SHA256SUMS covers {sorted(summed)}")

        prefix = os.path.join(scratch, "prefix")
        shutil.copytree(os.path.join(work, "template-win64"), prefix, symlinks=True)
        env = wine_env(prefix)
        result = subprocess.run(["wine", os.path.join(root, "ksthunk-filter.exe")],
                                env=env, capture_output=True, timeout=300)
        subprocess.run(["wineserver", "-k"], env=env, capture_output=True)
        subprocess.run(["wineserver", "-w"], env=env, capture_output=True)
        if result.stdout != console("ERROR 0x2\n") or result.returncode != 0:
            failures.append(f"the unpacked exe printed {result.stdout!r}, "
                            f"status {result.returncode}")
    for failure in failures:
        print("FAIL:", failure)
    print("package checked")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
