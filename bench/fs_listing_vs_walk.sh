#!/usr/bin/env bash
# Single-threaded tree listing, side by side with the floor program:
#   fast      fs_listing_bench -m fast      (list_directory_compact, fast reader)
#   portable  fs_listing_bench -m portable  (list_directory_compact, portable reader)
#   walk      limits/walk -t 1              (getdents64 + fstatat, openat relative to the parent)
# One warm-up run of each (warm page and dentry caches), then ROUNDS rounds in
# a rotated order so noise on a shared machine falls on all alike; prints the
# median wall time of each and the ratios.
#
# usage: bench/fs_listing_vs_walk.sh [-n ROUNDS] [-b BENCH_BINARY] [-l LIMITS_DIR] DIR
set -euo pipefail

rounds=5
here=$(cd "$(dirname "$0")" && pwd)
bench_binary=""
limits_dir=${QM_LIMITS_DIR:-/work/shared/bench/limits}
while getopts "n:b:l:" opt; do
  case $opt in
    n) rounds=$OPTARG ;;
    b) bench_binary=$OPTARG ;;
    l) limits_dir=$OPTARG ;;
    *) echo "usage: $0 [-n ROUNDS] [-b BENCH_BINARY] [-l LIMITS_DIR] DIR" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[ $# -eq 1 ] || { echo "usage: $0 [-n ROUNDS] [-b BENCH_BINARY] [-l LIMITS_DIR] DIR" >&2; exit 2; }
tree=$1

if [ -z "$bench_binary" ]; then
  for candidate in "$here"/../build*/bench/fs_listing_bench; do
    [ -x "$candidate" ] && bench_binary=$candidate && break
  done
fi
[ -n "$bench_binary" ] && [ -x "$bench_binary" ] || {
  echo "fs_listing_bench not found: configure with -DQM_BUILD_BENCHMARKS=ON, build it, or pass -b" >&2
  exit 1
}

# The floor program is built in a temporary directory, never in the shared tree.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$limits_dir"/walk.c "$limits_dir"/Makefile "$work"/
make -s -C "$work" walk >/dev/null

declare -A command=(
  [fast]="$bench_binary -m fast $tree"
  [portable]="$bench_binary -m portable $tree"
  [walk]="$work/walk -t 1 $tree"
)
names=(fast portable walk)

echo "tree: $tree"
for name in "${names[@]}"; do
  printf '%-9s %s\n' "$name" "$(${command[$name]} | tail -1)"
done

times=$work/times
: >"$times"
for ((round = 0; round < rounds; round++)); do
  for ((k = 0; k < ${#names[@]}; k++)); do
    name=${names[$(((round + k) % ${#names[@]}))]}
    start=$(date +%s%N)
    ${command[$name]} >/dev/null
    end=$(date +%s%N)
    echo "$name $(((end - start) / 1000000))" >>"$times"
  done
done

python3 - "$times" "$rounds" <<'PY'
import statistics, sys
runs = {}
for line in open(sys.argv[1]):
    name, ms = line.split()
    runs.setdefault(name, []).append(int(ms))
median = {name: statistics.median(values) for name, values in runs.items()}
print(f"\nrounds: {sys.argv[2]} (wall ms, warm cache, one thread)")
for name in ("fast", "portable", "walk"):
    values = sorted(runs[name])
    print(f"{name:<9} median {median[name]:8.0f}   min {values[0]:6d}   max {values[-1]:6d}")
print(f"\nfast / walk      {median['fast'] / median['walk']:.3f}")
print(f"portable / walk  {median['portable'] / median['walk']:.3f}")
print(f"fast / portable  {median['fast'] / median['portable']:.3f}")
PY
