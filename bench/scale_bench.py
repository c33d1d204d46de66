#!/usr/bin/env python3
"""The engine at 1, 3 and 10 million entries: scan time, memory, query latencies.

usage: bench/scale_bench.py [--engine BIN] [--sizes 1000000,3000000,10000000]
                            [--tree DIR] [--keep] [--runs N] [--out FILE.json]

Builds one tree on disk (never tmpfs: 10 M inodes do not fit in memory there)
whose nested directories hold each size asked for, so the largest size costs
its own entries only: with --sizes 1000000,3000000,10000000

    DIR/                        10 M entries
      within-3000000/           3 M entries
        within-1000000/         1 M entries (a make_tree.py "wide" tree)
        more-2000000/           2 M more
      more-7000000/             7 M more

Every part is a make_tree.py "wide" tree (95 % files, 5 % directories, names of
3 to 251 bytes, links, hidden entries) with no data blocks (--data-fraction 0:
files are sparse or empty, so the tree costs inodes, not gigabytes). Before
building it checks that the file system has the inodes and some disk to spare.

For each size, smallest first, each run starts a fresh engine and times, from
the request written to its reply read:
  scan (includeHidden, so every entry is indexed), with the engine's CPU time
  (user + sys) over the scan and its peak RSS (VmHWM) after it, divided by the
  retained entries; then "large" (defaults) and "children" of the root (median
  of 5 each), "duplicates" with minimum 1 MiB, and "forget" of the root.
Beside each engine run, the 2-thread walk of the limits programs (getdents64 +
fstatat, the floor a scan cannot beat) walks the same tree, timed the same
way (walk_wall_s, walk_cpu_s), so the scan's growth can be told from the
file system's. One unmeasured scan of the largest size warms the cache first.

The tree is deleted at the end unless --keep is given; a kept tree is reused
by the next run with the same --tree and sizes (its plan is in DIR.plan.json,
beside it). The JSON written to --out:

  {"machine": "...", "date": "YYYY-MM-DD", "commit": "<short hash>", "runs": N,
   "points": [{"entries": N, "scan_wall_s": x, "scan_cpu_s": x, "peak_rss_bytes": n,
               "bytes_per_entry": x, "forget_ms": x, "large_ms": x, "children_ms": x,
               "duplicates_1mib_s": x, ...}]}

Figures are medians over the runs. Python 3 standard library only.
"""

import argparse
import datetime
import json
import os
import platform
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
SHARED = os.environ.get("QM_SHARED_BENCH", "/work/shared/bench")
MAKE_TREE = os.path.join(SHARED, "make_tree.py")
QUERY_REPEATS = 5
MIB = 1 << 20


def log(text):
    print(text, file=sys.stderr, flush=True)


# ---- the tree ----

def plan_tree(tree, sizes):
    """[(path to scan, entries asked)] smallest first, and the parts to build as
    (directory, entries, seed)."""
    sizes = sorted(sizes)
    roots = [tree]
    for s in reversed(sizes[:-1]):
        roots.insert(0, os.path.join(roots[0], "within-%d" % s))
    parts = [(roots[0], sizes[0])]
    for i in range(1, len(sizes)):
        parts.append((os.path.join(roots[i], "more-%d" % (sizes[i] - sizes[i - 1])), sizes[i] - sizes[i - 1]))
    parts = [(path, n, 11 + i) for i, (path, n) in enumerate(parts)]
    return list(zip(roots, sizes)), parts


def check_room(tree, entries):
    """Refuses to build when the file system would keep less than 10 % of its
    inodes or 5 GiB of space free afterwards."""
    probe = tree
    while not os.path.exists(probe):
        probe = os.path.dirname(probe)
    st = os.statvfs(probe)
    inodes_after = st.f_favail - entries
    # Directories and names: about 64 bytes of directory blocks per entry.
    bytes_after = st.f_bavail * st.f_frsize - entries * 64
    if inodes_after < st.f_files // 10 or bytes_after < 5 * (1 << 30):
        sys.exit("not enough room for %d entries under %s: %d inodes and %.1f GiB free"
                 % (entries, probe, st.f_favail, st.f_bavail * st.f_frsize / (1 << 30)))


