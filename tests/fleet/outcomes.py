"""The outcomes that the fleet recipes report, one table for the Ansible
test and the runner test: each one's set-up in a Wine prefix, what the tool
(or its stand-in) prints on each run, Ansible's report and the runner's
outcome, with its exit code, event ID and level written out here (CODES)."""
import os
import shutil
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from expected import (DRIVER_MISSING, NOT_PRESENT, OLD_WINDOWS, READ_FAILURE,  # noqa: E402
                      SET_FAILURE, SUCCESS)
from run_e2e import APPENDED_TWO, TWO, appended, multi_sz, present, utf16_multi_sz  # noqa: E402

# outcome: (exit code, event ID, event level)
CODES = {"in-place": (0, 100, "INFORMATION"), "changed": (3010, 101, "INFORMATION"),
         "created": (3010, 102, "INFORMATION"), "key-missing": (1010, 202, "ERROR"),
         "access-denied": (5, 205, "ERROR"), "read-failed": (1012, 220, "ERROR"),
         "no-driver": (1060, 240, "ERROR"), "refused": (1633, 260, "ERROR"),
         "unrecognised": (13, 270, "ERROR"), "no-exe": (2, 290, "ERROR"),
         "no-log": (82, 280, "ERROR"), "timed-out": (1460, 310, "ERROR"),
         "busy": (1618, 300, "WARNING")}
APP = "C:\\ksthunk-filter"
LOG_DIR = "C:\\windows\\Logs\\ksthunk-filter"
LOG = LOG_DIR + "\\ksthunk-filter.log"
RUNNER = "ksthunk-filter-run.exe"


def prefix_path(case, windows_name):
    """Where a file of the prefix, named as Windows names it, lies (Wine's
    file names do not depend on case)."""
    path = os.path.join(case.prefix.path, "drive_c")
    for part in windows_name.split("\\")[1:]:
        names = {name.lower(): name for name in os.listdir(path)} if os.path.isdir(path) else {}
        path = os.path.join(path, names.get(part.lower(), part))
    return path


def install(case, args):
    """The runner and, beside it, the exe, the stand-in with its answers
    (case.answers; then the runner with a short timeout) or nothing (case.exe
    None), in case.app or APP; and C:\\parent.cmd, which runs the runner by
    name from its folder with case.arguments, as Intune does, and prints its
    whole exit code (Linux sees its low 8 bits). Returns what `wine` runs."""
    app = getattr(case, "app", APP)
    folder = prefix_path(case, app)
    os.makedirs(folder, exist_ok=True)
    answers = getattr(case, "answers", None)
    exe = args.standin if answers else case.exe
    if exe:
        shutil.copy(exe, os.path.join(folder, "ksthunk-filter.exe"))
    if answers:
        with open(os.path.join(folder, "standin.txt"), "wb") as standin:
            standin.write(b"\0".join(a.encode("latin-1") for a in answers))
    shutil.copy(args.short_runner if answers else args.runner, os.path.join(folder, RUNNER))
    run = RUNNER
    if case.launcher:  # the key's access list is emptied, then the runner runs
        helper = "Z:" + os.path.abspath(case.helper).replace("/", "\\")
        run = f'"{helper}" deny-access "{app}\\{RUNNER}"'
    run += getattr(case, "arguments", "")  # " /check", say
    with open(prefix_path(case, "C:\\parent.cmd"), "w", newline="\r\n",
              encoding="cp437") as parent:
        parent.write(f'@echo off\ncd /d "{app}"\n{run}\necho runner-exit %ERRORLEVEL%\n')
    return ["cmd", "/c", "C:\\parent.cmd"]


# Entries that a shell would mangle or run if it parsed them.
HOSTILE = ('a" & echo PWNED > C:\\pwned.txt & "b', "%SystemRoot%\\x", "x^y",
           "!bang!", ";leading", "50% & 50%")
# Not % (Wine's cmd.exe expands it once more); é in the launcher's cp437.
ODD_FOLDER = "C:\\R&D a^b (x86) !x \u00e9"


def _two_with(**settings):
    """The list filter1, filter2, and the run's folder (app), exe, loader
    or stand-in answers."""
    def set_up(case):
        vars(case).update(settings)
        case.seed(TWO)
    return set_up


def _answers(*answers):
    """The stand-in beside the runner, with an answer for each run: a
    status and an output, or "hang"."""
    return _two_with(answers=answers)


# A log that an earlier run left at 2 MiB.
OLD_LOG = b"=== an earlier entry\r\n" * 100000


