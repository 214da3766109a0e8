#!/usr/bin/env python3
"""End-to-end tests of ksthunk-filter.exe under Wine.

Each case runs in its own throwaway prefix, copied from a template prefix
that `prepare` makes once (a new prefix takes Wine about ten seconds to set
up), with one wineserver kept up for the case's life. A case compares the
program's standard output byte for byte, its exit status, and the stored
value's exact type and bytes. `templates` checks, after every case, that
no case wrote through its links into a template.

    run_e2e.py --exe EXE --helper REGVALUE --work DIR prepare|templates
    run_e2e.py --exe EXE --helper REGVALUE --work DIR case NAME
    run_e2e.py list [--every-case]
"""
import argparse
import json
import os
import shutil
import subprocess
import sys

from expected import (DRIVER_MISSING, LISTING_HEAD, LISTING_TAIL, NOT_64_BIT,
                      NOT_PRESENT, OLD_WINDOWS, PRESENT, READ_FAILURE, SUCCESS, THUNK_SERVICE)
from wine_env import seed_windows, wine_env

REG_MULTI_SZ = 7
# Wine takes a program's ANSI code page from LC_ALL; a locale without a
# legacy code page gets UTF-8 (65001), as Windows gives every program when
# its "use Unicode UTF-8" option is on.
CODE_PAGES = {"cp1252": "C.UTF-8", "cp1251": "ru_RU.UTF-8",
              "cp932": "ja_JP.UTF-8", "cp936": "zh_CN.UTF-8", "utf-8": "hi_IN.UTF-8"}


def multi_sz(*entries):
    return b"".join(e.encode("latin-1") + b"\0" for e in entries) + b"\0"


def listing(*entries):
    return LISTING_HEAD + "".join(e + "\n" for e in entries) + LISTING_TAIL


def appended(*entries):
    return SUCCESS + listing(*entries) + SUCCESS + LISTING_TAIL


def present(*entries):
    return SUCCESS + listing(*entries) + SUCCESS + PRESENT


def utf16_multi_sz(*entries):
    """A list as the registry stores it, in UTF-16."""
    return "".join(e + "\0" for e in entries).encode("utf-16-le", "surrogatepass") + b"\0\0"


def console(text, code_page="latin-1"):
    """What a text-mode console program's "\\n" becomes on a pipe."""
    return text.encode(code_page).replace(b"\n", b"\r\n")


class Prefix:
    def __init__(self, path, arch):
        self.path = path
        self.env = wine_env(path, WINEARCH=arch)

    def wine(self, *args, locale=None, loader="wine"):
        """Runs a program; once more when Wine's client lost its wineserver
        as it started, which says nothing of the program (cmake/wine-run.sh)."""
        env = self.env if locale is None else dict(self.env, LC_ALL=locale)
        for _ in range(2):
            result = subprocess.run([loader, *args], env=env, capture_output=True,
                                    timeout=300)
            lines = result.stderr.splitlines()
            if not any(line.startswith(b"wine client error:") for line in lines):
                break
        return result

    def helper(self, helper, *args):
        result = self.wine(helper, *args)
        if result.returncode != 0:
            sys.exit(f"helper {args} failed: {result.stderr.decode(errors='replace')}")
        return result.stdout.decode("ascii").strip()

    def start(self):
        """One wineserver for the prefix's life (it lingers 30 s should stop()
        never come), and Wine's services started on none of our pipes, which
        they would hold open after the program that started them."""
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL)
        self.stop()  # one that would not stay
        subprocess.run(["wineserver", "-p30"], env=self.env, check=True, **quiet)
        subprocess.run(["wine", "cmd", "/c", "exit"], env=self.env, timeout=300, **quiet)

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True)
        subprocess.run(["wineserver", "-w"], env=self.env, capture_output=True)


def template_path(work, arch):
    return os.path.join(work, f"template-{arch}")


