#!/usr/bin/env python3
"""Runs ksthunk-filter-run.exe under Wine by name from its folder, beside
the real ksthunk-filter.exe or a stand-in, for each row of the shared
table in a prefix of its own, and checks its whole exit code and last line,
its log entry byte for byte, its one event as Wine traces it, the list it
left, and that no run of the tool outlives it. Then two runs started
together, ten times over; and the read-only commands and the filters
without a driver (health).

    run_runner.py --exe EXE --helper REGVALUE --standin STANDIN --other OTHER
                  --runner RUNNER --short-runner RUNNER --work DIR [TEST...]
    run_runner.py --list
"""
import argparse
import glob
import os
import re
import subprocess
import sys
import time

from outcomes import (APP, CODES, HOSTILE, LOG, LOG_DIR, OLD_LOG, OUTCOMES, RUNNER, install,
                      prefix_path)
from expected import CLASS_KEY, THUNK_SERVICE
from run_e2e import TWO, Case, appended, console, multi_sz, present

# The list each run leaves where it is not the list as seeded with ksthunk
# appended (rows whose outcome is not "changed" and are not here are not
# checked).
STORED = {"hostile-entries": multi_sz(*HOSTILE, "ksthunk"),
          **dict.fromkeys(("changed-meanwhile", "cut-short", "crash", "hang", "flood",
                           "damaged-exe", "no-exe", "lock-held", "lock-denied",
                           "log-folder-a-file"), TWO)}
# The notes as Wine words Windows' messages.
NOTES = {"log-held": "this run's entry could not be appended to it: error 32 (Sharing violation.)",
         "no-exe": "no ksthunk-filter.exe beside this program",
         "damaged-exe": "ksthunk-filter.exe could not be started: error 193 (Bad EXE format for %1.)",
         "lock-denied": "the lock file could not be created: error 5 (Access denied.)",
         "log-folder-a-file": f"the log folder {LOG_DIR} could not be made: error 183 "
                              "(File already exists.)",
         **dict.fromkeys(("hang", "flood"), "ksthunk-filter.exe ran too long and was ended")}
# Wine traces each ReportEventW: its text, by level, and its ID.
EVENT_TRACE = "+eventlog,fixme+advapi"
LEVELS = {b"trace": "INFORMATION", b"warn": "WARNING", b"err": "ERROR"}
UTF8_MARK = b"\xef\xbb\xbf"  # a log the runner begins starts with it
MISSING_DRIVERS = 400  # the warning that names filters without a driver


def read(path):
    """The bytes of a file, none when there is no such file."""
    return open(path, "rb").read() if os.path.exists(path) else b""


def exit_code(stdout):
    """The whole exit code: C:\\parent.cmd's line, else the result line's."""
    line = re.findall(rb"(?:runner-exit|exit code) (\d+)", stdout)
    return int(line[-1]) if line else None


def events(stderr):
    """(ID, level, text) of each event Wine traced."""
    texts = re.findall(rb"(trace|warn|err):eventlog:ReportEventW L\"(.*)\"", stderr)
    ids = re.findall(rb"fixme:advapi:ReportEventW \(\w+,0x\w+,0x\w+,0x(\w+),", stderr)
    return [(int(event, 16), LEVELS[level], text.replace(b"\\\\", b"\\").decode())
            for event, (level, text) in zip(ids, texts)]


def entry(runs, outcome, code, note=None):
    """One log entry as a pattern: the header, each run's status and output,
    the outcome and the note."""
    if runs == "flood":  # the output kept, whatever it was
        tries = rb"try 1: ksthunk-filter\.exe exit status 1460\r\n.*"
    else:
        if isinstance(runs, str):
            runs = ((1 if outcome == "refused" else 0, runs),)
        tries = b"".join(b"try %d: ksthunk-filter\\.exe exit status %d\r\n" % (number, status)
                         + re.escape(console(text)) for number, (status, text) in enumerate(runs, 1))
    tail = f"outcome {outcome}, exit code {code}\r\n" + (f"{note}\r\n" if note else "")
    return (rb"=== ksthunk-filter-run \d+\.\d+\.\d+, \d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ\r\n"
            + tries + rb"(filters without a driver: [^\r\n]*\r\n)?" + re.escape(tail.encode()))


def running(path):
    """Whether a process runs the file at `path` (Wine maps it)."""
    found = False
    for maps in glob.glob("/proc/[0-9]*/maps"):
        try:
            found = found or os.path.realpath(path).encode() in read(maps)
        except OSError:  # the process ended meanwhile
            pass
    return found


