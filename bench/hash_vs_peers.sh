#!/usr/bin/env bash
# The engine's "hash" against b3sum, and its "duplicates" against jdupes, rmlint
# and fdupes, side by side with a warm page cache (see hash_vs_peers.py).
#
#   bench/hash_vs_peers.sh [-n RUNS] [-e ENGINE] [-q] [DUPS_TREE [BIG_TREE]]
#
# Defaults: the trees /work/trees/dups and /work/trees/big (made with the shared
# make_tree.py presets dups and bigfile; waits for /work/trees/DONE), 5 rounds,
# and an optimised engine built in build-bench. -q leaves out fdupes (slow).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-bench-deps.sh

runs=5
engine=""
quick=()
while getopts "n:e:q" opt; do
  case $opt in
    n) runs=$OPTARG ;;
    e) engine=$OPTARG ;;
    q) quick=(--skip-slow-peers) ;;
    *) sed -n '2,9p' "$0" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
dups=${1:-/work/trees/dups}
big=${2:-/work/trees/big}
bench_dir=${QM_SHARED_BENCH:-$(cd .. && pwd)/shared/bench}

if [[ -z $engine ]]; then
  cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_TESTS=OFF >/dev/null
  cmake --build build-bench --target quillmarsh -j 2 >/dev/null
  engine=build-bench/quillmarsh
fi
if [[ $dups == /work/trees/* || $big == /work/trees/* ]]; then
  until [[ -e /work/trees/DONE ]]; do
    echo "waiting for /work/trees/DONE" >&2
    sleep 30
  done
fi
big_file=$(find "$big" -type f -printf '%s\t%p\n' | sort -rn | head -1 | cut -f2-)

exec python3 bench/hash_vs_peers.py --engine "$engine" --bench-dir "$bench_dir" --runs "$runs" "${quick[@]}" \
  --dups "$dups" --big "$big_file"
