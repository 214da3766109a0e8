#!/usr/bin/env python3
"""Checks every module option that the playbooks use against the module's
own documentation (ansible-doc -j, offline): a module that does not exist or
an option it does not have fails, where Ansible itself may ignore it.

    check_module_options.py PLAYBOOK...
"""
import json
import subprocess
import sys

import yaml


def tasks(items):
    for task in items or []:
        yield task
        for section in ("block", "rescue", "always"):
            yield from tasks(task.get(section))


def used_options(playbooks):
    """{module: {option, ...}} for every task that names its module in full."""
    used = {}
    for path in playbooks:
        with open(path) as f:
            for play in yaml.safe_load(f) or []:
                for task in tasks(play.get("tasks")):
                    for key, value in task.items():
                        if "." in key:
                            options = value.keys() if isinstance(value, dict) else ()
                            used.setdefault(key, set()).update(options)
    return used


def documented(module):
    result = subprocess.run(["ansible-doc", "-j", module], capture_output=True, text=True)
    doc = json.loads(result.stdout or "{}").get(module, {}).get("doc")
    if doc is None:
        return None
    options = set()
    for name, described in (doc.get("options") or {}).items():
        options.add(name)
        options.update(described.get("aliases") or [])
    return options


def main(playbooks):
    failures = []
    for module, options in sorted(used_options(playbooks).items()):
        known = documented(module)
        if known is None:
            failures.append(f"{module}: no such module")
            continue
        unknown = sorted(options - known)
        if unknown:
            failures.append(f"{module}: no option {', '.join(unknown)}")
        print(f"{module}: {', '.join(sorted(options)) or 'free-form'}")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
