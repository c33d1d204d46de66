#!/usr/bin/env python3
"""Makes one flat directory of N empty files (default 1,000,000) for the scan
benchmark: the worst case for a scanner that lists one directory per worker.

usage: scan_make_flat_dir.py DIR [COUNT]
Names are "file-0000000.dat" ... ; an existing directory with a DONE marker is
reused as it is.
"""
import os
import sys


def main() -> int:
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    target = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
    marker = target + ".DONE"
    if os.path.exists(marker):
        return 0
    os.makedirs(target, exist_ok=True)
    flags = os.O_WRONLY | os.O_CREAT | os.O_CLOEXEC
    for i in range(count):
        os.close(os.open(os.path.join(target, f"file-{i:07d}.dat"), flags, 0o644))
    with open(marker, "w") as done:
        done.write(f"{count}\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