def _held(how, path, big_log=False):
    """Another process holds a file of the runner's open: `how` is "hold"
    (writing, sharing read), "read" (sharing read and write), "folder" (one
    stands in the file's place) or none."""
    def set_up(case):
        case.seed(TWO)
        os.makedirs(prefix_path(case, LOG_DIR), exist_ok=True)
        if big_log:
            with open(prefix_path(case, LOG), "wb") as log:
                log.write(OLD_LOG)
        if how == "folder":
            os.makedirs(prefix_path(case, path))
        elif how:
            case.start(case.other, how, path, "C:\\stop")
    return set_up


# name: (set-up, the program's output on each of its runs, or (status,
# output) pairs (none: it did not run), Ansible's report (none: not run
# under Ansible), runner outcome)
OUTCOMES = {
    "in-place": (lambda c: c.seed(multi_sz("filter1", "ksthunk")),
                 present("filter1", "ksthunk"), "ok", "in-place"),
    "changed": (lambda c: c.seed(TWO), APPENDED_TWO, "changed", "changed"),
    "created": (lambda c: c.create_key(), SUCCESS + NOT_PRESENT, "changed", "created"),
    "key-missing": (lambda c: None, "ERROR 0x2\n", "failed", "key-missing"),
    "access-denied": (lambda c: (c.seed(TWO), c.deny_access()), "ERROR 0x5\n", "failed",
                      "access-denied"),
    "read-failed": (lambda c: c.seed(utf16_multi_sz("MSTEE", "\u0416flt"), command="seed-wide"),
                    SUCCESS + READ_FAILURE, "failed", "read-failed"),
    "refused": (lambda c: (c.set_windows_version("winxp"), c.seed(TWO)), OLD_WINDOWS,
                "failed", "refused"),
    "no-driver": (lambda c: (c.remove_thunk_driver(), c.seed(TWO)),
                  APPENDED_TWO + DRIVER_MISSING, "failed", "no-driver"),
    "hostile-entries": (lambda c: c.seed(multi_sz(*HOSTILE)), appended(*HOSTILE), "changed",
                        "changed"),
    # Another program changed the list under the first run: it runs again.
    "changed-meanwhile": (_answers("0\n" + APPENDED_TWO + SET_FAILURE,
                                   "0\n" + appended("filter1", "writer")),
                          ((0, APPENDED_TWO + SET_FAILURE), (0, appended("filter1", "writer"))),
                          None, "changed"),
    "cut-short": (_answers("0\n" + SUCCESS + "\n" + "*" * 26 + "\n"),
                  ((0, SUCCESS + "\n" + "*" * 26 + "\n"),), None, "unrecognised"),
    "crash": (_answers("0xC0000005\n"), ((3221225477, ""),), None, "unrecognised"),
    "hang": (_answers("hang"), ((1460, ""),), None, "timed-out"),
    "flood": (_answers("flood"), "flood", None, "timed-out"),  # writes without end
    "damaged-exe": (_two_with(exe=os.path.join(ROOT, "LICENSE")), (), None, "no-exe"),
    "no-exe": (_two_with(exe=None), None, None, "no-exe"),
    "lock-held": (_held("hold", LOG_DIR + "\\ksthunk-filter.lock"), None, None, "busy"),
    # Denied on every try, which no retry mends: no-log, and soon.
    "lock-denied": (_held("folder", LOG_DIR + "\\ksthunk-filter.lock"), None, None, "no-log"),
    "log-folder-a-file": (lambda c: (c.seed(TWO), open(prefix_path(c, LOG_DIR), "w").close()),
                          None, None, "no-log"),
    # The true outcome, and the last line and the event say the log lacks it.
    "log-held": (_held("hold", LOG), APPENDED_TWO, None, "changed"),
    # A log of 2 MiB rotated by its rename, and while a log agent reads it.
    "log-rotated": (_held(None, LOG, big_log=True), APPENDED_TWO, None, "changed"),
    "log-read": (_held("read", LOG, big_log=True), APPENDED_TWO, None, "changed"),
    # Run by name from a folder that cmd.exe would split or expand, and from
    # the local Group Policy's start-up folder by the 64-bit cmd.exe.
    "odd-folder": (_two_with(app=ODD_FOLDER), APPENDED_TWO, None, "changed"),
    "group-policy": (_two_with(app="C:\\windows\\system32\\GroupPolicy\\Machine\\Scripts\\Startup",
                               loader="/usr/lib/wine/wine64"), APPENDED_TWO, None, "changed"),
}
