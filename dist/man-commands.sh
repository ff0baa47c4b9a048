#!/bin/sh
# Writes a help2man include file with the help of every zemnorvo command, so
# that the manual page lists each command's options as --help shows them.
# usage: man-commands.sh ZEMNORVO OUTPUT
set -eu
zemnorvo=$1
out=$2
{
  echo "[COMMANDS]"
  for cmd in status advice sensors ps explain suggestions answer stop watch config metrics widget mcp hook disk apps uninstall cleanup fans fan-helper updates self-update \
    connect disconnect; do
    echo ".SS $cmd"
    echo ".nf"
    "$zemnorvo" "$cmd" --help 2>/dev/null | sed 's/\\/\\\\/g; s/^\./\\\&./' || true
    echo ".fi"
  done
} > "$out.tmp"
mv "$out.tmp" "$out"
