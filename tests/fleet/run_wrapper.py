#!/usr/bin/env python3
"""Runs deploy/windows/ksthunk-filter-run.cmd with Wine's cmd.exe beside the
real ksthunk-filter.exe, once per outcome of the shared table, each in a
throwaway copy of the end-to-end template prefix, and checks the wrapper's
whole exit code (read on the Windows side), its log (the program's output
on each of its runs byte for byte, then the outcome), the event it asked
eventcreate.exe for, the access list it asked icacls.exe for (stand-ins
that record their arguments: Wine has no eventcreate, and its icacls changes
nothing) and the list it left. The hostile entries also check that no
registry data was run as a command. Then two runs started together, ten
times over: one changes the list and the other finds it in place.

    run_wrapper.py --exe EXE --helper REGVALUE --standin STANDIN --other OTHER --work DIR
                   [TEST...]
    run_wrapper.py --list
"""
import argparse
import os
import re
import subprocess
import sys

from outcomes import (CODES, FORGED, HOSTILE, LONG_ENTRY, OLD_LOG, OUTCOMES, ROOT, install,
                      prefix_path, wrapper_outcomes, wrapper_setting)
from run_e2e import TWO, Case, appended, console, multi_sz, present

LOG = wrapper_setting("LOG")
# The list each run leaves, where the row's name does not say it already.
STORED = {
    "hostile-entries": multi_sz(*HOSTILE, "ksthunk"),
    "forged-last-line": multi_sz(FORGED, LONG_ENTRY, "ksthunk"),
    "changed-meanwhile": multi_sz("filter1", "writer", "ksthunk"),
    "lock-held": TWO,
    "log-held": multi_sz("filter1", "filter2", "ksthunk"),
    "old-output-held": TWO,
    "no-exe": TWO,
    **dict.fromkeys(("odd-folder", "bulgarian-date", "chinese-date", "big-log"),
                    multi_sz("filter1", "filter2", "ksthunk")),
}


def read(path):
    """The bytes of a file, none when there is no such file."""
    return open(path, "rb").read() if os.path.exists(path) else b""


def exit_code(stdout):
    """The wrapper's exit code as C:\\parent.cmd printed it, or none."""
    line = re.search(rb"wrapper-exit (\d+)", stdout)
    return int(line.group(1)) if line else None


def entry(output, outcome, code):
    """The log entry of one run of the wrapper, as a pattern: a header and
    the output for each run of the program, then the outcome; or, where the
    program did not run, one line that ends with the outcome."""
    tail = re.escape(f"outcome {outcome}, exit code {code}\r\n".encode())
    if output is None:
        return rb"=== run \d+-\d+, [^\r\n]*; " + tail
    status = 1 if outcome == "refused" else 0
    runs = (output,) if isinstance(output, str) else output
    return b"".join(rb"=== run \d+-\d+, [^\r\n]*, try %d: ksthunk-filter\.exe exit status %d\r\n"
                    % (number, status) + re.escape(console(text))
                    for number, text in enumerate(runs, 1)) + tail


