#!/usr/bin/env bash
# Installs dependencies, builds the optimised engine and runs it on this
# process's stdin/stdout. Build output goes to stderr, so stdout carries only
# protocol lines.
set -euo pipefail
cd "$(dirname "$0")/.."
{
  scripts/install-deps.sh
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_TESTS=OFF >/dev/null
  cmake --build build --target quillmarsh
} 1>&2
exec build/quillmarsh
