#!/usr/bin/env bash
# Single-threaded tree listing, side by side with the floor program:
#   fast      fs_listing_bench -m fast      (list_directory, fast reader)
#   portable  fs_listing_bench -m portable  (list_directory, portable reader)
#   walk      limits/walk -t 1              (getdents64 + fstatat, openat relative to the parent)
# One warm-up run of each (warm page and dentry caches), then ROUNDS rounds in
# a rotated order so noise on a shared machine falls on all alike; prints the
# median wall and CPU (user + system) time of each and their ratios. On a busy
# machine the CPU ratios are the steadier figure.
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
  for candidate in "$here"/../build/bench/fs_listing_bench "$here"/../build*/bench/fs_listing_bench; do
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
    /usr/bin/time -f "$name %e %U %S" -a -o "$times" ${command[$name]} >/dev/null
  done
done

python3 - "$times" "$rounds" <<'PY'
import statistics, sys
wall, cpu = {}, {}
for line in open(sys.argv[1]):
    name, elapsed, user, system = line.split()
    wall.setdefault(name, []).append(float(elapsed))
    cpu.setdefault(name, []).append(float(user) + float(system))
names = ("fast", "portable", "walk")
print(f"\nrounds: {sys.argv[2]} (seconds, warm cache, one thread)")
print(f"{'':<9} {'wall median':>11} {'min':>7} {'max':>7} {'cpu median':>11}")
for name in names:
    w = sorted(wall[name])
    print(f"{name:<9} {statistics.median(w):11.2f} {w[0]:7.2f} {w[-1]:7.2f} {statistics.median(cpu[name]):11.2f}")
def ratio(a, b, table):
    return statistics.median(table[a]) / statistics.median(table[b])
print(f"\n{'':<16} {'wall':>6} {'cpu':>6}")
for a, b in (("fast", "walk"), ("portable", "walk"), ("fast", "portable")):
    print(f"{a + ' / ' + b:<16} {ratio(a, b, wall):6.3f} {ratio(a, b, cpu):6.3f}")
PY
