#!/usr/bin/env bash
# `zemnorvo connect` and `disconnect` against the real Claude Code program,
# installed into the build tree from the committed lock (once, and again only
# when the lock changes) and run offline in a throw-away home.
# Usage: claude_code_e2e.sh <work folder> <zemnorvo>
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
work="$1"
zemnorvo="$2"

if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "SKIPPED: node and npm are needed to run the Claude Code end-to-end test" >&2
  exit 77
fi

mkdir -p "$work"
stamp="$work/node_modules/.installed-lock.json"
exec 9>"$work/.install.lock"
flock 9
cp "$here/claude-code/package.json" "$here/claude-code/package-lock.json" "$work/"
if ! cmp -s "$work/package-lock.json" "$stamp"; then
  # The image libraries are optional and unused by the commands run here.
  (cd "$work" && npm ci --omit=optional --no-audit --no-fund --loglevel=error) >&2
  cp "$work/package-lock.json" "$stamp"
fi
flock -u 9

home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
export HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share"
export XDG_STATE_HOME="$home/.local/state" XDG_CACHE_HOME="$home/.cache"
unset CODEX_HOME CLAUDE_CONFIG_DIR
# Offline: no update checks, no telemetry, nothing the commands do not need.
export CLAUDE_CODE_DISABLE_NONESSENTIAL_TRAFFIC=1 DISABLE_AUTOUPDATER=1 DISABLE_TELEMETRY=1
# Where Claude Code's own installer puts the program, the first place searched.
mkdir -p "$home/.local/bin"
ln -s "$work/node_modules/@anthropic-ai/claude-code/cli.js" "$home/.local/bin/claude"
claude="$home/.local/bin/claude"
link="$home/.local/bin/zemnorvo"

fail() {
  echo "FAILED: $*" >&2
  exit 1
}
expect() {  # expect TEXT OUTPUT WHAT
  grep -qF -- "$1" <<<"$2" || fail "$3: no '$1' in: $2"
}

out="$("$zemnorvo" connect)" || fail "connect exited $?: $out"
expect "CLI: $link → $(readlink -f "$zemnorvo")" "$out" "connect"
expect "Claude Code: MCP server zemra-norvo added (user scope)" "$out" "connect"
expect "Claude Code: hooks added to $home/.claude/settings.json" "$out" "connect"

list="$(timeout 120 "$claude" mcp list 2>&1)" || fail "claude mcp list: $list"
grep -E -q "^zemra-norvo: .*Connected" <<<"$list" || fail "not connected: $list"
get="$(timeout 60 "$claude" mcp get zemra-norvo 2>&1)" || fail "claude mcp get: $get"
expect "Command: $link" "$get" "claude mcp get"
expect "Args: mcp" "$get" "claude mcp get"
[[ "$(grep -o "$link hook" "$home/.claude/settings.json" | wc -l)" == 3 ]] ||
  fail "three hooks expected in settings.json"
status="$("$zemnorvo" connect --status --json)"
expect '"connected":true' "$status" "status"
expect "\"claudeCLI\":\"$claude\"" "$status" "status"

out="$("$zemnorvo" disconnect)" || fail "disconnect exited $?: $out"
expect "Claude Code: MCP server removed" "$out" "disconnect"
expect "Claude Code: hooks removed" "$out" "disconnect"
if get="$(timeout 60 "$claude" mcp get zemra-norvo 2>&1)"; then
  fail "still registered after disconnect: $get"
fi
! grep -q "zemnorvo hook" "$home/.claude/settings.json" || fail "hooks left after disconnect"
[[ ! -e "$link" && ! -L "$link" ]] || fail "link left after disconnect"
status="$("$zemnorvo" connect --status --json)"
expect '"connected":false' "$status" "status after disconnect"
echo "PASSED: connect and disconnect with the real Claude Code"
