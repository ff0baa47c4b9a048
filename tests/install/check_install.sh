#!/bin/sh
# Installs the build in BUILD_DIR into a temporary prefix and checks that the
# programs run from there and the manual page, unit and completions are in place.
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/zemnorvo bin/zemnorvo-draw share/man/man1/zemnorvo.1 lib/systemd/user/zemnorvo-watch.service \
         lib/systemd/system/zemnorvo-fan-helper@.service \
         share/bash-completion/completions/zemnorvo share/zsh/vendor-completions/_zemnorvo; do
  [ -e "$prefix/$f" ] || { echo "missing after install: $f"; exit 1; }
done
grep -q "^ExecStart=$prefix/bin/zemnorvo watch\$" "$prefix/lib/systemd/user/zemnorvo-watch.service" ||
  grep -q "^ExecStart=.*/bin/zemnorvo watch\$" "$prefix/lib/systemd/user/zemnorvo-watch.service" ||
  { echo "the unit does not start the installed zemnorvo"; exit 1; }
grep -q "^ExecStart=.*/bin/zemnorvo fan-helper --allow-user %i\$" \
  "$prefix/lib/systemd/system/zemnorvo-fan-helper@.service" ||
  { echo "the fan helper unit does not start the installed zemnorvo"; exit 1; }
grep -q '^\.SS stop' "$prefix/share/man/man1/zemnorvo.1" || { echo "the manual lists no commands"; exit 1; }
"$prefix/bin/zemnorvo" --version | grep -q '^zemnorvo [0-9]' || { echo "no version"; exit 1; }
"$prefix/bin/zemnorvo" widget --format text --family small >/dev/null || { echo "widget fails installed"; exit 1; }
echo "install: every file in place"
