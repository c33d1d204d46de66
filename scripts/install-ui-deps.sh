#!/usr/bin/env bash
# Installs what the web front end and its browser tests need on Debian 12 (as
# root): Node.js and npm from Debian when no node is on PATH, Chromium for the
# tests (with --browser), and the locked npm packages when ui/node_modules is
# missing or older than ui/package-lock.json. Quiet when all is present.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=()
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)
if [[ "${1:-}" == --browser ]] && [[ ! -x /usr/bin/chromium ]]; then
  packages+=(chromium fonts-dejavu-core)
fi
if ((${#packages[@]})); then
  echo "installing: ${packages[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
fi

if [[ ! -d ui/node_modules ]] || [[ ui/package-lock.json -nt ui/node_modules ]]; then
  (cd ui && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
  touch ui/node_modules
fi