def check(name, args):
    set_up, output, _, outcome = OUTCOMES[name]
    code, event, level = CODES[outcome]
    case = Case(args, f"wrapper-{name}")
    case.other = args.other
    set_up(case)
    command = install(case, args)
    result = case.prefix.wine(*command, locale=getattr(case, "locale", None))
    failures = case.failures
    # What the last line and the event add: that the log was held open all
    # along, so that the entry could not reach it; that there is no exe.
    note = {"log-held": wrapper_setting("NOT_LOGGED"),
            "no-exe": " (no ksthunk-filter.exe beside this script)"}.get(name, "")
    last = f"ksthunk-filter: {outcome}, exit code {code}, log {LOG}{note}\r\n".encode()
    if exit_code(result.stdout) != code or last not in result.stdout:
        failures.append(f"wrapper printed {result.stdout!r}, expected {last!r} and {code}")

    log = read(prefix_path(case, LOG))
    # Only a run that got the lock writes an entry.
    expected = b"" if outcome in ("busy", "no-exe") or note else entry(output, outcome, code)
    if not re.fullmatch(expected, log, re.S):
        failures.append(f"log {log[:2000]!r}, expected {expected[:2000]!r}")
    if name == "big-log" and read(prefix_path(case, LOG + ".1")) != OLD_LOG:
        failures.append("ksthunk-filter.log.1 does not hold the old log")

    # Wine passes the blanks before the redirection on to the program too.
    calls = [call.rstrip() for call in read(prefix_path(case, "C:\\standin-calls.txt"))
             .decode("latin-1").splitlines()]
    expected_calls = [f'eventcreate.exe" /T {level} /ID {event} /L APPLICATION /SO ksthunk-filter '
                      f'/D "ksthunk-filter: {outcome}, exit code {code}. Log: {LOG}{note}"']
    if outcome != "no-exe":  # the log folder's access list comes first
        expected_calls.insert(0, f'icacls.exe" "{wrapper_setting("LOGDIR")}" /inheritance:r '
                              "/grant:r *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F")
    if len(calls) != len(expected_calls) or not all(map(str.endswith, calls, expected_calls)):
        failures.append(f"calls {calls!r}, expected {expected_calls!r} at their ends")

    if os.path.exists(prefix_path(case, "C:\\pwned.txt")):
        failures.append("registry data was run as a command")
    if name in STORED:
        case.expect_stored(STORED[name])
    status = case.finish()
    print(f"{name}: wrapper outcome {outcome}, exit code {code}, event {event}",
          "passed" if status == 0 else "FAILED")
    return status


def check_two_at_once(args, trials=10):
    """Two runs of the wrapper started together on a list without ksthunk:
    one reports it changed, the other in place, and the log holds both
    runs' entries whole."""
    case = Case(args, "wrapper-two-at-once")
    command = install(case, args)
    log = prefix_path(case, LOG)
    expected = (entry(appended("filter1"), "changed", 3010)
                + entry(present("filter1", "ksthunk"), "in-place", 0))
    for trial in range(1, trials + 1):
        case.seed(multi_sz("filter1"))
        if os.path.exists(log):
            os.remove(log)
        runs = [subprocess.Popen(["wine", *command], env=case.prefix.env,
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
                for _ in range(2)]
        codes = sorted(exit_code(run.communicate(timeout=600)[0]) for run in runs)
        if codes != [0, 3010]:
            case.failures.append(f"trial {trial}: exit codes {codes}")
        if not re.fullmatch(expected, open(log, "rb").read(), re.S):
            case.failures.append(f"trial {trial}: the log does not hold both entries whole")
        case.expect_stored(multi_sz("filter1", "ksthunk"))
    status = case.finish()
    print(f"two runs at once, {trials} times:", "passed" if status == 0 else "FAILED")
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


TESTS = [*OUTCOMES, "two-at-once"]


def main():
    if sys.argv[1:] == ["--list"]:  # for CMake: one test each
        print(";".join(TESTS))
        return 0
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--helper", required=True)
    parser.add_argument("--standin", required=True)
    parser.add_argument("--other", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("tests", nargs="*", choices=TESTS, default=TESTS,
                        help="rows of the table, or two-at-once (default: all)")
    args = parser.parse_args()
    table = wrapper_outcomes()
    events = [event for _, event, _ in table.values()]
    failures = [code for code, _, level in table.values() if level == "ERROR"]
    # Codes that Intune and Configuration Manager take for success or retry.
    if not table or len(set(events)) != len(events) or len(set(failures)) != len(failures) \
            or set(failures) & {0, 1641, 1707, 3010, 1618}:
        sys.exit(f"the wrapper's outcomes are not distinct failures: {table}")
    failed = not guide_matches(table)
    statuses = [check(name, args) if name in OUTCOMES else check_two_at_once(args)
                for name in args.tests]
    return 1 if any(statuses) or failed else 0


if __name__ == "__main__":
    sys.exit(main())
