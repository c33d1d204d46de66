#!/usr/bin/env bash
# The engine's scan side by side with du, ncdu, gdu and the 2-thread walk of
# the limits programs, on the wide tree and on one flat directory of a million
# files; then the engine's peak memory per retained entry on both, and the
# forget / summary timings of bench/index_bench on a synthetic million-entry index.
#
# usage: bench/scan_vs_peers.sh [-n ROUNDS] [-e ENGINE] [-b INDEX_BENCH] [-w WIDE_TREE] [-f FLAT_DIR]
#   -n ROUNDS       measured rounds per tree (default 5; medians reported)
#   -e ENGINE       engine binary (default: the first ../build*/quillmarsh)
#   -b INDEX_BENCH  the index_bench program (default: the first ../build*/bench/index_bench)
#   -w WIDE_TREE    default /work/trees/wide (make_tree.py wide); "none" leaves it out
#   -f FLAT_DIR     default /tmp/qm-scan-flat (made by scan_make_flat_dir.py when missing);
#                   "none" leaves it out
# Every engine scan includes hidden directories, as du, ncdu and gdu count them.
set -euo pipefail

rounds=5
here=$(cd "$(dirname "$0")" && pwd)
"$here/../scripts/install-bench-deps.sh"
shared=${QM_SHARED_BENCH:-/work/shared/bench}
engine=""
index_bench=""
wide=/work/trees/wide
flat=/tmp/qm-scan-flat
usage() { sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
while getopts "n:e:b:w:f:h" opt; do
  case $opt in
    n) rounds=$OPTARG ;;
    e) engine=$OPTARG ;;
    b) index_bench=$OPTARG ;;
    w) wide=$OPTARG ;;
    f) flat=$OPTARG ;;
    *) usage ;;
  esac
done
shift $((OPTIND - 1))
[ $# -eq 0 ] || usage

first_executable() {
  for candidate in "$@"; do
    [ -x "$candidate" ] && { echo "$candidate"; return; }
  done
}
[ -n "$engine" ] || engine=$(first_executable "$here"/../build*/quillmarsh)
[ -n "$index_bench" ] || index_bench=$(first_executable "$here"/../build*/bench/index_bench)
[ -n "$engine" ] && [ -x "$engine" ] || { echo "engine binary not found: build quillmarsh or pass -e" >&2; exit 1; }
engine=$(cd "$(dirname "$engine")" && pwd)/$(basename "$engine")

trees=()
[ "$wide" = none ] || trees+=("$wide")
if [ "$flat" != none ]; then
  [ -d "$flat" ] && [ -e "$flat.DONE" ] || python3 "$here/scan_make_flat_dir.py" "$flat" 1000000
  trees+=("$flat")
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/scan-vs-peers.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp "$shared"/limits/walk.c "$shared"/limits/Makefile "$work"/
make -s -C "$work" walk >/dev/null
cat > "$work/scan.req" <<'REQ'
scan {"command":"scan","args":{"root":{{ROOT}},"includeHidden":true}}
summary {"command":"summary"}
REQ

client="python3 $(printf '%q' "$shared/engine_client.py")"
for tree in "${trees[@]}"; do
  t=$(printf '%q' "$tree")
  args=(--cmd "walk fstatat 2t" "$work/walk -q -t 2 $t")
  command -v du >/dev/null && args+=(--cmd "du -s" "du -s $t")
  command -v ncdu >/dev/null && args+=(--cmd "ncdu -x" "ncdu -0 -o /dev/null -x $t")
  command -v gdu >/dev/null && args+=(--cmd "gdu -n -p" "gdu -n -p $t")
  args+=(--cmd "engine scan" "$client --engine $(printf '%q' "$engine") --root $t --runs 1 --quiet $(printf '%q' "$work/scan.req")")
  python3 "$shared/benchrun.py" --runs "$rounds" --warmup 1 --cwd "$work" --ref "walk fstatat 2t" \
    --title "Scan, warm cache: $tree" "${args[@]}"
  echo

  # Peak memory of the engine process per retained entry, and its own scan timing.
  python3 "$shared/engine_client.py" --engine "$engine" --root "$tree" --runs 3 \
    --json "$work/memory.json" --keep-replies "$work/replies" "$work/scan.req" >/dev/null
  python3 - "$work/memory.json" "$work/replies/scan.reply.1.json" "$tree" <<'PY'
import json, statistics, sys
runs = json.load(open(sys.argv[1]))["runs"]
reply = json.loads(open(sys.argv[2]).readline())
retained = reply["result"]["retained"]
rss = statistics.median(r["rss_kib"] for r in runs) * 1024
scan_ms = statistics.median(r["rows"][0]["ms"] for r in runs)
print(f"{sys.argv[3]}: engine scan {scan_ms:.0f} ms (median of {len(runs)}), "
      f"retained {retained}, peak RSS {rss / 2**20:.1f} MiB = {rss / retained:.1f} bytes per retained entry")
PY
  rm -rf "$work/replies"
  echo
done

if [ -n "$index_bench" ] && [ -x "$index_bench" ]; then
  "$index_bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
else
  echo "index_bench not found: configure with -DQM_BUILD_BENCHMARKS=ON and build it, or pass -b" >&2
fi