def signature(path):
    """Each file's name, size and modification time: a write in place through
    a case's hard link to a template file changes the template's."""
    return sorted(subprocess.run(["find", path, "-type", "f", "-printf", "%P %s %T@\n"],
                                 capture_output=True, text=True, check=True).stdout.splitlines())


def prepare(work):
    os.makedirs(work, exist_ok=True)
    for arch in ("win64", "win32"):
        path = template_path(work, arch)
        shutil.rmtree(path, ignore_errors=True)
        prefix = Prefix(path, arch)
        result = prefix.wine("wineboot", "--init")
        seed_windows(prefix.env)
        prefix.stop()
        if result.returncode != 0 or not os.path.isdir(os.path.join(path, "drive_c")):
            sys.exit(f"cannot create the {arch} prefix: {result.stderr.decode(errors='replace')}")
        with open(path + ".signature", "w") as f:
            json.dump(signature(path), f)
    print("prepared")


def check_templates(work):
    changed = [arch for arch in ("win64", "win32") if json.load(open(
        template_path(work, arch) + ".signature")) != signature(template_path(work, arch))]
    print(f"templates written through a case's links: {changed}" if changed else "unchanged")
    return 1 if changed else 0


class Case:
    def __init__(self, args, name, arch="win64"):
        self.exe = args.exe
        self.helper = args.helper
        path, template = os.path.abspath(f"{args.work}/case-{name}"), template_path(args.work, arch)
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)  # drive_c hard-linked, the registry and the rest copied
        subprocess.run(["cp", "-al", f"{template}/drive_c", path], check=True)
        subprocess.run(["cp", "-a", *[f"{template}/{name}" for name in os.listdir(template)
                                      if name != "drive_c"], path], check=True)
        self.prefix = Prefix(path, arch)
        self.prefix.start()
        self.launcher = []
        self.failures = []
        self.background = []

    def seed(self, data, kind=REG_MULTI_SZ, command="seed"):
        if len(data) > 4096 and command == "seed":  # too long for a command line
            path = os.path.join(self.prefix.path, "seed.bin")
            with open(path, "wb") as f:
                f.write(data)
            self.prefix.helper(self.helper, "seed-file", str(kind), "Z:" + path.replace("/", "\\"))
            return
        self.prefix.helper(self.helper, command, str(kind), data.hex() or "-")

    def create_key(self):
        self.prefix.helper(self.helper, "create-key")

    def remove_thunk_driver(self):
        """Takes away the ksthunk driver's service key, as Windows may lack it."""
        result = self.prefix.wine("reg", "delete", "HKLM\\" + THUNK_SERVICE, "/f")
        if result.returncode != 0:
            sys.exit("cannot remove the ksthunk service key")

    def deny_access(self):
        """The next run of the exe finds the key's access list empty. Wine
        keeps an access list only while its server runs (it does not save
        it with the key), so the helper sets it and then starts the exe."""
        self.launcher = [self.helper, "deny-access"]

    def command(self):
        """What `wine` runs: the exe, or the helper that starts it."""
        if not self.launcher:
            return [self.exe]
        return self.launcher + ["Z:" + os.path.abspath(self.exe).replace("/", "\\")]

    def start(self, program, *args):
        """Starts a Windows program in the background and waits for the
        first line it prints; finish() stops it with the prefix."""
        process = subprocess.Popen(["wine", program, *args], env=self.prefix.env,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.background.append(process)
        if not process.stdout.readline():
            sys.exit(f"{program} {args} did not start")

    def set_windows_version(self, version):
        result = self.prefix.wine("reg", "add", "HKEY_CURRENT_USER\\Software\\Wine",
                                  "/v", "Version", "/t", "REG_SZ", "/d", version, "/f")
        if result.returncode != 0:
            sys.exit("cannot set the Windows version")

    def stored(self, command="dump"):
        return self.prefix.helper(self.helper, command)

    def run(self, *arguments, expect_output, expect_status, code_page=None):
        """Runs the exe in `code_page`, 1252 when none is named. Without one
        the expected text maps to bytes through latin-1, which maps every
        byte to itself, so that texts made from raw bytes compare exactly."""
        result = self.prefix.wine(*self.command(), *arguments,
                                  locale=CODE_PAGES[code_page or "cp1252"])
        expected = console(expect_output, code_page or "latin-1")
        if result.stdout != expected:
            self.failures.append(f"output {result.stdout!r}, expected {expected!r}")
        if b"\n" in result.stdout.replace(b"\r\n", b""):
            self.failures.append("a bare \\n reached standard output")
        if result.returncode != expect_status:
            self.failures.append(f"status {result.returncode}, expected {expect_status}")

    def expect_stored(self, expected, command="dump"):
        if isinstance(expected, bytes):
            expected = f"{REG_MULTI_SZ} {expected.hex()}"
        actual = self.stored(command)
        if actual != expected:
            self.failures.append(f"stored {actual!r}, expected {expected!r}")

    def finish(self):
        self.prefix.stop()
        for process in self.background:
            process.wait(timeout=60)
            process.stdout.close()
        if not os.environ.get("KSF_KEEP_PREFIXES"):
            shutil.rmtree(self.prefix.path, ignore_errors=True)
        for failure in self.failures:
            print("FAIL:", failure)
        return 1 if self.failures else 0


TWO = multi_sz("filter1", "filter2")


def model_entries(data):
    """The entries the program lists: split at NULs, the final NUL not an
    entry, a last entry without its NUL ending at the end of the bytes."""
    entries, entry = [], b""
    for i, byte in enumerate(data):
        if byte:
            entry += bytes([byte])
            continue
        if entry or i + 1 != len(data):
            entries.append(entry)
        entry = b""
    if entry:
        entries.append(entry)
    return entries


def hostile(data, kind):
    """Seeds any bytes of a string type; whatever the program makes of them, the
    value afterwards is what was read before, or those entries with ksthunk
    appended, well formed, as REG_MULTI_SZ."""
    def case(c):
        c.seed(data, kind)
        before = c.stored()
        kind_read, hex_read = before.split(" ") if " " in before else (before, "")
        read = bytes.fromhex(hex_read)
        entries = model_entries(read)
        names = [e.decode("latin-1") for e in entries]
        if b"ksthunk" in entries:
            c.run(expect_output=present(*names), expect_status=0)
            c.expect_stored(before)
        else:
            c.run(expect_output=appended(*names), expect_status=0)
            c.expect_stored(b"".join(e + b"\0" for e in entries) + b"ksthunk\0\0")
    return case


def one_mebibyte_list():
    entries, size, i = [], 0, 0
    while size < 1 << 20:
        entry = f"filter{i:06d}x".encode()[: 8 + i % 17]
        entries.append(entry)
        size += len(entry) + 1
        i += 1
    return b"".join(e + b"\0" for e in entries) + b"\0"


def simple(set_up, runs, stored=None):
    """A case that sets up, runs the exe for each (output, status,
    arguments...) of `runs`, then expects `stored` (none: not looked at)."""
    def case(c):
        set_up(c)
        for output, status, *arguments in runs:
            c.run(*arguments, expect_output=output, expect_status=status)
        if stored is not None:
            c.expect_stored(stored)
    return case


def seed(data, *steps):
    """A set-up: each of `steps` (Case.create_key, say), then `data` seeded."""
    def set_up(c):
        for step in steps:
            step(c)
        if data is not None:
            c.seed(data)
    return set_up


APPENDED_TWO, WITH_KSTHUNK = appended("filter1", "filter2"), multi_sz("filter1", "filter2", "ksthunk")
TWO_FILTERS = simple(seed(TWO), [(APPENDED_TWO, 0)], WITH_KSTHUNK)
WINDOWS_XP = simple(seed(TWO, lambda c: c.set_windows_version("winxp")), [(OLD_WINDOWS, 1)], TWO)


# Per code page, entries that it cannot hold and entries that it can, as
# UTF-16 in the registry. UTF-8 holds every character but an unpaired
# surrogate.
OUTSIDE_CODE_PAGE = {"cp1252": ("MSTEE", "\u0416flt"), "cp1251": ("MSTEE", "caf\u00e9"),
                     "cp932": ("na\u00efve",), "cp936": ("MSTEE", "flt\U0001F600"),
                     "utf-8": ("MSTEE", "flt\ud800")}
INSIDE_CODE_PAGE = {"cp1252": ("MSTEE", "caf\u00e9"), "cp1251": ("MSTEE", "\u0416flt"),
                    "cp932": ("\u30d5\u30a3\u30eb\u30bf", "MSTEE"),
                    "cp936": ("MSTEE", "\u4e2d\u6587"),
                    "utf-8": ("MSTEE", "\u0416flt", "\u4e2d\U0001F600")}
# Values of a type other than the three string types, whatever their bytes:
# a UTF-16 list stored as REG_BINARY (what a .reg file's "hex:" line gives
# in place of "hex(7):"), and a REG_DWORD 1.
REG_SZ, REG_BINARY, REG_DWORD = 1, 3, 4
RAW = [(REG_BINARY, utf16_multi_sz("MSTEE", "WdmAudio")), (REG_DWORD, b"\1\0\0\0")]

def case_outside_code_page(c):
    """An entry that the narrow read would rename is refused, not rewritten."""
    for code_page, entries in OUTSIDE_CODE_PAGE.items():
        c.seed(utf16_multi_sz(*entries), command="seed-wide")
        c.run(expect_output=SUCCESS + READ_FAILURE, expect_status=0,
              code_page=code_page)
        c.expect_stored(utf16_multi_sz(*entries), command="dump-wide")


def case_inside_code_page(c):
    for code_page, entries in INSIDE_CODE_PAGE.items():
        c.seed(utf16_multi_sz(*entries), command="seed-wide")
        c.run(expect_output=appended(*entries), expect_status=0, code_page=code_page)
        c.expect_stored(utf16_multi_sz(*entries, "ksthunk"), command="dump-wide")


def case_raw_bytes(c):
    """A value that was never a list of names is refused and left as it was,
    its key not written at all, in every code page."""
    for code_page in CODE_PAGES:
        for kind, data in RAW:
            c.seed(data, kind, command="seed-wide")
            written = c.stored("written")
            c.run(expect_output=SUCCESS + READ_FAILURE, expect_status=0, code_page=code_page)
            c.expect_stored(f"{kind} {data.hex()}", command="dump-wide")
            c.expect_stored(written, command="written")
    # A REG_SZ is a string: rewritten as a list, which moves the write time on.
    c.seed(b"MSTEE\0", REG_SZ)
    written = c.stored("written")
    c.run(expect_output=appended("MSTEE"), expect_status=0)
    c.expect_stored(multi_sz("MSTEE", "ksthunk"))
    if c.stored("written") == written:
        c.failures.append("the key's write time did not move on a write")


CASES = {
    "key-missing": (simple(seed(None), [("ERROR 0x2\n", 0)], "nokey"), "win64"),
    "access-denied": (simple(seed(TWO, Case.deny_access), [("ERROR 0x5\n", 0)]), "win64"),
    "value-absent": (simple(seed(None, Case.create_key), [(SUCCESS + NOT_PRESENT, 0)],
                            b"ksthunk\0\0"), "win64"),
    "two-filters": (TWO_FILTERS, "win64"),
    # The same case for the exe of a release, unsigned and signed
    # (release_test.py).
    "two-filters-released": (TWO_FILTERS, "win64"),
    "two-filters-signed": (TWO_FILTERS, "win64"),
    "second-run": (simple(seed(TWO), [(APPENDED_TWO, 0), (present("filter1", "filter2", "ksthunk"),
                                                         0)], WITH_KSTHUNK), "win64"),
    "other-letter-case": (simple(seed(multi_sz("KsThunk")), [(appended("KsThunk"), 0)],
                                 multi_sz("KsThunk", "ksthunk")), "win64"),
    "arguments": (simple(seed(TWO), [(APPENDED_TWO, 0, "/add", "other", "--help", "a b",
                                      "UpperFilters")], WITH_KSTHUNK), "win64"),
    "32-bit-windows": (simple(seed(TWO), [(NOT_64_BIT, 1)], TWO), "win32"),
    "windows-xp-64": (WINDOWS_XP, "win64"),
    "windows-xp-32": (WINDOWS_XP, "win32"),
    "hostile-zero-size": (hostile(b"", REG_MULTI_SZ), "win64"),
    "hostile-no-final-nul": (hostile(b"a\0b\0", REG_MULTI_SZ), "win64"),
    "hostile-no-nul": (hostile(b"abc", REG_MULTI_SZ), "win64"),
    "hostile-empty-entries": (hostile(b"a\0\0\0b\0\0", REG_MULTI_SZ), "win64"),
    "hostile-ansi-bytes": (hostile(b"caf\xe9\0\xc0\xff\0\0", REG_MULTI_SZ), "win64"),
    "hostile-reg-sz": (hostile(b"ksthunk\0", 1), "win64"),
    "hostile-reg-expand-sz": (hostile(b"%SystemRoot%\\x\0", 2), "win64"),
    "hostile-one-mebibyte": (hostile(one_mebibyte_list(), REG_MULTI_SZ), "win64"),
    "outside-code-page": (case_outside_code_page, "win64"),
    "inside-code-page": (case_inside_code_page, "win64"),
    "raw-bytes": (case_raw_bytes, "win64"),
    "no-driver-append": (simple(seed(TWO, Case.remove_thunk_driver),
                                [(APPENDED_TWO + DRIVER_MISSING, 0)], TWO), "win64"),
    "no-driver-create": (simple(seed(None, Case.remove_thunk_driver, Case.create_key),
                                [(SUCCESS + NOT_PRESENT + DRIVER_MISSING, 0)], "absent"), "win64"),
    "no-driver-present": (simple(seed(multi_sz("filter1", "ksthunk"), Case.remove_thunk_driver),
                                 [(present("filter1", "ksthunk"), 0)],
                                 multi_sz("filter1", "ksthunk")), "win64"),
}


# The cases where the compiler can make a difference, which every Windows
# build runs: the bytes the exe prints and stores, the start-up refusals, and
# hostile values that test its bounds. The g++ build runs every case; and
# the release test runs the last two.
EVERY_BUILD = ("key-missing", "value-absent", "two-filters", "32-bit-windows", "windows-xp-64",
               "windows-xp-32", "hostile-zero-size", "hostile-no-nul", "hostile-no-final-nul",
               "hostile-ansi-bytes", "hostile-one-mebibyte", "inside-code-page", "outside-code-page")
RELEASE = ("two-filters-released", "two-filters-signed")


def main():
    if sys.argv[1:2] == ["list"]:  # for CMake: the cases a Windows build runs
        every_case = sys.argv[2:] == ["--every-case"]
        print(";".join(name for name in CASES if name not in RELEASE
                       and (every_case or name in EVERY_BUILD)))
        return 0
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--helper", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("command", choices=["prepare", "templates", "case"])
    parser.add_argument("name", nargs="?")
    args = parser.parse_args()
    if args.command == "prepare":
        prepare(args.work)
        return 0
    if args.command == "templates":
        return check_templates(args.work)
    function, arch = CASES[args.name]
    case = Case(args, args.name, arch)
    function(case)
    status = case.finish()
    print("passed" if status == 0 else "failed", args.name)
    return status


if __name__ == "__main__":
    sys.exit(main())
