#!/usr/bin/env python3
"""The performance report: runs the engine beside peer tools and writes
docs/performance.md with its charts (PNG, under docs/performance/).

Run with the system interpreter, which has Debian's python3-matplotlib
(scripts/install-bench-deps.sh installs it and the peer tools):

    /usr/bin/python3 bench/report.py                      # measure everything, write the report
    /usr/bin/python3 bench/report.py --groups dups -n 9   # only the duplicates table, 9 rounds
    /usr/bin/python3 bench/report.py --from-json docs/data/peers   # re-render saved results

Groups (each one run of ../shared/bench/run_peers.sh with the engine added,
so the engine and its peers share the same interleaved rounds):

    scan   the scan of TREE_WIDE against du, ncdu, gdu, duc and the walk programs
    dups   scan + duplicates of TREE_DUPS against jdupes, rdfind, rmlint, fdupes
    hash   scan + hash of the largest file of TREE_BIG against b3sum, cat, readbw

Memory per entry and time against entry count come from docs/data/scale.json
(written by a scale benchmark; --measure-scale writes a small one). Every
figure in the report is read from saved results: run_peers' JSON (copied to
--results, default docs/data/peers) and the scale file.
"""

import argparse
import datetime
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import textwrap

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Per group: the tree option it runs on, the make_tree.py preset that makes a
# stand-in when that tree is missing, the engine's row, the reference rows
# the text compares against, and which rows are lower bounds rather than peers.
GROUPS = {
    "scan": dict(
        heading="Scanning a tree",
        tree="wide", preset="wide",
        engine="engine scan",
        floor="walk fstatat 2t",
        what="a fresh engine process scans the tree (hidden directories included, as du counts "
             "them) and replies with the summary; du, ncdu and gdu total the same tree; "
             "`walk fstatat 2t` is the floor: the fastest two-thread getdents64 + fstatat walk "
             "that only counts"),
    "dups": dict(
        heading="Finding duplicate files",
        tree="dups", preset="dups",
        engine="engine scan+duplicates",
        floor="b3sum every file, 2 procs",
        what="a fresh engine process scans the tree and lists duplicate files (size, sampled "
             "BLAKE3, full BLAKE3); jdupes, rdfind, rmlint and fdupes do the same whole job; "
             "`b3sum every file, 2 procs` hashes every byte of every file and bounds a finder "
             "that reads everything"),
    "hash": dict(
        heading="Hashing one large file",
        tree="big", preset="bigfile",
        engine="engine scan+hash",
        floor="readbw 1 MiB reads",
        what="a fresh engine process scans the file's directory and replies with the BLAKE3 "
             "of the largest file; b3sum hashes it with one thread and no mmap, and with its "
             "defaults (mmap, threads); `cat` and `readbw` only read it"),
}
BOUND_PREFIXES = ("walk ", "b3sum every file", "cat ", "readbw")
DEFAULT_TREES = dict(wide="/work/trees/wide", dups="/work/trees/dups", big="/work/trees/big")


def is_bound(name):
    return name.startswith(BOUND_PREFIXES)


def display_name(name):
    return "quillmarsh" + name[len("engine"):] if name.startswith("engine") else name


# ---------------------------------------------------------------- reading results

def parse_facts(text):
    """The lines run_peers.sh writes to facts.txt ("Tree: ...", "Machine: ...",
    "Date: ...") as a dict keyed by the lower-case word before the colon."""
    facts = {}
    for line in text.splitlines():
        key, sep, value = line.partition(":")
        if sep and key.strip():
            facts[key.strip().lower()] = value.strip()
    return facts


def machine_of(facts_machine, memory=""):
    """A short machine description from run_peers' "Machine:" line
    ("nproc 2; CPU model; kernel X; file system ext4")."""
    parts = [p.strip() for p in facts_machine.split(";") if p.strip()]
    out = []
    for p in parts:
        if p.startswith("nproc "):
            out.append("%s CPUs" % p.split()[1])
        else:
            out.append(p)
    if memory:
        out.insert(1 if out else 0, memory)
    return ", ".join(out)


def load_group(results, name):
    """One group's saved run: benchrun's JSON (title, runs, summary, raw) with
    the facts beside it, or None when the group was not run."""
    path = os.path.join(results, name + ".json")
    if not os.path.exists(path):
        return None
    with open(path) as fh:
        data = json.load(fh)
    facts_path = os.path.join(results, name + ".facts.txt")
    data["facts"] = {}
    if os.path.exists(facts_path):
        with open(facts_path) as fh:
            data["facts"] = parse_facts(fh.read())
    return data


