#!/usr/bin/env bash
# Installs the pinned MCP client library into the build tree (once, and again
# only when the lock file changes), then runs the end-to-end test against the
# given server executable.
# Usage: run_e2e.sh <work folder> <server executable>
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
work="$1"
server="$2"

if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "SKIPPED: node and npm are needed to run the MCP client end-to-end test" >&2
  exit 77
fi

mkdir -p "$work"
cp "$here/package.json" "$here/package-lock.json" "$here/mcp_sdk_e2e.mjs" "$work/"
stamp="$work/node_modules/.installed-lock.json"
if ! cmp -s "$work/package-lock.json" "$stamp"; then
  (cd "$work" && npm ci --no-audit --no-fund --loglevel=error) >&2
  cp "$work/package-lock.json" "$stamp"
fi
exec node "$work/mcp_sdk_e2e.mjs" "$server"
