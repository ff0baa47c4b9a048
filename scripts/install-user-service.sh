#!/bin/sh
# Usage: scripts/install-user-service.sh [path/to/zemnorvo]   (default: build/cli/zemnorvo)
exec "${1:-$(dirname "$0")/../build/cli/zemnorvo}" service install
