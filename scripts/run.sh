#!/usr/bin/env bash
# Set up, build and show this machine's status as the owner and an agent see it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DNORVO_BUILD_TESTS=OFF >/dev/null
cmake --build build --target zemnorvo
build/cli/zemnorvo status --line
exec build/cli/zemnorvo status
