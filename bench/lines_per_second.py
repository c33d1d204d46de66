#!/usr/bin/env python3
"""End-to-end request throughput of the engine binary.

Usage: lines_per_second.py ENGINE [--lines N] [--runs R]

Pipes N request lines of an unknown command (default 1,000,000) through a fresh
engine process, reads every reply, checks the count and the last reply, and
prints lines per second (from the first byte written to the last reply read;
the best and the median of R runs, default 3).
"""

import argparse
import os
import statistics
import subprocess
import sys
import threading
import time


def one_run(engine, count):
    lines = b"".join(b'{"request":%d,"command":"nope","args":{"id":5}}\n' % i for i in range(count))
    process = subprocess.Popen([engine], stdin=subprocess.PIPE, stdout=subprocess.PIPE, bufsize=0)

    def feed():
        view = memoryview(lines)
        chunk = 1 << 20
        for start in range(0, len(view), chunk):
            process.stdin.write(view[start:start + chunk])
        process.stdin.close()

    started = time.perf_counter()
    writer = threading.Thread(target=feed)
    writer.start()
    replies = 0
    tail = b""
    fd = process.stdout.fileno()
    while True:
        data = os.read(fd, 1 << 20)
        if not data:
            break
        replies += data.count(b"\n")
        tail = (tail + data)[-200:]
    elapsed = time.perf_counter() - started
    writer.join()
    status = process.wait()
    expected_last = b'{"error":"Unknown command","request":%d}\n' % (count - 1)
    if status != 0 or replies != count or not tail.endswith(expected_last):
        sys.exit("bad run: status %d, %d replies of %d, tail %r" % (status, replies, count, tail[-80:]))
    return count / elapsed


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("engine")
    parser.add_argument("--lines", type=int, default=1_000_000)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    rates = [one_run(args.engine, args.lines) for _ in range(args.runs)]
    print("lines: %d per run, runs: %d" % (args.lines, args.runs))
    print("lines/second: best %.0f, median %.0f" % (max(rates), statistics.median(rates)))


if __name__ == "__main__":
    main()
