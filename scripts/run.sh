#!/usr/bin/env bash
# Installs the packages, builds, installs into ./dist and runs the proxy in
# the foreground on the shipped default data. Ctrl-C stops it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default -DMORVANE_TESTS=OFF
cmake --build --preset default
rm -rf dist/Proxy
cmake --install build --prefix "$PWD/dist"
exec "$PWD/dist/Proxy"
