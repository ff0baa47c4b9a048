#!/bin/sh
# Installs and starts the measuring loop as a systemd user service.
# Usage: scripts/install-user-service.sh [path/to/zemnorvo]   (default: build/cli/zemnorvo)
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
binary=${1:-"$here/build/cli/zemnorvo"}
if [ ! -x "$binary" ]; then
  echo "install-user-service: no executable zemnorvo at $binary (build it first, or pass its path)" >&2
  exit 1
fi
binary=$(cd "$(dirname "$binary")" && pwd)/$(basename "$binary")
case "$binary" in
  *[[:space:]%\\]*) echo "install-user-service: the path $binary has characters a unit file cannot hold as is; move the binary" >&2; exit 1 ;;
esac
units=${XDG_CONFIG_HOME:-"$HOME/.config"}/systemd/user
mkdir -p "$units"
# sed's own special characters in the replacement are escaped.
escaped=$(printf '%s' "$binary" | sed 's/[|&]/\\&/g')
sed "s|@ZEMNORVO@|$escaped|" "$here/dist/zemnorvo-watch.service" > "$units/zemnorvo-watch.service.tmp"
mv "$units/zemnorvo-watch.service.tmp" "$units/zemnorvo-watch.service"
systemctl --user daemon-reload
systemctl --user enable --now zemnorvo-watch.service
echo "zemnorvo-watch.service is enabled and running ($binary watch)"
