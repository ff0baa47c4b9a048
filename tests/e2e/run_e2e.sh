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
stamp="$work/node_modules/.installed-lock.json"
# Two tests share the folder and may start at once: the copies and npm both
# run under the lock, since two cp's of one new file race each other.
exec 9>"$work/.install.lock"
flock 9
# A file the other test's node may be reading is rewritten only if it changed.
for f in package.json package-lock.json "$script"; do
  cmp -s "$here/$f" "$work/$f" || cp "$here/$f" "$work/$f"
done
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