def build_tree(tree, sizes, keep):
    roots, parts = plan_tree(tree, sizes)
    plan_file = tree.rstrip("/") + ".plan.json"
    plan = {"sizes": sorted(sizes), "parts": [[p, n, seed] for p, n, seed in parts]}
    if os.path.isdir(tree):
        try:
            with open(plan_file) as fh:
                if json.load(fh) == plan:
                    log("reusing the tree %s" % tree)
                    return roots, 0.0
        except (OSError, ValueError):
            pass
        sys.exit("%s exists but was not built for these sizes: remove it or choose another --tree" % tree)
    check_room(tree, max(sizes))
    start = time.monotonic()
    for path, n, seed in parts:
        log("building %s (%d entries)" % (path, n))
        files = n * 95 // 100
        subprocess.run([sys.executable, MAKE_TREE, "wide", path, "--seed", str(seed),
                        "--files", str(files), "--dirs", str(n - files), "--data-fraction", "0"],
                       check=True, stdout=subprocess.DEVNULL)
    with open(plan_file, "w") as fh:
        json.dump(plan, fh)
    return roots, time.monotonic() - start


def remove_tree(tree):
    log("removing %s" % tree)
    shutil.rmtree(tree)
    try:
        os.unlink(tree.rstrip("/") + ".plan.json")
    except FileNotFoundError:
        pass


# ---- the engine ----

class Engine:
    def __init__(self, binary):
        self.proc = subprocess.Popen([binary], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, bufsize=0)
        self.next_id = 1
        self.tick = os.sysconf("SC_CLK_TCK")

    def request(self, command, args=None):
        """(seconds from request to reply, reply object); progress lines are skipped."""
        rid = self.next_id
        self.next_id += 1
        line = json.dumps({"request": rid, "command": command, "args": args or {}}) + "\n"
        start = time.monotonic()
        self.proc.stdin.write(line.encode())
        while True:
            raw = self.proc.stdout.readline()
            if not raw:
                raise RuntimeError("the engine ended before replying to %s" % command)
            reply = json.loads(raw)
            if reply.get("request") == rid and "event" not in reply:
                elapsed = time.monotonic() - start
                if "error" in reply:
                    raise RuntimeError("%s: %s" % (command, reply["error"]))
                return elapsed, reply["result"]

    def cpu_seconds(self):
        with open("/proc/%d/stat" % self.proc.pid) as fh:
            fields = fh.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / self.tick  # utime, stime

    def peak_rss_bytes(self):
        with open("/proc/%d/status" % self.proc.pid) as fh:
            for line in fh:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) * 1024
        return 0

    def close(self):
        self.proc.stdin.close()
        self.proc.wait(timeout=120)


def median_ms(engine, command, args):
    return statistics.median(engine.request(command, args)[0] for _ in range(QUERY_REPEATS)) * 1000


