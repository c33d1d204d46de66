#!/usr/bin/env bash
# Starts the web front end: installs Node.js and the UI's npm packages when
# missing, builds the optimised engine if needed, then starts the local server
# on 127.0.0.1 and prints the URL (with this run's token) to open.
# Arguments go to the server, e.g. scripts/ui.sh --port 8765
set -euo pipefail
cd "$(dirname "$0")/.."
{
  scripts/install-deps.sh
  scripts/install-ui-deps.sh
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_TESTS=OFF >/dev/null
  cmake --build build --target quillmarsh
} 1>&2
exec node ui/server/main.js --engine build/quillmarsh "$@"