def load_meta(results):
    """meta.json beside the results: {"groups": {name: {"commit", "machine", "engine"}}}."""
    path = os.path.join(results, "meta.json")
    if not os.path.exists(path):
        return {}
    with open(path) as fh:
        return json.load(fh)


def group_meta(meta, name, data):
    """The machine and commit of one group's run; the machine from its facts
    when meta.json does not say (results copied from a bare run_peers.sh run)."""
    m = (meta.get("groups") or {}).get(name) or {}
    return dict(machine=m.get("machine") or machine_of(data["facts"].get("machine", "")) or "unknown",
                commit=m.get("commit") or "unknown", load=m.get("load"))


def rows_of(group_data, engine_name=None):
    """The commands of one run as dicts with name, wall, wall_min, wall_max,
    cpu, rss (MiB), status, timeout: the engine's row first, then the peers,
    then the lower bounds, each in the order they were run."""
    summary = group_data["summary"]
    rows = []
    for name, s in summary.items():
        if not s.get("runs"):
            rows.append(dict(name=name, timeout=True, runs=0))
            continue
        rows.append(dict(name=name, timeout=False, runs=s["runs"], wall=s["wall"],
                         wall_min=s["wall_min"], wall_max=s["wall_max"], cpu=s["cpu"],
                         rss=s["maxrss_mib"], status=s["status"]))
    rows.sort(key=lambda r: 0 if r["name"] == engine_name else 2 if is_bound(r["name"]) else 1)
    return rows


def tree_of(data):
    """"wide (1050001 entries)" from run_peers' title "Scan, warm cache: /path/wide (1050001 entries)"."""
    where = data.get("title", "").partition(": ")[2]
    path, _, count = where.rpartition(" (")
    if not path:
        return where
    return "%s (%s" % (os.path.basename(path.rstrip("/")) or path, count)


def find_row(rows, name):
    for r in rows:
        if r["name"] == name and not r["timeout"]:
            return r
    return None


def ratio(a, b):
    if a is None or b is None or b <= 0:
        return None
    return a / b


def best_peer(rows, engine_name):
    """The peer (not a lower bound, not the engine) with the smallest median wall time."""
    peers = [r for r in rows if not r["timeout"] and r["name"] != engine_name and not is_bound(r["name"])]
    return min(peers, key=lambda r: r["wall"]) if peers else None


def load_scale(path):
    """The scale benchmark's file, points sorted by entry count; None when absent."""
    if not path or not os.path.exists(path):
        return None
    with open(path) as fh:
        data = json.load(fh)
    points = data.get("points") or []
    for p in points:
        if "entries" not in p:
            raise ValueError("%s: a point without \"entries\"" % path)
    data["points"] = sorted(points, key=lambda p: p["entries"])
    return data


# ---------------------------------------------------------------- Markdown

def fmt_s(x):
    if x is None:
        return "-"
    if x < 0.01:
        return "%.4f" % x
    return "%.3f" % x if x < 10 else "%.2f" % x


def fmt_ratio(x):
    return "-" if x is None else "%.2f" % x


def fmt_num(x):
    if x is None:
        return "-"
    return "%.2f" % x if x < 10 else "%.1f" % x


def group_table(rows, engine_name):
    eng = find_row(rows, engine_name)
    lines = ["| command | median wall s | min-max s | CPU s (user+sys) | peak RSS MiB | exit "
             "| wall / engine | CPU / engine |",
             "|---|---:|---:|---:|---:|---|---:|---:|"]
    for r in rows:
        label = display_name(r["name"])
        if r["name"] == engine_name:
            label = "**%s**" % label
        if r["timeout"]:
            lines.append("| %s | timeout | | | | | | |" % label)
            continue
        lines.append("| %s | %s | %s-%s | %s | %.1f | %s | %s | %s |" % (
            label, fmt_s(r["wall"]), fmt_s(r["wall_min"]), fmt_s(r["wall_max"]), fmt_s(r["cpu"]),
            r["rss"], ",".join(str(s) for s in r["status"]),
            fmt_ratio(ratio(r["wall"], eng and eng["wall"])),
            fmt_ratio(ratio(r["cpu"], eng and eng["cpu"]))))
    return "\n".join(lines)


def round_ratio(data, a, b, key):
    """The median over rounds of a's figure divided by b's in the same round;
    None when the raw runs do not pair up (a timeout, or no raw runs saved)."""
    raw = data.get("raw") or {}
    ra, rb = raw.get(a) or [], raw.get(b) or []
    if not ra or len(ra) != len(rb) or any(r["timeout"] for r in ra + rb):
        return None
    ratios = [x[key] / y[key] for x, y in zip(ra, rb) if y[key] > 0]
    return statistics.median(ratios) if len(ratios) == len(ra) else None


