#!/usr/bin/env python3
"""Fails when a test case that must run was skipped (or is missing).

Usage: check_required_tests.py JUNIT_XML REQUIRED_LIST

JUNIT_XML is what `ctest --output-junit` wrote for one suite; REQUIRED_LIST is
tests/required_tests.txt: one CTest name pattern a line, "root " in front for
cases required only when running as root. Every pattern must match at least
one case that ran; no case it matches may have been skipped.
"""
import fnmatch
import os
import sys
import xml.etree.ElementTree as ElementTree


def read_required(path, as_root):
    patterns = []
    with open(path, encoding="utf-8") as lines:
        for line in lines:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            if line.startswith("root "):
                if not as_root:
                    continue
                line = line[len("root "):].strip()
            patterns.append(line)
    return patterns


def read_cases(path):
    """Name -> "run" or "skipped" for every case of the report."""
    cases = {}
    for case in ElementTree.parse(path).getroot().iter("testcase"):
        skipped = case.find("skipped") is not None or case.get("status") in ("notrun", "disabled")
        cases[case.get("name")] = "skipped" if skipped else "run"
    return cases


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    cases = read_cases(sys.argv[1])
    problems = []
    for pattern in read_required(sys.argv[2], os.geteuid() == 0):
        matched = [name for name in cases if fnmatch.fnmatchcase(name, pattern)]
        if not matched:
            problems.append(f"{pattern}: no such test case")
        problems += [f"{name}: skipped, but must run here" for name in matched if cases[name] == "skipped"]
    for problem in problems:
        print(f"required test not run: {problem}", file=sys.stderr)
    if not problems:
        print(f"required tests: all ran ({len(cases)} cases in the report)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
