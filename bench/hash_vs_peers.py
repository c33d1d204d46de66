#!/usr/bin/env python3
"""Hashing and duplicate search of the engine, side by side with peer tools.

Warm page cache (one warm-up run of everything first), then N rounds; each
round runs every command once, in an order rotated from round to round, so a
noisy shared machine weighs on all of them alike. Reports medians.

  hash:        b3sum --num-threads 1 --no-mmap FILE  vs  the engine's "hash"
               request for the same file (request written -> reply read,
               after a scan of the file's directory)
  duplicates:  jdupes -r, rdfind, rmlint, fdupes -r on TREE  vs  the engine's "scan"
               plus "duplicates" (fresh process), and a second "duplicates"
               in the same process, served from the hash cache
"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def timed(command):
    start = time.monotonic()
    done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = time.monotonic() - start
    if done.returncode not in (0, 1):  # jdupes and fdupes exit 1 when they find duplicates
        raise RuntimeError("%s exited %d" % (command[0], done.returncode))
    return elapsed


def engine_rows(client, engine, root, script):
    """One fresh engine process through the shared client; seconds per request label."""
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        done = subprocess.run([sys.executable, client, "--engine", engine, "--root", root, "--runs", "1",
                               "--quiet", "--json", out.name, script],
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        if done.returncode != 0:
            raise RuntimeError("engine_client exited %d: %s" % (done.returncode, done.stderr.strip()))
        run = json.load(open(out.name))["runs"][0]
    return {row["label"]: row["ms"] / 1000.0 for row in run["rows"]}


def rounds(commands, runs):
    """commands: name -> function returning {figure name: seconds}. Returns figure -> [seconds]."""
    for fn in commands.values():  # warm-up: page cache, binaries
        fn()
    figures = {}
    names = list(commands)
    for r in range(runs):
        order = names[r % len(names):] + names[:r % len(names)]
        for name in order:
            for figure, seconds in commands[name]().items():
                figures.setdefault(figure, []).append(seconds)
    return {figure: statistics.median(values) for figure, values in figures.items()}


def table(title, medians, reference, notes):
    print("### " + title)
    print()
    print("| command | median s | %s / command |" % reference)
    print("|---|---:|---:|")
    for name, seconds in medians.items():
        ratio = medians[reference] / seconds if seconds > 0 else float("inf")
        print("| %s | %.3f | %.2fx |" % (name, seconds, ratio))
    print()
    for note in notes:
        print(note)
    print()


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--engine", required=True)
    ap.add_argument("--bench-dir", required=True, help="the shared benchmark folder (engine_client.py, requests/)")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--skip-slow-peers", action="store_true", help="leave fdupes out (it reads every byte with MD5)")
    ap.add_argument("--dups", help="duplicates tree")
    ap.add_argument("--big", help="file for the hash comparison")
    a = ap.parse_args()
    client = os.path.join(a.bench_dir, "engine_client.py")
    requests = os.path.join(a.bench_dir, "requests")

    if a.big:
        commands = {
            "b3sum --num-threads 1 --no-mmap": lambda: {
                "b3sum --num-threads 1 --no-mmap": timed(["b3sum", "--num-threads", "1", "--no-mmap", a.big])},
            "engine hash": lambda: {"engine hash": engine_rows(client, a.engine, os.path.dirname(a.big),
                                                               os.path.join(requests, "hash.req"))["hash"]},
        }
        medians = rounds(commands, a.runs)
        size = os.path.getsize(a.big)
        ratio = medians["b3sum --num-threads 1 --no-mmap"] / medians["engine hash"]
        table("Full hash of one file of %d bytes, warm cache, %d rounds" % (size, a.runs), medians,
              "b3sum --num-threads 1 --no-mmap",
              ["engine throughput: %.0f MiB/s; b3sum: %.0f MiB/s; engine / b3sum throughput: %.2fx (target >= 0.90x)" % (
                  size / medians["engine hash"] / 2**20, size / medians["b3sum --num-threads 1 --no-mmap"] / 2**20,
                  ratio)])

    if a.dups:
        commands = {}
        if shutil.which("jdupes"):
            commands["jdupes -r"] = lambda: {"jdupes -r": timed(["jdupes", "-r", "-q", a.dups])}
        if shutil.which("rdfind"):
            commands["rdfind"] = lambda: {"rdfind": timed(["rdfind", "-dryrun", "true", "-makeresultsfile", "false", a.dups])}
        if shutil.which("rmlint"):
            # rmlint replaces its output file rather than writing into it: never point it at /dev/null.
            rmlint_out = os.path.join(tempfile.mkdtemp(prefix="qm-rmlint-"), "out.txt")
            commands["rmlint"] = lambda: {"rmlint": timed(["rmlint", "-T", "df", "-o", "fdupes:" + rmlint_out, a.dups])}
        if shutil.which("fdupes") and not a.skip_slow_peers:
            commands["fdupes -r"] = lambda: {"fdupes -r": timed(["fdupes", "-r", "-q", a.dups])}

        def engine():
            rows = engine_rows(client, a.engine, a.dups, os.path.join(requests, "duplicates-cached.req"))
            return {"engine scan+duplicates": rows["scan"] + rows["duplicates"],
                    "engine duplicates alone": rows["duplicates"],
                    "engine duplicates again (cache)": rows["duplicates_cached"]}
        commands["engine"] = engine
        medians = rounds(commands, a.runs)
        first, cached = medians["engine duplicates alone"], medians["engine duplicates again (cache)"]
        peers = [name for name in medians if not name.startswith("engine")]
        slowest_ratio = min((medians[p] / medians["engine scan+duplicates"] for p in peers), default=float("nan"))
        table("Duplicates, warm cache: %s, %d rounds" % (a.dups, a.runs), medians, "engine scan+duplicates",
              ["engine ahead of every peer by at least: %.2fx (target > 1)" % slowest_ratio,
               "cached / first duplicates time: %.3f (target <= 0.2)" % (cached / first if first else float("nan"))])


if __name__ == "__main__":
    main()
