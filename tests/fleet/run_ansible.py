#!/usr/bin/env python3
"""Runs the real ksthunk-filter.exe under Wine through Ansible, with the
playbook's changed_when and failed_when, once per outcome of the shared
table (outcomes.py), and checks that Ansible reports ok, changed or failed
as the table says.

    run_ansible.py --exe EXE --helper REGVALUE --work DIR
"""
import argparse
import json
import os
import subprocess
import sys

from outcomes import OUTCOMES
from run_e2e import Case

PLAY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "local-play.yml")


def reported(stats):
    if stats.get("failures") or stats.get("unreachable"):
        return "failed"
    return "changed" if stats.get("changed") else "ok"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--helper", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    failures = 0
    for name, (set_up, _, expected, _) in OUTCOMES.items():
        case = Case(args, f"ansible-{name}")
        set_up(case)
        env = dict(case.prefix.env, ANSIBLE_STDOUT_CALLBACK="json",
                   ANSIBLE_LOCALHOST_WARNING="false", ANSIBLE_NOCOLOR="1")
        command = json.dumps({"ksthunk_command": case.command()})
        result = subprocess.run(
            ["ansible-playbook", "-i", "localhost,", PLAY, "-e", command],
            env=env, capture_output=True, text=True, timeout=300)
        case.finish()
        try:
            stats = json.loads(result.stdout)["stats"]["localhost"]
        except (ValueError, KeyError):
            print(f"FAIL: {name}: no report from ansible-playbook:\n{result.stdout}{result.stderr}")
            failures += 1
            continue
        got = reported(stats)
        print(f"{name}: Ansible reports {got}, expected {expected}")
        if got != expected:
            failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
