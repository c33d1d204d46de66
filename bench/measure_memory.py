#!/usr/bin/env python3
"""Memory a "measure" request costs per path element.

Usage: measure_memory.py ENGINE [--paths N]

Runs a fresh engine (under GNU time, for its peak resident set) on one request of N paths (default 1,000,000) that do not
exist (so no tree is needed and the walk costs nothing), then on a request of
one path, and prints the peak resident set of each and the difference per
element, beside the request line's own bytes per element (the engine holds the
line while it serves it).
"""

import argparse
import json
import os
import subprocess
import tempfile


def peak_rss_bytes(engine, request_path):
    """Peak resident set of one engine run on the request file, in bytes."""
    # Through GNU time: a child's peak counts the memory of the process it was
    # forked from, so it is forked from a small one.
    with open(request_path, "rb") as stdin:
        done = subprocess.run(["/usr/bin/time", "-f", "%M", engine], stdin=stdin,
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        raise SystemExit(f"engine exited with status {done.returncode}")
    return int(done.stderr.split()[-1]) * 1024  # kilobytes


def write_request(path, count):
    """Writes the request line of count paths; its length in bytes."""
    with open(path, "w") as out:
        out.write('{"request":1,"command":"measure","args":{"paths":[')
        out.write(",".join(json.dumps(f"/nonexistent/measure-path-{i:08d}") for i in range(count)))
        out.write("]}}\n")
        return out.tell()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("engine")
    parser.add_argument("--paths", type=int, default=1_000_000)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as work:
        one = os.path.join(work, "one.req")
        many = os.path.join(work, "many.req")
        write_request(one, 1)
        line_bytes = write_request(many, args.paths)
        base = peak_rss_bytes(args.engine, one)
        peak = peak_rss_bytes(args.engine, many)
    print(f"measure of {args.paths} paths: peak RSS {peak / 2**20:.1f} MiB, one path {base / 2**20:.1f} MiB")
    print(f"bytes per path element: {(peak - base) / args.paths:.1f} "
          f"(the request line itself: {line_bytes / args.paths:.1f})")


if __name__ == "__main__":
    main()
