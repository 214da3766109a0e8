#!/usr/bin/env python3
"""Checks a built exe (ksthunk-filter.exe or the runner) with binutils' objdump and nm and
icoutils' wrestool: a stripped PE32 console program that imports only
Windows' own DLLs, with DYNAMIC_BASE and NX_COMPAT, carrying exactly one
manifest that asks for administrator rights, and free of heavy library
code.

Heavy library code (a wide string, a stream, locale code) is caught three
ways. The exe must stay under a size bound per compiler, set some 10 KiB
above its size today: with g++ one wide string adds about 90 KB (the
library's exception classes and strings). clang links those already (its
std::string keeps the allocation's throw path), so there a wide string
costs 512 bytes, and no size bound can see it. So nm reads the product's
own objects too: they must name no stream, locale or wide string symbol
(what the compiler did not inline), and no object but main's may construct
anything before main runs (the application object): the program's
constants are compile-time ones, and a namespace-scope string is not.

    check_exe.py OBJDUMP NM MAX_SIZE EXE OBJECT...
"""
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ET

ALLOWED_DLLS = {"kernel32.dll", "advapi32.dll", "msvcrt.dll"}
HEAVY = re.compile(r"std::(__cxx11::)?basic_string<wchar_t|std::(__cxx11::)?basic_\w*stream"
                   r"|std::basic_ios|std::ios_base|std::locale|std::codecvt|std::wstring")
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"


def heavy_symbols(nm, objects):
    """The heavy library symbols and the start-up constructors (but main's)
    that the product's objects hold."""
    objects = [o for o in objects if o.endswith((".obj", ".o", ".a"))]  # not the resources
    found, current = set(), ""
    if not objects:
        return []
    for line in subprocess.run([nm, "-C", *objects], capture_output=True, text=True,
                               check=True).stdout.splitlines():
        if line.endswith(":"):
            current = os.path.basename(line[:-1])
        elif HEAVY.search(line):
            found.add(line.split(" ", 2)[-1])
        elif "_GLOBAL__sub_I_" in line and not current.startswith("main."):
            found.add(f"{current}: a constructor run before main")
    return sorted(found)


def main(objdump, nm, max_size, exe, *objects):
    failures = []
    size = os.path.getsize(exe)
    if size >= int(max_size):
        failures.append(f"{size} bytes, not under {max_size}")
    heavy = heavy_symbols(nm, objects)
    if heavy:
        failures.append(f"the product's objects hold heavy library code: {heavy[:5]}")
    headers = subprocess.run([objdump, "-p", exe], capture_output=True, text=True,
                             check=True).stdout
    if "file format pei-i386" not in headers:
        failures.append("not a PE32 (pei-i386) file")
    if not re.search(r"Subsystem\s+00000003\s+\(Windows CUI\)", headers):
        failures.append("not a console program")
    characteristics = re.search(r"DllCharacteristics\s+([0-9a-fA-F]+)", headers)
    flags = int(characteristics.group(1), 16) if characteristics else 0
    if not flags & 0x40:
        failures.append("DYNAMIC_BASE missing")
    if not flags & 0x100:
        failures.append("NX_COMPAT missing")
    dlls = {name.lower() for name in re.findall(r"DLL Name: (\S+)", headers)}
    if not dlls or not dlls <= ALLOWED_DLLS:
        failures.append(f"imports {sorted(dlls)}")
    symbols = subprocess.run([objdump, "-t", exe], capture_output=True, text=True).stdout
    if "no symbols" not in symbols:
        failures.append("not stripped")

    listed = subprocess.run(["wrestool", "-l", exe], capture_output=True, text=True,
                            check=True).stdout.splitlines()
    manifests = [line for line in listed if line.startswith("--type=24 ")]
    if len(manifests) != 1 or "--name=1 " not in manifests[0]:
        failures.append(f"manifest resources: {manifests}")
    else:
        text = subprocess.run(["wrestool", "-x", "--raw", "--type=24", "--name=1", exe],
                              capture_output=True, check=True).stdout
        failures += check_manifest(ET.fromstring(text), os.path.basename(exe)[:-len(".exe")])

    for failure in failures:
        print("FAIL:", failure)
    print("checked", exe, f"({size} bytes)", "imports", sorted(dlls))
    return 1 if failures else 0


def check_manifest(assembly, name):
    failures = []
    identity = assembly.find(ASM_V1 + "assemblyIdentity")
    expected = {"version": "1.0.0.0", "processorArchitecture": "X86",
                "type": "win32", "name": name}
    if identity is None or {k: identity.get(k) for k in expected} != expected:
        failures.append("assembly identity differs")
    level = assembly.find(f"{ASM_V3}trustInfo/{ASM_V3}security/"
                          f"{ASM_V3}requestedPrivileges/{ASM_V3}requestedExecutionLevel")
    if level is None or level.get("level") != "requireAdministrator" \
            or level.get("uiAccess") != "false":
        failures.append("execution level is not requireAdministrator, uiAccess false")
    for unwanted in ("dependency", "compatibility"):
        if any(child.tag.endswith(unwanted) for child in assembly.iter()):
            failures.append(f"manifest has a {unwanted} section")
    return failures


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