def build_walk(work):
    """The limits walk program built in work, or None when it cannot be."""
    source = os.path.join(SHARED, "limits", "walk.c")
    try:
        shutil.copy(source, work)
        subprocess.run(["cc", "-O2", "-pthread", "-o", os.path.join(work, "walk"), os.path.join(work, "walk.c")],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    except (OSError, subprocess.CalledProcessError):
        log("no walk program (%s): the walk figures are left out" % source)
        return None
    return os.path.join(work, "walk")


def time_walk(walk, root):
    """(wall s, CPU s) of the 2-thread walk of root."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    subprocess.run([walk, "-q", "-t", "2", root], check=True, stdout=subprocess.DEVNULL)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def measure(binary, root, walk):
    engine = Engine(binary)
    try:
        cpu_before = engine.cpu_seconds()
        scan_s, summary = engine.request("scan", {"root": root, "includeHidden": True})
        cpu = engine.cpu_seconds() - cpu_before
        peak = engine.peak_rss_bytes()
        large_ms = median_ms(engine, "large", {})
        children_ms = median_ms(engine, "children", {"id": 0})
        dups_s, dups = engine.request("duplicates", {"minimum": MIB})
        forget_s, _ = engine.request("forget", {"paths": [root]})
    finally:
        engine.close()
    point = {"entries": summary["retained"], "scan_wall_s": scan_s, "scan_cpu_s": cpu,
                "peak_rss_bytes": peak, "bytes_per_entry": peak / summary["retained"],
                "forget_ms": forget_s * 1000, "large_ms": large_ms, "children_ms": children_ms,
                "duplicates_1mib_s": dups_s, "duplicate_groups": len(dups["groups"]),
                "scan_elapsed_ms": summary["elapsedMs"], "seen": summary["entries"]}
    if walk:
        point["walk_wall_s"], point["walk_cpu_s"] = time_walk(walk, root)
    return point


# ---- the report ----

def machine():
    model = "?"
    with open("/proc/cpuinfo") as fh:
        for line in fh:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as fh:
        ram = int(fh.readline().split()[1]) * 1024
    return "%s, %d cores, %.0f GiB RAM, Linux %s" % (model, os.cpu_count(), ram / (1 << 30), platform.release())


def file_system(path):
    best, kind = "", "?"
    real = os.path.realpath(path)
    with open("/proc/mounts") as fh:
        for line in fh:
            _, mount, fstype = line.split()[:3]
            if (real == mount or real.startswith(mount.rstrip("/") + "/")) and len(mount) >= len(best):
                best, kind = mount, fstype
    return kind


def commit():
    try:
        return subprocess.run(["git", "-C", REPO, "rev-parse", "--short", "HEAD"], check=True,
                              capture_output=True, text=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "?"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--engine", default=os.path.join(REPO, "build", "quillmarsh"))
    ap.add_argument("--sizes", default="1000000,3000000,10000000")
    ap.add_argument("--tree", default="/work/scale-tree")
    ap.add_argument("--keep", action="store_true", help="keep the tree for the next run")
    ap.add_argument("--runs", type=int, default=1)
    ap.add_argument("--out", help="write the JSON here (it is printed too)")
    a = ap.parse_args()
    sizes = sorted({int(s) for s in a.sizes.split(",") if s.strip()})
    if not sizes or sizes[0] < 1000:
        ap.error("--sizes: entry counts of 1000 or more")
    tree = os.path.abspath(a.tree)
    if not os.access(a.engine, os.X_OK):
        ap.error("engine not found: %s" % a.engine)

    roots, build_s = build_tree(tree, sizes, a.keep)
    work = tempfile.mkdtemp(prefix="scale-bench.")
    try:
        walk = build_walk(work)
        log("warming the cache: one scan of %s" % roots[-1][0])
        warm = Engine(a.engine)
        warm.request("scan", {"root": roots[-1][0], "includeHidden": True})
        warm.close()
        points = []
        for root, asked in roots:
            runs = []
            for r in range(a.runs):
                runs.append(measure(a.engine, root, walk))
                log("%d entries, run %d: %s" % (asked, r + 1, json.dumps(runs[-1])))
            point = {key: statistics.median(run[key] for run in runs) for key in runs[0]}
            for key in ("entries", "peak_rss_bytes", "duplicate_groups", "seen"):
                point[key] = int(point[key])
            point["tree"] = root
            points.append(point)
    finally:
        shutil.rmtree(work, ignore_errors=True)
        if not a.keep:
            remove_tree(tree)

    result = {"machine": "%s, %s" % (machine(), file_system(tree if a.keep else os.path.dirname(tree))),
              "date": datetime.date.today().isoformat(), "commit": commit(), "runs": a.runs,
              "tree_build_s": round(build_s, 1), "points": points}
    text = json.dumps(result, indent=1)
    if a.out:
        with open(a.out, "w") as fh:
            fh.write(text + "\n")
    print(text)
    print("\n| entries | scan wall s | scan CPU s | walk wall s | walk CPU s | bytes/entry | large ms | children ms "
          "| duplicates s | forget ms |", file=sys.stderr)
    print("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|", file=sys.stderr)
    for p in points:
        print("| %d | %.2f | %.2f | %s | %s | %.1f | %.1f | %.2f | %.2f | %.1f |" % (
            p["entries"], p["scan_wall_s"], p["scan_cpu_s"], "%.2f" % p["walk_wall_s"] if "walk_wall_s" in p else "-",
            "%.2f" % p["walk_cpu_s"] if "walk_cpu_s" in p else "-", p["bytes_per_entry"], p["large_ms"],
            p["children_ms"], p["duplicates_1mib_s"], p["forget_ms"]), file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
