#!/usr/bin/env python3
"""Checks that THIRD-PARTY-NOTICES.txt covers every runtime object that the
link of ksthunk-filter.exe put into it, as the linker map lists them.

    check_notices.py MAP NOTICES

Each object the map names (an archive member, or an object file loaded
from outside the build tree) belongs to one or more components; each
component must have its "== name ==" section in the notices file. An
object that belongs to no known component fails the check too: its
licence has not been looked at.
"""
import os
import re
import sys

MINGW_LIB = "/i686-w64-mingw32/lib/"
GCC_LIB = "/usr/lib/gcc/i686-w64-mingw32/"
GDTOA = re.compile(r"-(dmisc|gdtoa|gmisc|misc|g_\w+|gethex|hd_init|hexnan|smisc|"
                   r"strtod\w*|strtof|strtopx|sum|ulp|qnan)\.o$")


def components(archive, member):
    """The components whose code `archive(member)` (or an object file
    alone, with member None) holds, or None when it is not known."""
    if "winpthread" in archive or archive.endswith("/libpthread.a"):
        return {"winpthreads"}
    if GCC_LIB in archive:
        return {"GCC runtime"}
    if MINGW_LIB in archive:
        if member and "mingw_pformat" in member:
            return {"mingw-w64 runtime", "gdtoa"}
        if member and archive.endswith("libmingwex.a") and GDTOA.search(member):
            return {"gdtoa"}
        return {"mingw-w64 runtime"}
    return None


def linked_objects(map_text):
    """(archive or object path, member or None) for every runtime object."""
    objects = set()
    for archive, member in re.findall(r"^(/\S+\.a)\(([^)]+)\)", map_text, re.M):
        objects.add((os.path.normpath(archive), member))
    for path in re.findall(r"^LOAD (/\S+\.o)$", map_text, re.M):
        objects.add((os.path.normpath(path), None))
    return objects


def main(map_path, notices_path):
    objects = linked_objects(open(map_path).read())
    covered = set(re.findall(r"^== (.+) ==$", open(notices_path).read(), re.M))
    needed, failures = set(), []
    for archive, member in sorted(objects):
        names = components(archive, member)
        shown = f"{archive}({member})" if member else archive
        if names is None:
            failures.append(f"{shown}: no known component")
            continue
        needed |= names
        for name in sorted(names - covered):
            failures.append(f"{shown}: {name} has no section in {notices_path}")
    if not objects:
        failures.append(f"{map_path} names no runtime object")
    print(f"{len(objects)} runtime objects from: {', '.join(sorted(needed))}")
    for name in sorted(covered - needed):
        print(f"note: the notices cover {name}, which the link does not use")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
