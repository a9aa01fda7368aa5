#!/usr/bin/env bash
# Installs the packages, builds, installs into ./dist and runs the proxy in
# the foreground on the shipped default data. Ctrl-C stops it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release
cmake --build --preset release
rm -rf build-release/stage
cmake --install build-release --prefix "$PWD/build-release/stage"
# Programs and pages are replaced; files under Data/ that already exist hold
# the user's settings and lists and are kept.
mkdir -p dist
cp -a build-release/stage/. dist/.stage-new
for f in dist/.stage-new/*; do
  name=$(basename "$f")
  if [ "$name" = Data ]; then
    mkdir -p dist/Data
    cp -rn "$f"/. dist/Data/
  else
    rm -rf "dist/$name"
    mv "$f" "dist/$name"
  fi
done
rm -rf dist/.stage-new
exec "$PWD/dist/Proxy"