def group_summary(name, data, rows):
    """One or two sentences with the engine's ratios to the best peer and to the bound."""
    group = GROUPS[name]
    eng = find_row(rows, group["engine"])
    if eng is None:
        return "The engine's row is missing from this run (timed out or not run)."
    out = []
    peer = best_peer(rows, group["engine"])
    if peer:
        out.append("The engine took %s the wall time and %s the CPU time of %s, the fastest peer "
                   "in wall time." % (times(ratio(eng["wall"], peer["wall"])),
                                      times(ratio(eng["cpu"], peer["cpu"])), "`%s`" % peer["name"]))
        wall_rounds = round_ratio(data, group["engine"], peer["name"], "wall")
        cpu_rounds = round_ratio(data, group["engine"], peer["name"], "cpu")
        if wall_rounds is not None and cpu_rounds is not None:
            out.append("Round by round (each round runs both, one after the other), the median ratio is %s "
                       "in wall time and %s in CPU time." % (times(wall_rounds), times(cpu_rounds)))
    floor = find_row(rows, group["floor"])
    if floor:
        out.append("Against `%s`: %s the wall time, %s the CPU time." % (
            group["floor"], times(ratio(eng["wall"], floor["wall"])), times(ratio(eng["cpu"], floor["cpu"]))))
    return " ".join(out)


def times(x):
    return "-" if x is None else "%.2fx" % x


