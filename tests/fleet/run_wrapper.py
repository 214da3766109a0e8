#!/usr/bin/env python3
"""Runs deploy/windows/ksthunk-filter-run.cmd with Wine's cmd.exe beside the
real ksthunk-filter.exe, once per outcome of the shared table, each in a
throwaway copy of the end-to-end template prefix, and checks the wrapper's
whole exit code (read on the Windows side: Linux sees only its low 8 bits),
its log (the program's output byte for byte, then the outcome) and the
event it asked eventcreate.exe for (a stand-in that records its arguments,
since Wine has none). The hostile entries also check that no registry data
was run as a command.

    run_wrapper.py --exe EXE --helper REGVALUE --eventcreate STANDIN --work DIR
"""
import argparse
import os
import re
import shutil
import sys

from outcomes import HOSTILE, OUTCOMES, ROOT, WRAPPER, wrapper_log, wrapper_outcomes
from run_e2e import Case, console, multi_sz

APP = "C:\\ksthunk-filter"
LOG = wrapper_log()


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def read(drive_c, windows_name):
    """The bytes of a file of the prefix, named as Windows names it (Wine's
    file names do not depend on case), or none."""
    path = drive_c
    for part in windows_name.split("\\")[1:]:
        names = {name.lower(): name for name in os.listdir(path)} if os.path.isdir(path) else {}
        path = os.path.join(path, names.get(part.lower(), part))
    return open(path, "rb").read() if os.path.isfile(path) else b""


def install(case, args):
    """The exe and the wrapper side by side, the eventcreate stand-in where
    the wrapper looks for Windows' own, and a parent batch that prints the
    wrapper's exit code as Windows sees it."""
    drive_c = os.path.join(case.prefix.path, "drive_c")
    os.makedirs(os.path.join(drive_c, "ksthunk-filter"))
    shutil.copy(args.exe, os.path.join(drive_c, "ksthunk-filter", "ksthunk-filter.exe"))
    shutil.copy(WRAPPER, os.path.join(drive_c, "ksthunk-filter"))
    # A 32-bit program that a 64-bit cmd.exe starts from System32 is looked
    # up through the WoW64 redirection, in SysWOW64: the stand-in is in both.
    for system in ("system32", "syswow64"):
        shutil.copy(args.eventcreate, os.path.join(drive_c, "windows", system, "eventcreate.exe"))
    wrapper = f'"{APP}\\{os.path.basename(WRAPPER)}"'
    if case.launcher:  # the key's access list is emptied, then the wrapper runs
        run = f'"{windows_path(args.helper)}" deny-access {wrapper}'
    else:
        run = f"cmd /c {wrapper}"
    with open(os.path.join(drive_c, "parent.cmd"), "w", newline="\r\n") as parent:
        parent.write(f"@echo off\n{run}\necho wrapper-exit %ERRORLEVEL%\n")
    return drive_c


def check(name, args, table):
    set_up, output, _, outcome = OUTCOMES[name]
    code, event, level = table[outcome]
    case = Case(args, f"wrapper-{name}")
    set_up(case)
    drive_c = install(case, args)
    result = case.prefix.wine("cmd", "/c", "C:\\parent.cmd")
    failures = case.failures
    exit_line = re.search(rb"wrapper-exit (\d+)", result.stdout)
    if not exit_line or int(exit_line.group(1)) != code:
        failures.append(f"wrapper printed {result.stdout!r}, expected exit code {code}")

    status = 1 if outcome == "refused" else 0
    log = read(drive_c, LOG)
    head, _, body = log.partition(b"\r\n")
    expected_body = console(output) + f"outcome {outcome}, exit code {code}\r\n".encode()
    if not head.startswith(b"=== ") or not head.endswith(f"exit status {status}".encode()) \
            or body != expected_body:
        failures.append(f"log {log!r}, expected a header, then {expected_body!r}")

    calls = read(drive_c, "C:\\eventcreate-calls.txt").decode("latin-1").splitlines()
    expected_call = (f"/T {level} /ID {event} /L APPLICATION /SO ksthunk-filter "
                     f'/D "ksthunk-filter: {outcome}, exit code {code}. Log: {LOG}"')
    # Wine passes the blanks before the redirection on to the program too.
    if len(calls) != 1 or not calls[0].rstrip().endswith(" " + expected_call):
        failures.append(f"eventcreate calls {calls!r}, expected one ending {expected_call!r}")

    if os.path.exists(os.path.join(drive_c, "pwned.txt")):
        failures.append("registry data was run as a command")
    if name == "hostile-entries":
        case.expect_stored(multi_sz(*HOSTILE, "ksthunk"))
    status = case.finish()
    print(f"{name}: wrapper outcome {outcome}, exit code {code}, event {event}",
          "passed" if status == 0 else "FAILED")
    return status


def guide_matches(table):
    """Whether the administrators' guide gives every outcome the wrapper's
    exit code and event ID."""
    with open(os.path.join(ROOT, "docs", "administrators.md")) as guide:
        rows = re.findall(r"^\| `([\w-]+)` \| (\d+) \| (\d+) \| (\w+) \|", guide.read(), re.M)
    listed = {name: (int(code), int(event), level.upper()) for name, code, event, level in rows}
    if listed != table:
        print(f"FAIL: the guide's return codes {listed} differ from the wrapper's {table}")
        return False
    return True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--helper", required=True)
    parser.add_argument("--eventcreate", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    table = wrapper_outcomes()
    events = [event for _, event, _ in table.values()]
    failures = [code for code, _, level in table.values() if level == "ERROR"]
    # Codes that Intune and Configuration Manager take for success or retry.
    if not table or len(set(events)) != len(events) or len(set(failures)) != len(failures) \
            or set(failures) & {0, 1641, 1707, 3010, 1618}:
        sys.exit(f"the wrapper's outcomes are not distinct failures: {table}")
    failed = not guide_matches(table)
    return 1 if sum(check(name, args, table) for name in OUTCOMES) or failed else 0


if __name__ == "__main__":
    sys.exit(main())
