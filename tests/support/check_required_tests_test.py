#!/usr/bin/env python3
"""The required-tests check fails on a skipped or missing required case and
passes when every required case ran (scripts/check_required_tests.py)."""
import os
import subprocess
import sys
import tempfile

SCRIPT = os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "check_required_tests.py")

REPORT = """<?xml version="1.0" encoding="UTF-8"?>
<testsuite name="(empty)" tests="3" failures="0" disabled="0" skipped="1">
  <testcase name="Suite.Runs" classname="Suite.Runs" time="0.1" status="run"/>
  <testcase name="Suite.Skips" classname="Suite.Skips" time="0.1" status="notrun">
    <skipped message="SKIP_REGULAR_EXPRESSION_MATCHED"/>
  </testcase>
  <testcase name="Other.Runs" classname="Other.Runs" time="0.1" status="run"/>
</testsuite>
"""

CASES = [
    # (description, required list, expected exit status)
    ("every required case ran", "Suite.Runs\nOther.*\n", 0),
    ("comments and blank lines are ignored", "# a comment\n\nOther.Runs\n", 0),
    ("a skipped case that must run fails", "Suite.*\n", 1),
    ("a pattern that matches nothing fails", "Missing.*\n", 1),
    ("a root-only case counts only as root", "root Suite.Skips\n", 1 if os.geteuid() == 0 else 0),
]


def main():
    failures = 0
    with tempfile.TemporaryDirectory() as folder:
        report = os.path.join(folder, "junit.xml")
        with open(report, "w", encoding="utf-8") as out:
            out.write(REPORT)
        for description, required, expected in CASES:
            listing = os.path.join(folder, "required.txt")
            with open(listing, "w", encoding="utf-8") as out:
                out.write(required)
            status = subprocess.run([sys.executable, SCRIPT, report, listing], capture_output=True).returncode
            if status != expected:
                print(f"FAIL {description}: exit {status}, expected {expected}")
                failures += 1
            else:
                print(f"ok   {description}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
