#!/usr/bin/env bash
# Installs the pinned MCP client library into the build tree (once, and again
# only when the lock file changes), then runs one end-to-end test script.
# Usage: run_e2e.sh <work folder> <script.mjs> <executable> [--as-agent]
# With --as-agent the script runs through a file named `claude`, so that the
# process tree looks like Claude Code running the server as its tool.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
work="$1"
script="$2"
executable="$3"
as_agent="${4:-}"

if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "SKIPPED: node and npm are needed to run the MCP client end-to-end test" >&2
  exit 77
fi

mkdir -p "$work"
cp "$here/package.json" "$here/package-lock.json" "$here/$script" "$work/"
stamp="$work/node_modules/.installed-lock.json"
# Two tests may install at once; the lock keeps npm from racing itself.
exec 9>"$work/.install.lock"
flock 9
if ! cmp -s "$work/package-lock.json" "$stamp"; then
  (cd "$work" && npm ci --no-audit --no-fund --loglevel=error) >&2
  cp "$work/package-lock.json" "$stamp"
fi
flock -u 9

if [[ "$as_agent" == --as-agent ]]; then
  # An extension-less entry point has to be CommonJS; it loads the ES module.
  mkdir -p "$work/agent"
  echo '{"type":"commonjs"}' >"$work/agent/package.json"
  printf 'import(require("path").join(__dirname, "..", %s));\n' "\"$script\"" >"$work/agent/claude"
  exec node "$work/agent/claude" "$executable"
fi
exec node "$work/$script" "$executable"
