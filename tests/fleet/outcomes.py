"""The outcomes that the fleet recipes report, one table for the Ansible
test and the wrapper test: how to set each one up in a Wine prefix, what
the program prints on each of its runs then, what Ansible reports, and
which of the wrapper's outcomes it is. Both tests run the wrapper as the
Windows tools do, beside the real exe (install()). The exit code, event ID
and level each outcome must give are written here (CODES), so that a
wrong one in the wrapper fails; its paths and texts are read from the
wrapper itself."""
import os
import re
import shutil
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from expected import (DRIVER_MISSING, LISTING_HEAD, NOT_PRESENT, OLD_WINDOWS,  # noqa: E402
                      PRESENT, READ_FAILURE, SET_FAILURE, SUCCESS)
from run_e2e import TWO, appended, console, multi_sz, present, utf16_multi_sz  # noqa: E402

WRAPPER = os.path.join(ROOT, "deploy", "windows", "ksthunk-filter-run.cmd")
# outcome: (exit code, event ID, event level)
CODES = {"in-place": (0, 100, "INFORMATION"), "changed": (3010, 101, "INFORMATION"),
         "created": (3010, 102, "INFORMATION"), "key-missing": (2002, 202, "ERROR"),
         "access-denied": (2005, 205, "ERROR"), "read-failed": (2020, 220, "ERROR"),
         "no-driver": (2040, 240, "ERROR"), "refused": (2060, 260, "ERROR"),
         "unrecognised": (2070, 270, "ERROR"), "no-log": (2080, 280, "ERROR"),
         "no-exe": (2090, 290, "ERROR"), "busy": (1618, 300, "WARNING")}
APP = "C:\\ksthunk-filter"

with open(WRAPPER) as _script:
    _SETTINGS = dict(re.findall(r'^set "([\w-]+)=(.*)"$', _script.read(), re.M))


def wrapper_setting(name, **values):
    """A setting of the wrapper as it stands in a Wine prefix (where
    %SystemRoot% is C:\\windows), with its other settings and `values` put
    in."""
    names = dict(_SETTINGS, SystemRoot="C:\\windows", **values)

    def expand(text):
        return re.sub(r"%(\w+)%", lambda m: expand(names[m.group(1)]), text)
    return expand(names[name])


def wrapper_outcomes():
    """{outcome: (exit code, event ID, event level)} as the wrapper sets them."""
    return {name[len("OUTCOME_"):]: (int(row.split()[0]), int(row.split()[1]), row.split()[2])
            for name, row in _SETTINGS.items() if name.startswith("OUTCOME_")}


def prefix_path(case, windows_name):
    """Where a file of the prefix, named as Windows names it, lies (Wine's
    file names do not depend on case)."""
    path = os.path.join(case.prefix.path, "drive_c")
    for part in windows_name.split("\\")[1:]:
        names = {name.lower(): name for name in os.listdir(path)} if os.path.isdir(path) else {}
        path = os.path.join(path, names.get(part.lower(), part))
    return path


def install(case, args):
    """The exe (where the case has one) and the wrapper side by side in the
    case's folder (APP unless it names another), stand-ins where the
    wrapper looks for eventcreate and icacls, and C:\\parent.cmd, which
    runs the wrapper by name from its folder, as Intune does, and prints
    its exit code as Windows sees it (Linux sees only its low 8 bits).
    Returns what `wine` is given to run."""
    app = getattr(case, "app", APP)
    folder = prefix_path(case, app)
    os.makedirs(folder)
    if case.exe:
        shutil.copy(case.exe, os.path.join(folder, "ksthunk-filter.exe"))
    shutil.copy(WRAPPER, folder)
    # A 32-bit program that a 64-bit cmd.exe starts from System32 is looked
    # up through the WoW64 redirection, in SysWOW64: a stand-in is in both.
    for system in ("system32", "syswow64"):
        for tool in ("eventcreate", "icacls"):
            shutil.copy(args.standin, prefix_path(case, f"C:\\windows\\{system}\\{tool}.exe"))
    wrapper = os.path.basename(WRAPPER)
    if case.launcher:  # the key's access list is emptied, then the wrapper runs
        helper = "Z:" + os.path.abspath(case.helper).replace("/", "\\")
        run = f'"{helper}" deny-access "{app}\\{wrapper}"'
    else:
        run = f"cmd /c {wrapper}"
    with open(prefix_path(case, "C:\\parent.cmd"), "w", newline="\r\n") as parent:
        parent.write(f'@echo off\ncd /d "{app}"\n{run}\necho wrapper-exit %ERRORLEVEL%\n')
    return ["cmd", "/c", "C:\\parent.cmd"]


