"""The outcomes that the fleet recipes report, one table for the Ansible
test and the wrapper test: how to set each one up in a Wine prefix, what
the program prints then, what Ansible reports with the playbook's rule, and
which of the wrapper's outcomes it is. The wrapper's exit codes and event
IDs are read from the wrapper itself (its OUTCOME_ lines)."""
import os
import re
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from expected import (DRIVER_MISSING, NOT_PRESENT, OLD_WINDOWS, READ_FAILURE,  # noqa: E402
                      SUCCESS)
from run_e2e import TWO, appended, multi_sz, present, utf16_multi_sz  # noqa: E402

WRAPPER = os.path.join(ROOT, "deploy", "windows", "ksthunk-filter-run.cmd")

# Entries that cmd.exe would mangle or run if it parsed them.
HOSTILE = ('a" & echo PWNED > C:\\pwned.txt & "b', "%SystemRoot%\\x", "x^y",
           "!bang!", ";leading", "50% & 50%")


def _without_driver(case):
    case.remove_thunk_driver()
    case.seed(TWO)


# name: (set-up, the program's output, Ansible's report, wrapper outcome)
OUTCOMES = {
    "in-place": (lambda c: c.seed(multi_sz("filter1", "ksthunk")),
                 present("filter1", "ksthunk"), "ok", "in-place"),
    "changed": (lambda c: c.seed(TWO), appended("filter1", "filter2"), "changed", "changed"),
    "created": (lambda c: c.create_key(), SUCCESS + NOT_PRESENT, "changed", "created"),
    "key-missing": (lambda c: None, "ERROR 0x2\n", "failed", "key-missing"),
    "access-denied": (lambda c: (c.seed(TWO), c.deny_access()), "ERROR 0x5\n", "failed",
                      "access-denied"),
    "read-failed": (lambda c: c.seed(utf16_multi_sz("MSTEE", "\u0416flt"), command="seed-wide"),
                    SUCCESS + READ_FAILURE, "failed", "read-failed"),
    "refused": (lambda c: (c.set_windows_version("winxp"), c.seed(TWO)), OLD_WINDOWS,
                "failed", "refused"),
    "no-driver": (_without_driver, appended("filter1", "filter2") + DRIVER_MISSING, "failed",
                  "no-driver"),
    "hostile-entries": (lambda c: c.seed(multi_sz(*HOSTILE)), appended(*HOSTILE), "changed",
                        "changed"),
}


def wrapper_log():
    """The log's path as the wrapper names it, in a Wine prefix (where
    %SystemRoot% is C:\\windows)."""
    with open(WRAPPER) as script:
        settings = dict(re.findall(r'^set "(LOGDIR|LOG)=(.*)"', script.read(), re.M))
    return settings["LOG"].replace("%LOGDIR%", settings["LOGDIR"]) \
        .replace("%SystemRoot%", "C:\\windows")


def wrapper_outcomes():
    """{outcome: (exit code, event ID, event level)} as the wrapper sets them."""
    with open(WRAPPER) as script:
        rows = re.findall(r'^set "OUTCOME_([\w-]+)=(\d+) (\d+) (\w+)"', script.read(), re.M)
    return {name: (int(code), int(event), level) for name, code, event, level in rows}
