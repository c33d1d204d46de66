#!/usr/bin/env bash
# Installs dependencies, checks that the macOS build compiles and links, then
# builds and runs the whole test suite three ways: optimised, AddressSanitizer +
# UndefinedBehaviorSanitizer, and ThreadSanitizer for the parallel parts; then
# fuzzes the request decoder, the JSON writer, the getattrlistbulk reply parser
# and the /proc text parsers (30 s each).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)
run_suite() {  # name, ctest filter, cmake options...
  local name=$1 filter=$2
  shift 2
  echo "=== $name build"
  cmake -S . -B "build-$name" -G Ninja "$@" >/dev/null
  cmake --build "build-$name" -j "$jobs"
  echo "=== $name tests"
  (cd "build-$name" && ctest --output-on-failure -j "$jobs" --output-junit junit.xml ${filter:+-R "$filter"})
  # A skipped case that must run here fails the suite as a failed one would.
  python3 scripts/check_required_tests.py "build-$name/junit.xml" tests/required_tests.txt
}

# The macOS build (both architectures) against the SDK headers beside the repository.
scripts/macos_check.sh ../shared/macos-sdk build-macos

run_suite release "" -DCMAKE_BUILD_TYPE=Release
run_suite asan "" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_SANITIZE=address
TSAN_OPTIONS="halt_on_error=1" run_suite tsan "" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_SANITIZE=thread

if [[ -d fuzz ]] && ls fuzz/*.cpp >/dev/null 2>&1; then
  echo "=== fuzz build"
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQM_BUILD_TESTS=OFF -DQM_BUILD_FUZZERS=ON >/dev/null
  cmake --build build-fuzz -j "$jobs"
  scripts/fuzz.sh build-fuzz "${QM_FUZZ_SECONDS:-30}"
fi
run_ui_tests() {  # the web front end against the optimised engine, in headless Chromium
  echo "=== ui tests"
  scripts/install-ui-deps.sh --browser
  (cd ui && QUILLMARSH_ENGINE="$PWD/../build-release/quillmarsh" node --test test/)
}
run_ui_tests

echo "all test suites passed"
