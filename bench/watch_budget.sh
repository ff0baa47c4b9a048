#!/bin/bash
# What `zemnorvo watch` costs with 2,000 extra idle processes: processor time
# (its own, user and system, and that of the drawing program it starts) as a
# share of one core, and its resident and private memory at the end.
#
#   bench/watch_budget.sh build-bench/cli/zemnorvo [SECONDS] [nopool]
#
# It runs in a fresh home, so the first drawing also builds fontconfig's cache;
# the window starts after 30 s, once the first two drawings are done.
# `nopool` runs the loop without its build pool (no XDG_RUNTIME_DIR).
set -euo pipefail
bin=$1
secs=${2:-120}
home=$(mktemp -d)
export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share \
  XDG_STATE_HOME=$home/.local/state XDG_CACHE_HOME=$home/.cache XDG_RUNTIME_DIR=$home/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
[ "${3:-}" = nopool ] && unset XDG_RUNTIME_DIR
pids=()
cleanup() {
  kill "${pids[@]}" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$home"
}
trap cleanup EXIT
for _ in $(seq 2000); do
  sleep 100000 &
  pids+=($!)
done
"$bin" watch --quiet >/dev/null 2>&1 &
w=$!
pids+=($w)
sleep 30
# The fields after the command's closing parenthesis: the loop names itself
# "Zemra Norvo", whose space would shift a plain split.
times() { sed 's/.*) //' "/proc/$w/stat" | awk '{print $12, $13, $14 + $15}'; }
read -r u0 s0 c0 < <(times)
t0=$(date +%s.%N)
sleep "$secs"
read -r u1 s1 c1 < <(times)
t1=$(date +%s.%N)
rss=$(awk '/VmRSS/{print $2}' "/proc/$w/status")
private=$(awk '/^Private/{s += $2} END {print s}' "/proc/$w/smaps_rollup")
python3 - "$u0" "$u1" "$s0" "$s1" "$c0" "$c1" "$t0" "$t1" "$(getconf CLK_TCK)" "$rss" "$private" <<'PY'
import sys
u0, u1, s0, s1, c0, c1, t0, t1, tck = map(float, sys.argv[1:10])
rss, private = sys.argv[10:12]
share = lambda a, b: 100 * (b - a) / tck / (t1 - t0)
print(f"over {t1 - t0:.0f} s: loop {share(u0 + s0, u1 + s1):.2f} % of a core "
      f"(user {share(u0, u1):.2f}, system {share(s0, s1):.2f}), "
      f"drawing {share(c0, c1):.2f} %; resident {int(rss) / 1024:.1f} MB, "
      f"private {int(private) / 1024:.1f} MB")
PY
