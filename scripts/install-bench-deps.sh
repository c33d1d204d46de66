#!/usr/bin/env bash
# Installs what the benchmarks compare against and measure with, on Debian 12
# (run as root): the peer tools (du is in coreutils), GNU time for peak memory,
# strace for system-call counts, and what ../shared/bench/limits builds with.
# Not needed by the tests. Idempotent and quiet when everything is present.
set -euo pipefail

packages=(
  jdupes fdupes rdfind rmlint b3sum
  ncdu gdu duc
  time strace hyperfine make gcc liburing-dev python3
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