# Entries that cmd.exe would mangle or run if it parsed them.
HOSTILE = ('a" & echo PWNED > C:\\pwned.txt & "b', "%SystemRoot%\\x", "x^y",
           "!bang!", ";leading", "50% & 50%")
# An entry too long for Wine's FOR /F, and one that reads like the
# program's own last line.
LONG_ENTRY = "x" * 9000
FORGED = PRESENT.strip()
# A list long enough that the program's listing of it, which begins once it
# has read the list, takes it a while before its last check of the list:
# time for another program to change the list in between.
LONG_LIST = [f"filter{i:05d}" for i in range(3000)]


APPENDED_TWO = appended("filter1", "filter2")


def _two_with(**settings):
    """The list filter1, filter2, and the run's folder (app), locale or exe."""
    def set_up(case):
        vars(case).update(settings)
        case.seed(TWO)
    return set_up


# A log that an earlier run left at 2 MiB.
OLD_LOG = b"=== run 1-1, an earlier entry\r\n" * 70000


def _big_log(case):
    case.seed(TWO)
    os.makedirs(prefix_path(case, wrapper_setting("LOGDIR")))
    with open(prefix_path(case, wrapper_setting("LOG")), "wb") as log:
        log.write(OLD_LOG)


def _changed_during_first_run(case):
    case.seed(multi_sz(*LONG_LIST))
    case.start(case.other, "change-on-output", wrapper_setting("OUTPUT", TRY="1"),
               LISTING_HEAD.split("\n")[2])


def _held(setting):
    """Another process holds one of the run's files open for writing."""
    def set_up(case):
        case.seed(TWO)
        os.makedirs(prefix_path(case, wrapper_setting("LOGDIR")), exist_ok=True)
        case.start(case.other, "hold", wrapper_setting(setting), "C:\\stop")
    return set_up


def _old_output_held(case):
    """An earlier run's output, saying ksthunk is in place, held open where
    this run's output would go."""
    case.seed(TWO)
    output = wrapper_setting("OUTPUT", TRY="1")
    os.makedirs(os.path.dirname(prefix_path(case, output)))
    with open(prefix_path(case, output), "wb") as old:
        old.write(console(present("filter1", "ksthunk")))
    case.start(case.other, "hold", output, "C:\\stop")


# name: (set-up, the program's output on each of its runs (none: it did not
# run), Ansible's report (none: not run under Ansible), wrapper outcome)
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
    "no-driver": (lambda c: (c.remove_thunk_driver(), c.seed(TWO)),
                  APPENDED_TWO + DRIVER_MISSING, "failed", "no-driver"),
    "hostile-entries": (lambda c: c.seed(multi_sz(*HOSTILE)), appended(*HOSTILE), "changed",
                        "changed"),
    # Wine's FOR /F stops reading at the long entry: the line before it is
    # registry data, never taken for the program's last line.
    "long-entry": (lambda c: c.seed(multi_sz(LONG_ENTRY, "ksthunk")),
                   present(LONG_ENTRY, "ksthunk"), None, "unrecognised"),
    "forged-last-line": (lambda c: c.seed(multi_sz(FORGED, LONG_ENTRY)),
                         appended(FORGED, LONG_ENTRY), None, "unrecognised"),
    # Another program changes the list under the first run: it runs again.
    "changed-meanwhile": (_changed_during_first_run,
                          (appended(*LONG_LIST) + SET_FAILURE, appended("filter1", "writer")),
                          None, "changed"),
    "lock-held": (_held("LOCK"), None, None, "busy"),
    # The true outcome, and the event says the log lacks it.
    "log-held": (_held("LOG"), appended("filter1", "filter2"), None, "changed"),
    "old-output-held": (_old_output_held, None, None, "no-log"),
    # Run by name from a folder that cmd.exe would split, and in locales
    # whose %DATE% is not ASCII: one entry, no note.
    "odd-folder": (_two_with(app="C:\\R&D a^b (x86)"), APPENDED_TWO, None, "changed"),
    "bulgarian-date": (_two_with(locale="bg_BG.UTF-8"), APPENDED_TWO, None, "changed"),
    "chinese-date": (_two_with(locale="zh_CN.UTF-8"), APPENDED_TWO, None, "changed"),
    "big-log": (_big_log, APPENDED_TWO, None, "changed"),
    "no-exe": (_two_with(exe=None), None, None, "no-exe"),
}
