#!/usr/bin/env bash
# Set up, then build and run every test: a warnings-as-errors build, the same
# tests under AddressSanitizer and UndefinedBehaviorSanitizer, and the format
# check. Set NORVO_SKIP_SANITIZE=1 for a quicker local run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

jobs=$(nproc)

echo "== format"
mapfile -t sources < <(git ls-files -co --exclude-standard -- '*.cpp' '*.hpp' | grep -v '^tests/fixtures/')
clang-format --dry-run --Werror "${sources[@]}"

echo "== tests"
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNORVO_WERROR=ON >/dev/null
cmake --build build-test -j "$jobs"
ctest --test-dir build-test --output-on-failure -j "$jobs"

if [[ "${NORVO_SKIP_SANITIZE:-0}" != 1 ]]; then
  echo "== tests under sanitizers"
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DNORVO_WERROR=ON -DNORVO_SANITIZE=ON >/dev/null
  cmake --build build-asan -j "$jobs"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs"
fi
