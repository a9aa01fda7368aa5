#!/usr/bin/env bash
# Builds the Windows installer MorvaneSetup.exe with NSIS (makensis) from an
# installed program folder of the Windows build, adding 7-Zip's console
# program as 7z.exe with its licence.
#   scripts/build-installer.sh                 # builds and installs the 'windows' preset first
#   scripts/build-installer.sh DIST [OUTPUT]   # from a program folder made by cmake --install
# OUTPUT defaults to build-windows/MorvaneSetup.exe; MORVANE_VERSION (a.b.c.d)
# is the version the installer and Apps & Features show.
set -euo pipefail
cd "$(dirname "$0")/.."
dist=${1:-}
out=${2:-$PWD/build-windows/MorvaneSetup.exe}
version=${MORVANE_VERSION:-1.0.0.0}
command -v makensis > /dev/null || { echo "build-installer: makensis is needed (scripts/install-deps.sh --for-windows)" >&2; exit 1; }
if [ -z "$dist" ]; then
  cmake --preset windows
  cmake --build --preset windows -j "$(nproc)"
  dist=$PWD/build-windows/dist
  rm -rf "$dist"
  cmake --install build-windows --prefix "$dist" > /dev/null
fi
dist=$(cd "$dist" && pwd)
for f in Proxy.exe Updater.exe Launcher.exe tools/adblock-check.exe Data/config.ini www/param.js; do
  [ -f "$dist/$f" ] || { echo "build-installer: $dist lacks $f" >&2; exit 1; }
done
mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")

extra=$(mktemp -d)
trap 'rm -rf "$extra"' EXIT
# The programs ship without their debugging information.
cp -r "$dist" "$extra/dist"
find "$extra/dist" -name '*.exe' -exec x86_64-w64-mingw32-strip --strip-debug {} +
dist=$extra/dist
scripts/fetch-7zip.sh "$extra"
cat installer/7z-License.txt /usr/share/common-licenses/LGPL-2.1 > "$extra/7z-License.txt"

makensis -V2 -NOCD "-DDIST=$dist" "-DSEVENZIP=$extra" "-DOUTFILE=$out" "-DVERSION=$version" installer/MorvaneSetup.nsi
echo "$out: $(stat -c %s "$out") bytes"
