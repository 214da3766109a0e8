#!/usr/bin/env python3
"""Runs the real runner beside the real ksthunk-filter.exe under Wine
through Ansible, with the playbook's outcome rule, once per outcome of the
shared table (outcomes.py) that names Ansible's report, and checks that
Ansible reports ok, changed or failed as the table says, with the runner's
last line as its message, and that the host got the runner's log entry.

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


def reported(stats):
    if stats.get("failures") or stats.get("unreachable"):
        return "failed"
    return "changed" if stats.get("changed") else "ok"


def run(name, set_up, expected, outcome, args, check=False):
    """check: the playbook's check mode, which runs /check (outcome: its
    KIND) and must leave no log."""
    case = Case(args, f"ansible-{name}")
    case.other = args.other
    case.arguments = " /check" if check else ""
    set_up(case)
    command = install(case, args)
    env = dict(case.prefix.env, ANSIBLE_STDOUT_CALLBACK="json",
               ANSIBLE_LOCALHOST_WARNING="false", ANSIBLE_NOCOLOR="1")
    result = subprocess.run(
        ["ansible-playbook", *(["--check"] if check else []), "-i", "localhost,", PLAY,
         "-e", json.dumps({"ksthunk_command": command})],
        env=env, capture_output=True, text=True, timeout=600)
    code = 1 if check else CODES[outcome][0]
    said = f"ksthunk-filter: check {outcome}, exit code {code}" if check \
        else f"ksthunk-filter: {outcome}, exit code {code},"
    log = prefix_path(case, LOG)
    log = open(log, "rb").read() if os.path.exists(log) else b""
    case.finish()
    try:
        report = json.loads(result.stdout)
        stats = report["stats"]["localhost"]
        message = report["plays"][0]["tasks"][-1]["hosts"]["localhost"]["msg"]
    except (ValueError, KeyError, IndexError):
        print(f"FAIL: {name}: no report from ansible-playbook:\n{result.stdout}{result.stderr}")
        return 1
    got = reported(stats)
    print(f"{name}: Ansible reports {got}, expected {expected}; message {message!r}")
    failures = []
    if got != expected:
        failures.append("another report")
    if not message.startswith(said):
        failures.append("the message is not the runner's last line")
    if check and log:
        failures.append("the check wrote a log")
    elif not check and not log.endswith(f"outcome {outcome}, exit code {code}\r\n".encode()):
        failures.append("the log lacks the run's entry")
    for failure in failures:
        print(f"FAIL: {name}: {failure}")
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser()
    for option in ("--exe", "--helper", "--standin", "--other", "--runner", "--short-runner",
                   "--work"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    failures = sum(run(name, set_up, expected, outcome, args)
                   for name, (set_up, _, expected, outcome) in OUTCOMES.items()
                   if expected is not None)
    failures += run("check-mode", OUTCOMES["changed"][0], "changed", "missing", args, check=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
