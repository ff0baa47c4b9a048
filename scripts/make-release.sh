#!/bin/sh
# Makes the release files the self-update reads, from a build folder where
# everything was built (`cmake --build BUILD_DIR`, the manual page included):
#   scripts/make-release.sh BUILD_DIR SIGNING_KEY.pem BASE_URL OUT_DIR
# OUT_DIR gets zemra-norvo-VERSION.tar.gz (the installed tree with its
# manifest, to unpack into a folder named zemra-norvo), its detached Ed25519
# signature (.sig) and version.json for BASE_URL/apps/norvo/version.json.
# The key must be the one whose public half the build compiled in
# (NORVO_RELEASE_KEY).
set -eu
build=$1 key=$2 base=$3 out=$4
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cmake --install "$build" --prefix "$stage/zemra-norvo" >/dev/null
cmake --install "$build" --prefix "$stage/zemra-norvo" --component release >/dev/null
mkdir -p "$out"
tarball="$out/zemra-norvo-$version.tar.gz"
tar -C "$stage/zemra-norvo" -czf "$tarball" .
openssl pkeyutl -sign -inkey "$key" -rawin -in "$tarball" -out "$tarball.sig"
sha=$(openssl dgst -sha256 -r "$tarball" | cut -c1-64)
printf '{"build":"%s","sha256":"%s","url":"%s/releases/zemra-norvo-%s.tar.gz","version":"%s"}\n' \
  "$version" "$sha" "$base" "$version" "$version" > "$out/version.json"
echo "release $version in $out"
