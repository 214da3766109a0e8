#!/usr/bin/env python3
"""Runs the real wrapper beside the real ksthunk-filter.exe under Wine
through Ansible, with the playbook's outcome rule, once per outcome of the
shared table (outcomes.py) that names Ansible's report, and checks that
Ansible reports ok, changed or failed as the table says, with the wrapper's
last line as its message, and that the host got the wrapper's log entry
and event.

    run_ansible.py --exe EXE --helper REGVALUE --standin STANDIN --other OTHER --work DIR
"""
import argparse
import json
import os
import subprocess
import sys

from outcomes import CODES, OUTCOMES, install, prefix_path, wrapper_setting
from run_e2e import Case

PLAY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "local-play.yml")


def reported(stats):
    if stats.get("failures") or stats.get("unreachable"):
        return "failed"
    return "changed" if stats.get("changed") else "ok"


def run(name, set_up, expected, outcome, args):
    case = Case(args, f"ansible-{name}")
    case.other = args.other
    set_up(case)
    command = install(case, args)
    env = dict(case.prefix.env, ANSIBLE_STDOUT_CALLBACK="json",
               ANSIBLE_LOCALHOST_WARNING="false", ANSIBLE_NOCOLOR="1")
    result = subprocess.run(
        ["ansible-playbook", "-i", "localhost,", PLAY,
         "-e", json.dumps({"ksthunk_command": command})],
        env=env, capture_output=True, text=True, timeout=600)
    code, event, _ = CODES[outcome]
    log = open(prefix_path(case, wrapper_setting("LOG")), "rb").read()
    events = open(prefix_path(case, "C:\\standin-calls.txt")).read()
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
    if not message.startswith(f"ksthunk-filter: {outcome}, exit code {code},"):
        failures.append("the message is not the wrapper's last line")
    if not log.endswith(f"outcome {outcome}, exit code {code}\r\n".encode()):
        failures.append("the log lacks the run's entry")
    if events.count(f"/ID {event} ") != 1:
        failures.append("no event")
    for failure in failures:
        print(f"FAIL: {name}: {failure}")
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--helper", required=True)
    parser.add_argument("--standin", required=True)
    parser.add_argument("--other", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    failures = sum(run(name, set_up, expected, outcome, args)
                   for name, (set_up, _, expected, outcome) in OUTCOMES.items()
                   if expected is not None)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