def check(name, args):
    set_up, runs, _, outcome = OUTCOMES[name]
    code, event, level = CODES[outcome]
    case = Case(args, f"runner-{name}")
    case.other = args.other
    set_up(case)
    command, failures = install(case, args), case.failures
    case.prefix.env["WINEDEBUG"] = EVENT_TRACE
    started = time.monotonic()
    result = case.prefix.wine(*command, loader=getattr(case, "loader", "wine"))
    if name == "lock-denied" and time.monotonic() - started > 20:  # not the 30 s of busy
        failures.append("a lock denied on every try held the run 20 s")
    note = f" ({NOTES[name]})" if name in NOTES else ""
    last = f"ksthunk-filter: {outcome}, exit code {code}, log {LOG}{note}\r\n".encode()
    if exit_code(result.stdout) != code or last not in result.stdout:
        failures.append(f"runner printed {result.stdout!r}, expected {last!r} and {code}")
    traced = [event for event in events(result.stderr) if event[0] != MISSING_DRIVERS]
    if traced != [(event, level, f"ksthunk-filter: {outcome}, exit code {code}. Log: {LOG}{note}")]:
        failures.append(f"events {traced}")

    log = read(prefix_path(case, LOG))
    # Only a run that got the lock writes an entry.
    expected = b"" if runs is None or name == "log-held" else (
        re.escape(UTF8_MARK) + entry(runs, outcome, code, NOTES.get(name)))
    if not re.fullmatch(expected, log, re.S):
        failures.append(f"log {log[:2000]!r}, expected {expected[:2000]!r}")
    if name.startswith("log-r") and read(prefix_path(case, LOG + ".1")) != OLD_LOG:
        failures.append("ksthunk-filter.log.1 does not hold the old log")
    if name == "no-exe" and os.path.exists(prefix_path(case, LOG_DIR)):
        failures.append("a run without the exe made the log folder")
    app = prefix_path(case, getattr(case, "app", APP))
    if running(os.path.join(app, "ksthunk-filter.exe")):
        failures.append("ksthunk-filter.exe outlived the runner")
    if name in STORED or outcome == "changed":
        case.expect_stored(STORED.get(name, multi_sz("filter1", "filter2", "ksthunk")))
    status = case.finish()
    print(f"{name}: outcome {outcome}, exit code {code}, event {event}",
          "passed" if status == 0 else "FAILED")
    return status


def check_two_at_once(args, trials=10):
    """Two runs of the runner started together on a list without ksthunk:
    one reports it changed, the other in place, and the log holds both
    runs' entries whole."""
    case = Case(args, "runner-two-at-once")
    command = install(case, args)
    log = prefix_path(case, LOG)
    expected = (re.escape(UTF8_MARK) + entry(appended("filter1"), "changed", 3010)
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
        if not re.fullmatch(expected, read(log), re.S):
            case.failures.append(f"trial {trial}: the log does not hold both entries whole")
        case.expect_stored(multi_sz("filter1", "ksthunk"))
    status = case.finish()
    print(f"two runs at once, {trials} times:", "passed" if status == 0 else "FAILED")
    return status


def check_health(args):
    """UpperFilters filter1 (installed), WdmAudioFilter; LowerFilters lowgone
    and a Cyrillic name: /? exits 0, an unknown argument 87, and /check
    names what lacks a driver, none of them changing or writing anything; a
    run names them, not filter1, in its warning and (in UTF-8) its log;
    /check then finds ksthunk in place, and its failures give their codes."""
    case = Case(args, "runner-health")
    command, key, runner = install(case, args), "HKLM\\" + CLASS_KEY, f"{APP}\\{RUNNER}"
    case.seed(multi_sz("filter1", "WdmAudioFilter"))
    case.prefix.wine("reg", "add", key, "/v", "LowerFilters", "/t", "REG_MULTI_SZ", "/d",
                     "lowgone\\0\u0416flt", "/f")
    case.prefix.wine("reg", "add", "HKLM\\" + THUNK_SERVICE.replace("ksthunk", "filter1"), "/f")

    def exported():  # the class key as reg export writes it
        case.prefix.wine("reg", "export", key, "C:\\c.reg", "/y")
        return read(prefix_path(case, "C:\\c.reg"))
    before = exported()
    usage = [case.prefix.wine(runner, argument).returncode for argument in ("/?", "/x")]
    check = case.prefix.wine(runner, "/check")
    if exit_code(check.stdout) != 1 or b"without a driver: WdmAudioFilter\r\n" not in check.stdout \
            or exported() != before or os.path.exists(prefix_path(case, LOG_DIR)) or usage != [0, 87]:
        case.failures.append(f"/?, /x {usage}, /check before the run: {check.stdout!r}")
    case.prefix.env["WINEDEBUG"] = EVENT_TRACE
    run = case.prefix.wine(*command)
    missing = "filters without a driver: UpperFilters WdmAudioFilter; LowerFilters lowgone, \u0416flt"
    warning = (MISSING_DRIVERS, "WARNING", "ksthunk-filter: " + missing.replace("\u0416", "\\0416"))
    if exit_code(run.stdout) != 3010 or warning not in events(run.stderr) \
            or (missing + "\r\n").encode() not in read(prefix_path(case, LOG)) \
            or exit_code(case.prefix.wine(runner, "/check").stdout) != 0:
        case.failures.append(f"the run: {run.stdout!r}, events {events(run.stderr)}, or /check after")
    for set_up, said in (((lambda: (case.seed(TWO), case.remove_thunk_driver())), "no-driver, exit code 1060"),
                         (lambda: case.seed(b"\1", 3), "read-failed, exit code 1012"),
                         (lambda: case.prefix.wine("reg", "delete", key, "/f"), "key-missing, exit code 1010")):
        set_up()
        if f"check {said}\r\n".encode() not in case.prefix.wine(runner, "/check").stdout:
            case.failures.append(f"/check did not say {said}")
    status = case.finish()
    print("filters without a driver:", "passed" if status == 0 else "FAILED")
    return status


TESTS = [*OUTCOMES, "two-at-once", "health"]


def main():
    if sys.argv[1:] == ["--list"]:  # for CMake: one test each
        print(";".join(TESTS))
        return 0
    parser = argparse.ArgumentParser()
    for option in ("--exe", "--helper", "--standin", "--other", "--runner", "--short-runner",
                   "--work"):
        parser.add_argument(option, required=True)
    parser.add_argument("tests", nargs="*", choices=TESTS, default=TESTS,
                        help="rows of the table, two-at-once or health (default: all)")
    args = parser.parse_args()
    special = {"two-at-once": check_two_at_once, "health": check_health}
    statuses = [check(name, args) if name in OUTCOMES else special[name](args)
                for name in args.tests]
    return 1 if any(statuses) else 0


if __name__ == "__main__":
    sys.exit(main())
