#!/usr/bin/env python3
"""Checks the built ksthunk-filter.exe with binutils' objdump and icoutils'
wrestool: a stripped PE32 console program under 256 KiB that imports only
Windows' own DLLs, with DYNAMIC_BASE and NX_COMPAT, and carrying exactly
one manifest that asks for administrator rights.

    check_exe.py OBJDUMP EXE
"""
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ET

ALLOWED_DLLS = {"kernel32.dll", "advapi32.dll", "msvcrt.dll"}
MAX_SIZE = 256 * 1024
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"


def main(objdump, exe):
    failures = []
    size = os.path.getsize(exe)
    if size >= MAX_SIZE:
        failures.append(f"{size} bytes, not under {MAX_SIZE}")
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
        failures += check_manifest(ET.fromstring(text))

    for failure in failures:
        print("FAIL:", failure)
    print("checked", exe, f"({size} bytes)", "imports", sorted(dlls))
    return 1 if failures else 0


def check_manifest(assembly):
    failures = []
    identity = assembly.find(ASM_V1 + "assemblyIdentity")
    expected = {"version": "1.0.0.0", "processorArchitecture": "X86",
                "type": "win32", "name": "ksthunk-filter"}
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
    sys.exit(main(sys.argv[1], sys.argv[2]))