def scale_table(scale):
    lines = ["| entries | scan wall s | scan CPU s | peak RSS MiB | bytes per entry | forget ms "
             "| large ms | children ms | duplicates >= 1 MiB s |",
             "|---:|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for p in scale["points"]:
        rss = p.get("peak_rss_bytes")
        lines.append("| %s | %s | %s | %s | %s | %s | %s | %s | %s |" % (
            "{:,}".format(p["entries"]), fmt_s(p.get("scan_wall_s")), fmt_s(p.get("scan_cpu_s")),
            fmt_num(rss / 2**20 if rss is not None else None), fmt_num(p.get("bytes_per_entry")),
            fmt_num(p.get("forget_ms")), fmt_num(p.get("large_ms")), fmt_num(p.get("children_ms")),
            fmt_s(p.get("duplicates_1mib_s"))))
    return "\n".join(lines)


def scale_summary(scale):
    pts = [p for p in scale["points"] if p.get("scan_wall_s")]
    if len(pts) < 2:
        return ""
    def per_million(p, key):
        return fmt_s(p[key] / p["entries"] * 1e6) if p.get(key) is not None else "-"
    figures = ["%s / %s s at %s" % (per_million(p, "scan_wall_s"), per_million(p, "scan_cpu_s"),
                                    "{:,}".format(p["entries"])) for p in pts]
    return ("Scan time per million entries, wall / CPU: %s (equal figures mean the time grows "
            "linearly with the entry count)." % "; ".join(figures))


def date_range(first, last):
    """"2026-12-10, 17:41 to 17:52 UTC" from two ISO times (run_peers writes 2026-12-10T17:41:45Z)."""
    if first[:10] == last[:10] and len(first) >= 16 and len(last) >= 16:
        if first[11:16] == last[11:16]:
            return "%s, %s UTC" % (first[:10], first[11:16])
        return "%s, %s to %s UTC" % (first[:10], first[11:16], last[11:16])
    return first if first == last else "%s to %s" % (first, last)


def render_markdown(results, meta, groups, scale, charts, reproduce):
    """The whole of docs/performance.md. groups: name -> loaded group data;
    charts: chart key -> path relative to the Markdown file."""
    out = ["# Performance", ""]
    out.append(textwrap.fill(
        "How fast quillmarsh scans, finds duplicates and hashes, side by side with the tools people "
        "use for the same jobs, on the machine described below. Every figure is a median over "
        "interleaved rounds: each round runs every command once, in an order rotated from round "
        "to round, after one warm-up run each (warm page cache), so the noise of a shared machine "
        "falls on all commands alike. Ratios are taken between rows of the same run. CPU time "
        "(user + sys, the process and its children) is shown beside wall time because the second "
        "core of this machine is often busy with other work: CPU time says how much work a tool "
        "does, wall time how long one waits. The engine's rows start a fresh engine process "
        "through a small Python client run by the system interpreter; its start and its "
        "reading of the replies count as the engine's time (about 60 ms of CPU, more for the "
        "large duplicates reply).", 80))
    out.append("")
    ran = [(name, data, group_meta(meta, name, data)) for name, data in groups.items() if data]
    out.append("- Machine: %s" % "; ".join(sorted({m["machine"] for _, _, m in ran})))
    dates = sorted({d["facts"].get("date", "") for _, d, _ in ran} - {""})
    if dates:
        out.append("- Date: %s" % date_range(dates[0], dates[-1]))
    out.append("- Commit: %s (the last commit that changed the engine's sources)"
               % ", ".join(sorted({m["commit"] for _, _, m in ran})))
    loads = ["%s %.1f to %.1f" % (name, *m["load"]) for name, _, m in ran if m.get("load")]
    if loads:
        out.append("- Load average (1 minute) when each group started and ended: %s; with more "
                   "runnable threads than the 2 CPUs, wall times grow and CPU times much less"
                   % ", ".join(loads))
    rounds = sorted({g["runs"] for g in groups.values() if g})
    if rounds:
        out.append("- Rounds: %s per command (medians), after one warm-up run" % "/".join(map(str, rounds)))
    out.append("")
    out.append("Reproduce (Debian 12, as root; about 20 minutes here; trees that are missing are made "
               "and deleted after):")
    out.append("")
    out.append("    " + reproduce + (" -n %d" % rounds[-1] if rounds else ""))
    out.append("")
    out.append("Re-render this page from the saved results without measuring again:")
    out.append("")
    shown = os.path.abspath(results)
    if shown.startswith(REPO + os.sep):
        shown = os.path.relpath(shown, REPO)
    out.append("    /usr/bin/python3 bench/report.py --from-json %s" % shown)
    out.append("")

    for name, group in GROUPS.items():
        data = groups.get(name)
        if not data:
            continue
        rows = rows_of(data, group["engine"])
        out.append("## %s" % group["heading"])
        out.append("")
        tree = data["facts"].get("tree", "")
        out.append(textwrap.fill("What runs: %s." % group["what"], 80))
        out.append("")
        if tree:
            out.append("Tree: `%s`" % tree)
            out.append("")
        out.append(textwrap.fill(group_summary(name, data, rows), 80))
        out.append("")
        if name in charts:
            out.append("![%s](%s)" % (group["heading"], charts[name]))
            out.append("")
        out.append(group_table(rows, group["engine"]))
        out.append("")
        out.append("%d rounds after %d warm-up run. Ratios above 1 mean the command took longer "
                   "than the engine." % (data["runs"], data.get("warmup", 1)))
        out.append("")

    out.append("## Memory and time against entry count")
    out.append("")
    if scale and scale["points"]:
        out.append(textwrap.fill(
            "A fresh engine process scans trees of growing size; peak memory per retained entry "
            "is the process's peak resident set size divided by the entries the index keeps "
            "(names included). Forget, large and children are one request each on the scanned "
            "index; duplicates runs with a minimum of 1 MiB. Measured on %s, %s, commit %s, "
            "%s run(s) per point. The figures come from `docs/data/scale.json`, written by the "
            "scale benchmark or, for a small sample, by `bench/report.py --groups '' "
            "--measure-scale 100000,300000,1000000`." % (
                scale.get("machine", "unknown"), scale.get("date", "unknown"),
                scale.get("commit", "unknown"), scale.get("runs", "?")), 80))
        out.append("")
        for key in ("scale_memory", "scale_time"):
            if key in charts:
                out.append("![%s](%s)" % (key.replace("_", " "), charts[key]))
                out.append("")
        out.append(scale_table(scale))
        out.append("")
        s = scale_summary(scale)
        if s:
            out.append(textwrap.fill(s, 80))
            out.append("")
    else:
        out.append("Not measured yet: the scale benchmark writes `docs/data/scale.json`.")
        out.append("")
    return "\n".join(out)


# ---------------------------------------------------------------- charts

ENGINE_COLOURS = ("#1f5fa8", "#8fb3dd")   # wall, CPU
OTHER_COLOURS = ("#666666", "#bbbbbb")
BOUND_COLOURS = ("#3a8a3a", "#a6d4a6")


def stamp(meta_line, fig):
    fig.text(0.01, 0.01, meta_line, fontsize=7, color="#444444", ha="left", va="bottom", wrap=True)


def stamp_line(machine, date, commit, runs):
    return "%s | %s | commit %s | %s" % (machine, date, commit, runs)


def bar_chart(path, title, rows, engine_name, floor_name, footer):
    """Wall and CPU time side by side per command, the engine first, then the
    peers, then the lower bounds; the rows of other walk variants are left out."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    chosen = [r for r in rows if not r["timeout"] and (not r["name"].startswith("walk ") or r["name"] == floor_name)]
    chosen.sort(key=lambda r: (0 if r["name"] == engine_name else 2 if is_bound(r["name"]) else 1, r["wall"]))
    chosen.reverse()  # barh draws from the bottom
    n = len(chosen)
    fig, ax = plt.subplots(figsize=(8, 0.5 * n + 1.6))
    h = 0.38
    ymax = max(max(r["wall"], r["cpu"]) for r in chosen) if chosen else 1
    for i, r in enumerate(chosen):
        colours = ENGINE_COLOURS if r["name"] == engine_name else BOUND_COLOURS if is_bound(r["name"]) else OTHER_COLOURS
        ax.barh(i + h / 2, r["wall"], h, color=colours[0])
        ax.barh(i - h / 2, r["cpu"], h, color=colours[1])
        ax.text(r["wall"] + ymax * 0.01, i + h / 2, "%s s wall" % fmt_s(r["wall"]), va="center", fontsize=7)
        ax.text(r["cpu"] + ymax * 0.01, i - h / 2, "%s s CPU" % fmt_s(r["cpu"]), va="center", fontsize=7)
    ax.set_yticks(range(n))
    ax.set_yticklabels([display_name(r["name"]) for r in chosen], fontsize=8)
    ax.set_xlim(0, ymax * 1.22)
    ax.set_xlabel("seconds, median (dark: wall time; light: CPU time, user + sys; green: a lower bound, "
                  "not a full tool)", fontsize=8)
    ax.set_title(title, fontsize=10)
    ax.spines[["top", "right"]].set_visible(False)
    fig.tight_layout(rect=(0, 0.05, 1, 1))
    stamp(footer, fig)
    fig.savefig(path, dpi=110)
    plt.close(fig)


def scale_charts(directory, scale, footer):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    import matplotlib.ticker

    paths = {}
    pts = scale["points"]
    xs = [p["entries"] for p in pts]

    mem = [(p["entries"], p["bytes_per_entry"]) for p in pts if p.get("bytes_per_entry") is not None]
    if mem:
        fig, ax = plt.subplots(figsize=(7, 4))
        ax.plot([m[0] for m in mem], [m[1] for m in mem], "o-", color=ENGINE_COLOURS[0], label="quillmarsh")
        for x, y in mem:
            ax.annotate("%.1f" % y, (x, y), textcoords="offset points", xytext=(0, 6), ha="center", fontsize=7)
        ax.axhline(80, color="#aa3333", linestyle="--", linewidth=1, label="target: 80 bytes per entry")
        ax.set_xscale("log")
        ax.set_ylim(0, max(max(m[1] for m in mem), 80) * 1.2)
        ax.set_xlabel("entries in the index", fontsize=8)
        ax.set_ylabel("peak RSS / retained entries, bytes", fontsize=8)
        ax.set_title("Peak memory per retained entry, names included", fontsize=10)
        ax.legend(fontsize=8)
        ax.spines[["top", "right"]].set_visible(False)
        fig.tight_layout(rect=(0, 0.05, 1, 1))
        stamp(footer, fig)
        paths["scale_memory"] = os.path.join(directory, "scale-memory.png")
        fig.savefig(paths["scale_memory"], dpi=110)
        plt.close(fig)

    wall = [(p["entries"], p["scan_wall_s"]) for p in pts if p.get("scan_wall_s") is not None]
    cpu = [(p["entries"], p["scan_cpu_s"]) for p in pts if p.get("scan_cpu_s") is not None]
    if wall:
        fig, ax = plt.subplots(figsize=(7, 4))
        ax.plot([w[0] for w in wall], [w[1] for w in wall], "o-", color=ENGINE_COLOURS[0], label="scan, wall")
        if cpu:
            ax.plot([c[0] for c in cpu], [c[1] for c in cpu], "s-", color=ENGINE_COLOURS[1], label="scan, CPU (user + sys)")
        x0, y0 = wall[0]
        ax.plot([0, max(xs)], [0, y0 / x0 * max(xs)], ":", color="#888888", linewidth=1,
                label="linear from the smallest tree's wall time")
        ax.set_xlim(0, max(xs) * 1.05)
        ax.set_ylim(0, None)
        ax.xaxis.set_major_formatter(matplotlib.ticker.FuncFormatter(lambda x, _: "%gM" % (x / 1e6)))
        ax.set_xlabel("entries in the index", fontsize=8)
        ax.set_ylabel("seconds", fontsize=8)
        ax.set_title("Scan time against entry count", fontsize=10)
        ax.legend(fontsize=8)
        ax.spines[["top", "right"]].set_visible(False)
        fig.tight_layout(rect=(0, 0.05, 1, 1))
        stamp(footer, fig)
        paths["scale_time"] = os.path.join(directory, "scale-time.png")
        fig.savefig(paths["scale_time"], dpi=110)
        plt.close(fig)
    return paths


def render(results, docs, scale_path, reproduce):
    """Reads the saved results and writes docs/performance.md and docs/performance/*.png."""
    meta = load_meta(results)
    groups = {name: load_group(results, name) for name in GROUPS}
    if not any(groups.values()):
        raise SystemExit("report.py: no results in %s (expected scan.json, dups.json or hash.json)" % results)
    scale = load_scale(scale_path)
    chart_dir = os.path.join(docs, "performance")
    os.makedirs(chart_dir, exist_ok=True)
    charts = {}
    for name, data in groups.items():
        if not data:
            continue
        m = group_meta(meta, name, data)
        footer = stamp_line(m["machine"], data["facts"].get("date", "")[:10], m["commit"],
                            "%d rounds, medians" % data["runs"])
        path = os.path.join(chart_dir, name + ".png")
        group = GROUPS[name]
        bar_chart(path, "%s: %s" % (group["heading"], tree_of(data)),
                  rows_of(data, group["engine"]), group["engine"], group["floor"], "\n".join(textwrap.wrap(footer, 150)))
        charts[name] = os.path.relpath(path, docs)
    if scale and scale["points"]:
        footer = stamp_line(scale.get("machine", "unknown"), scale.get("date", "unknown"),
                            scale.get("commit", "unknown"), "%s run(s) per point" % scale.get("runs", "?"))
        for key, path in scale_charts(chart_dir, scale, "\n".join(textwrap.wrap(footer, 130))).items():
            charts[key] = os.path.relpath(path, docs)
    text = render_markdown(results, meta, groups, scale, charts, reproduce)
    with open(os.path.join(docs, "performance.md"), "w") as fh:
        fh.write(text)
    return os.path.join(docs, "performance.md")


# ---------------------------------------------------------------- measuring

ENGINE_SOURCES = ["src", "cmake", "CMakeLists.txt"]


def source_commit():
    """The last commit that changed the engine's sources (it names the engine
    built from this checkout, and outlives a rebase of later commits that do
    not touch them), "-dirty" when the sources differ from it."""
    try:
        commit = subprocess.run(["git", "-C", REPO, "log", "-1", "--format=%h", "--abbrev=12", "HEAD", "--",
                                 *ENGINE_SOURCES], check=True, capture_output=True, text=True).stdout.strip()
        dirty = subprocess.run(["git", "-C", REPO, "status", "--porcelain", "--untracked-files=no", "--",
                                *ENGINE_SOURCES],
                               check=True, capture_output=True, text=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "unknown"
    return commit + ("-dirty" if dirty else "")


def machine_here():
    """CPUs, memory, CPU model and kernel of this machine, in one line."""
    cpu = ""
    try:
        with open("/proc/cpuinfo") as fh:
            cpu = next((ln.split(":", 1)[1].strip() for ln in fh if ln.startswith("model name")), "")
    except OSError:
        pass
    parts = ["%d CPUs" % os.cpu_count(), memory_total(), cpu, "kernel " + platform.release()]
    return ", ".join(p for p in parts if p)


def memory_total():
    try:
        with open("/proc/meminfo") as fh:
            for line in fh:
                if line.startswith("MemTotal:"):
                    return "%.0f GiB RAM" % (int(line.split()[1]) / 2**20)
    except OSError:
        pass
    return ""


def build_engine():
    build = os.path.join(REPO, "build-bench")
    subprocess.run(["cmake", "-S", REPO, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                    "-DQM_BUILD_TESTS=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "--target", "quillmarsh", "-j", "2"], check=True,
                   stdout=subprocess.DEVNULL)
    return os.path.join(build, "quillmarsh")


def make_tree(shared, preset, dest, extra=()):
    print("report.py: making a %s tree in %s" % (preset, dest), file=sys.stderr, flush=True)
    subprocess.run([sys.executable, os.path.join(shared, "make_tree.py"), preset, dest, *extra],
                   check=True, stdout=subprocess.DEVNULL)


def peer_environment():
    """The environment for run_peers.sh, with this interpreter's directory first
    on PATH: its engine row starts the Python client as "python3", and a
    version manager's shim there (pyenv's runs bash and several scripts per
    start, about 0.15 s of CPU) would be counted as the engine's time."""
    env = dict(os.environ)
    env["PATH"] = os.path.dirname(os.path.realpath(sys.executable)) + os.pathsep + env.get("PATH", "")
    return env


def run_groups(a, engine, results):
    os.makedirs(results, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="qm-report.") as tmp:
        for name in a.groups:
            group = GROUPS[name]
            tree = getattr(a, group["tree"])
            if not os.path.isdir(tree):
                tree = os.path.join(tmp, "tree-" + group["tree"])
                make_tree(a.shared, group["preset"], tree)
            out = os.path.join(tmp, name)
            load_before = os.getloadavg()[0]
            subprocess.run(["bash", os.path.join(a.shared, "run_peers.sh"), "-n", str(a.rounds),
                            "-g", name, "-e", engine, "-o", out, "-t", str(a.timeout), tree],
                           check=True, env=peer_environment())
            shutil.copy(os.path.join(out, name + ".json"), os.path.join(results, name + ".json"))
            shutil.copy(os.path.join(out, name + ".md"), os.path.join(results, name + ".md"))
            shutil.copy(os.path.join(out, "facts.txt"), os.path.join(results, name + ".facts.txt"))
            with open(os.path.join(out, "facts.txt")) as fh:
                facts_machine = parse_facts(fh.read()).get("machine", "")
            if tree.startswith(tmp):
                shutil.rmtree(tree)
            meta = load_meta(results)
            meta.setdefault("groups", {})[name] = dict(
                commit=a.commit or source_commit(), machine=machine_of(facts_machine, memory_total()),
                load=[round(load_before, 2), round(os.getloadavg()[0], 2)],
                engine=os.path.relpath(engine, REPO) if engine.startswith(REPO + os.sep) else engine)
            save_meta(results, meta)


def save_meta(results, meta):
    with open(os.path.join(results, "meta.json"), "w") as fh:
        json.dump(meta, fh, indent=1, sort_keys=True)
        fh.write("\n")


SCALE_SCAN = 'scan {"command":"scan","args":{"root":{{ROOT}},"includeHidden":true}}\n'
SCALE_QUERIES = SCALE_SCAN + "\n".join([
    'children {"command":"children","args":{"id":0}}',
    'large {"command":"large","args":{"minimum":0}}',
    'duplicates {"command":"duplicates","args":{"minimum":1048576}}',
    'forget {"command":"forget","args":{"paths":[{{ROOT}}]}}']) + "\n"


def client_runs(a, engine, root, script, runs, replies=None):
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        cmd = [sys.executable, os.path.join(a.shared, "engine_client.py"), "--engine", engine, "--root", root,
               "--runs", str(runs), "--quiet", "--json", out.name]
        if replies:
            cmd += ["--keep-replies", replies]
        done = subprocess.run(cmd + [script])
        if done.returncode != 0:
            raise SystemExit("report.py: engine_client exited %d on %s" % (done.returncode, root))
        with open(out.name) as fh:
            return json.load(fh)["runs"]


def median_ms(runs, label):
    ms = [row["ms"] for run in runs for row in run["rows"] if row["label"] == label and not row["skipped"]]
    return statistics.median(ms) if ms else None


def seconds(ms):
    return None if ms is None else ms / 1000.0


def measure_scale(a, engine, sizes, path):
    """Scans wide-preset trees of the given file counts (made in a temporary
    directory and deleted after) and writes the scale file."""
    points = []
    with tempfile.TemporaryDirectory(prefix="qm-report-scale.", dir=a.scale_dir) as tmp:
        scan_req = os.path.join(tmp, "scan.req")
        queries_req = os.path.join(tmp, "queries.req")
        with open(scan_req, "w") as fh:
            fh.write(SCALE_SCAN)
        with open(queries_req, "w") as fh:
            fh.write(SCALE_QUERIES)
        for files in sizes:
            tree = os.path.join(tmp, "wide-%d" % files)
            # no data blocks: the scan does not read them, and deleting a tree of
            # files with blocks is slow where unlink discards
            make_tree(a.shared, "wide", tree, ["--files", str(files), "--dirs", str(max(1, files // 20)),
                                               "--data-fraction", "0"])
            os.sync()  # the new tree's writeback would otherwise run during the scans
            client_runs(a, engine, tree, scan_req, 1)  # warm-up: the page cache holds the tree
            replies = os.path.join(tmp, "replies")
            scans = client_runs(a, engine, tree, scan_req, a.scale_runs, replies)
            with open(os.path.join(replies, "scan.reply.1.json")) as fh:
                retained = json.loads(fh.readline())["result"]["retained"]
            queries = client_runs(a, engine, tree, queries_req, a.scale_runs)
            rss = statistics.median(r["rss_kib"] for r in scans) * 1024
            points.append(dict(
                entries=retained,
                scan_wall_s=seconds(median_ms(scans, "scan")),
                scan_cpu_s=statistics.median(r["user"] + r["sys"] for r in scans),
                peak_rss_bytes=int(rss), bytes_per_entry=rss / retained,
                forget_ms=median_ms(queries, "forget"), large_ms=median_ms(queries, "large"),
                children_ms=median_ms(queries, "children"),
                duplicates_1mib_s=seconds(median_ms(queries, "duplicates"))))
            points[-1] = {k: round(v, 6) if isinstance(v, float) else v for k, v in points[-1].items()}
            print("report.py: %s" % json.dumps(points[-1]), file=sys.stderr, flush=True)
            shutil.rmtree(tree)
            shutil.rmtree(replies)
    data = dict(machine=machine_here(), date=datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d"),
                commit=a.commit or source_commit(), runs=a.scale_runs, points=points)
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path, "w") as fh:
        json.dump(data, fh, indent=1)
        fh.write("\n")


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                 epilog=__doc__.split("\n\n", 1)[1],
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--groups", default="scan,dups,hash",
                    help="comma-separated groups to measure: scan, dups, hash (default all three)")
    ap.add_argument("-n", "--rounds", type=int, default=5, help="measured rounds per command (default 5)")
    ap.add_argument("--engine", help="engine binary (default: build-bench/quillmarsh, built when missing)")
    ap.add_argument("--wide", default=DEFAULT_TREES["wide"], help="tree of the scan group "
                    "(default %(default)s; made with make_tree.py wide in a temporary directory when missing)")
    ap.add_argument("--dups", default=DEFAULT_TREES["dups"], help="tree of the dups group (default %(default)s)")
    ap.add_argument("--big", default=DEFAULT_TREES["big"], help="tree of the hash group (default %(default)s)")
    ap.add_argument("--timeout", type=int, default=1800, help="seconds before one run is killed (default 1800)")
    ap.add_argument("--shared", default=os.environ.get("QM_SHARED_BENCH", os.path.join(os.path.dirname(REPO), "shared", "bench")),
                    help="the shared benchmark tools (default ../shared/bench or $QM_SHARED_BENCH)")
    ap.add_argument("--results", default=os.path.join(REPO, "docs", "data", "peers"),
                    help="where the measured results are saved (default docs/data/peers)")
    ap.add_argument("--from-json", metavar="DIR",
                    help="measure nothing: render the report from results saved in DIR")
    ap.add_argument("--scale-json", default=os.path.join(REPO, "docs", "data", "scale.json"),
                    help="the scale benchmark's results (default docs/data/scale.json)")
    ap.add_argument("--measure-scale", metavar="FILES,...",
                    help="before rendering, scan wide-preset trees of these file counts and write "
                         "--scale-json (e.g. 100000,300000,1000000); the trees go to a temporary "
                         "directory under --scale-dir and are deleted after")
    ap.add_argument("--scale-dir", default=None, help="where --measure-scale makes its trees (default $TMPDIR)")
    ap.add_argument("--scale-runs", type=int, default=3, help="engine runs per --measure-scale point (default 3)")
    ap.add_argument("--docs", default=os.path.join(REPO, "docs"), help="where performance.md goes (default docs)")
    ap.add_argument("--commit", help="the commit to print on the charts (default: this checkout's HEAD)")
    a = ap.parse_args(argv)

    a.groups = [g for g in a.groups.split(",") if g]
    for g in a.groups:
        if g not in GROUPS:
            ap.error("unknown group %r (choose from %s)" % (g, ", ".join(GROUPS)))
    try:
        import matplotlib  # noqa: F401  (checked before a long measurement, used by the charts)
    except ImportError:
        raise SystemExit("report.py: matplotlib is missing: run scripts/install-bench-deps.sh, then this "
                         "script with /usr/bin/python3 (Debian's python3-matplotlib is for that interpreter)")
    results = a.results
    if a.from_json:
        results = a.from_json
    else:
        engine = os.path.abspath(a.engine) if a.engine else os.path.join(REPO, "build-bench", "quillmarsh")
        if not a.engine and not os.access(engine, os.X_OK):
            engine = build_engine()
        if not os.access(engine, os.X_OK):
            ap.error("engine %s is not an executable file" % engine)
        if a.measure_scale:
            sizes = [int(s) for s in a.measure_scale.split(",") if s]
            measure_scale(a, engine, sizes, a.scale_json)
        if a.groups:
            run_groups(a, engine, results)
    reproduce = "scripts/install-bench-deps.sh && /usr/bin/python3 bench/report.py"
    print("report.py: wrote %s" % render(results, a.docs, a.scale_json, reproduce))
    return 0


if __name__ == "__main__":
    sys.exit(main())
