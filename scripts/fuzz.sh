#!/usr/bin/env bash
# Usage: scripts/fuzz.sh BUILD_DIR SECONDS
# Runs every libFuzzer target of BUILD_DIR (built with -DQM_BUILD_FUZZERS=ON) for
# SECONDS each, starting from a fresh corpus in a temporary directory. Fails on
# a crash, a leak, a timeout (10 s per input) or memory beyond 2 GiB; the input
# that failed is kept in BUILD_DIR/fuzz-artifacts.
set -euo pipefail

if [[ $# -ne 2 ]]; then
  echo "usage: $0 BUILD_DIR SECONDS" >&2
  exit 2
fi
build=$1
seconds=$2
source_dir="$(cd "$(dirname "$0")/.." && pwd)"

shopt -s nullglob
fuzzers=("$build"/fuzz/*_fuzz)
if ((${#fuzzers[@]} == 0)); then
  echo "no fuzzers in $build/fuzz (configure with -DQM_BUILD_FUZZERS=ON)" >&2
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/qm-fuzz-XXXXXX")
trap 'rm -rf "$work"' EXIT
artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"

status=0
for fuzzer in "${fuzzers[@]}"; do
  name=$(basename "$fuzzer")
  # The words of its input: fuzz/NAME.dict (NAME without _fuzz); the protocol
  # fuzzers share the JSON one.
  dictionary=()
  case "$name" in
    request_decoder_fuzz | json_render_fuzz) dict_file="$source_dir/fuzz/json.dict" ;;
    *) dict_file="$source_dir/fuzz/${name%_fuzz}.dict" ;;
  esac
  [[ -f "$dict_file" ]] && dictionary=(-dict="$dict_file")
  corpus="$work/$name"
  mkdir -p "$corpus"
  echo "=== $name: ${seconds}s"
  if ! ASAN_OPTIONS="detect_leaks=1:${ASAN_OPTIONS:-}" \
      UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:${UBSAN_OPTIONS:-}" \
      "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$artifacts/$name-" "${dictionary[@]}" "$corpus" \
      >"$work/$name.log" 2>&1; then
    tail -n 60 "$work/$name.log"
    echo "=== $name FAILED; the failing input is in $artifacts" >&2
    status=1
  else
    grep -E "^(#[0-9]+.*DONE|stat::number_of_executed_units)" "$work/$name.log" | tail -n 2 || true
  fi
done
exit $status
