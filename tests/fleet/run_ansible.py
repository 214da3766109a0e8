#!/usr/bin/env python3
"""Runs the real runner beside the real ksthunk-filter.exe under Wine
through Ansible, with the playbook's outcome rule, in one play over every
outcome of the shared table (outcomes.py) that names Ansible's report, and
checks that Ansible reports ok, changed or failed for each as the table
says, with the runner's last line as its message, and that each host got
the runner's log entry; then once in check mode, which runs /check and must
leave no log.

    run_ansible.py --exe EXE --helper REGVALUE --standin STANDIN --other OTHER
                   --runner RUNNER --short-runner RUNNER --work DIR
"""
import argparse
import json
import os
import subprocess
import sys

from outcomes import CODES, LOG, OUTCOMES, install, prefix_path
from run_e2e import Case

PLAY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "local-play.yml")


def play(runs, args, check=False):
    """One play over `runs` (name, set-up, report, outcome); the failures."""
    cases = []
    for name, set_up, _, _ in runs:
        case = Case(args, f"ansible-{name}")
        case.other, case.arguments = args.other, " /check" if check else ""
        set_up(case)
        cases.append((case, install(case, args)))
    items = [{"prefix": case.prefix.path, "command": command} for case, command in cases]
    env = dict(cases[0][0].prefix.env, ANSIBLE_STDOUT_CALLBACK="json",
               ANSIBLE_LOCALHOST_WARNING="false", ANSIBLE_NOCOLOR="1")
    result = subprocess.run(
        ["ansible-playbook", *(["--check"] if check else []), "-i", "localhost,", PLAY,
         "-e", json.dumps({"ksthunk_cases": items})],
        env=env, capture_output=True, text=True, timeout=600)
    logs = [prefix_path(case, LOG) for case, _ in cases]
    logs = [open(log, "rb").read() if os.path.exists(log) else b"" for log in logs]
    for case, _ in cases:
        case.finish()
    try:
        reports = json.loads(result.stdout)["plays"][0]["tasks"][-1]["hosts"]["localhost"]["results"]
    except (ValueError, KeyError, IndexError):
        return [f"no report from ansible-playbook:\n{result.stdout}{result.stderr}"]
    failures = []
    for (name, _, expected, outcome), report, log in zip(runs, reports, logs):
        code = 1 if check else CODES[outcome][0]
        said = f"ksthunk-filter: check {outcome}, exit code {code}" if check \
            else f"ksthunk-filter: {outcome}, exit code {code},"
        got = "failed" if report.get("failed") else "changed" if report.get("changed") else "ok"
        print(f"{name}: Ansible reports {got}, expected {expected}; message {report['msg']!r}")
        if got != expected or not report["msg"].startswith(said):
            failures.append(f"{name}: another report, or not the runner's last line")
        if check == bool(log) or not (check or log.endswith(f"outcome {outcome}, exit code {code}\r\n".encode())):
            failures.append(f"{name}: the check wrote a log, or a run lacks its entry")
    return failures


def main():
    parser = argparse.ArgumentParser()
    for option in ("--exe", "--helper", "--standin", "--other", "--runner", "--short-runner",
                   "--work"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    runs = [(name, set_up, expected, outcome)
            for name, (set_up, _, expected, outcome) in OUTCOMES.items() if expected is not None]
    failures = play(runs, args)
    failures += play([("check-mode", OUTCOMES["changed"][0], "changed", "missing")], args, check=True)
    for failure in failures:
        print(f"FAIL: {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
