#!/usr/bin/env bash
# Installs every build, test and benchmark dependency on Debian 12 (run as root),
# and any further Debian packages named as arguments.
# Idempotent and quiet when everything is already present.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev llvm
  libicu-dev librust-blake3-dev b3sum libfast-float-dev lld-14
  libgtest-dev libgmock-dev libbenchmark-dev
  python3 strace util-linux procps hostname
)
# The protocol schema check of the C++ suites (tests/support/validate_protocol_log.py).
packages+=(python3-jsonschema)
packages+=("$@")

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
