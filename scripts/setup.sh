#!/usr/bin/env bash
# Installs the Debian packages the build and tests need, and only those that
# are missing, so a second run costs a few dpkg queries.
set -euo pipefail

PACKAGES=(
  g++ cmake ninja-build pkg-config clang-format
  nlohmann-json3-dev libfmt-dev libcli11-dev libcurl4-openssl-dev libssl-dev
  libarchive-dev python3 openssl
  libpugixml-dev libsensors-dev libnl-3-dev libnl-genl-3-dev libglib2.0-dev
  libcairo2-dev libpango1.0-dev fonts-dejavu-core libpng-dev
  libgtest-dev libgmock-dev libbenchmark-dev help2man
  libtomlplusplus-dev
  libmicrohttpd-dev prometheus
  # The desktop companion's tests: a real notification server (dunst) on an
  # X display of its own, a private session bus, and dunstctl's dbus-send.
  dunst xvfb dbus-daemon dbus-bin
  # The tray item's tests: gdbus reads it as a host would, and waybar's tray
  # under a headless sway shows it, photographed with grim.
  libglib2.0-bin sway waybar grim
)

# The build pool's test runs a real cargo; any cargo on the PATH will do.
if ! command -v cargo >/dev/null; then
  PACKAGES+=(cargo)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

# The agent-server test drives the server with a Node.js client; any Node.js
# with npm will do, so only install Debian's when none is on the PATH.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  missing+=(nodejs npm)
fi

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}" >&2
  SUDO=()
  if [[ $(id -u) -ne 0 ]]; then SUDO=(sudo); fi
  "${SUDO[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi
