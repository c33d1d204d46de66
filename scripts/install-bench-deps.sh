#!/usr/bin/env bash
# Installs what the benchmarks compare against and measure with, on Debian 12
# (run as root), besides the build dependencies: the peer tools (du is in
# coreutils), GNU time for peak memory, strace for system-call counts, what
# ../shared/bench/limits builds with, and matplotlib for the charts of
# bench/report.py (Debian's package: it installs for the system interpreter
# /usr/bin/python3). The tests do not need these.
set -euo pipefail
exec "$(dirname "$0")/install-deps.sh" \
  jdupes fdupes rdfind rmlint b3sum ncdu gdu duc \
  time strace hyperfine make gcc liburing-dev \
  python3-matplotlib
