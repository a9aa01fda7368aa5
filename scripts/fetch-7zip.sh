#!/usr/bin/env bash
# Puts 7-Zip's console program for 64-bit Windows into a folder as "7z.exe",
# the name the Updater's data upgrade starts. It comes from the npm
# registry's 7zip-bin package (win/x64/7za.exe), pinned by version and by
# the program's SHA-256, and is fetched once into a cache folder.
#   scripts/fetch-7zip.sh DEST
set -euo pipefail
dest=${1:?usage: scripts/fetch-7zip.sh DEST}
version=5.2.0
sha256=b0cfdeaf429f5cc53f85123dd8f5a5feb92c19d31aa34df257edf9a26be05f95
cache="${MORVANE_CACHE:-$HOME/.cache/morvane}/7zip-bin-$version"
if [ ! -f "$cache/7za.exe" ] || ! echo "$sha256  $cache/7za.exe" | sha256sum -c --status; then
  command -v npm > /dev/null || { echo "fetch-7zip: npm is needed (scripts/install-deps.sh --for-windows)" >&2; exit 1; }
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  (cd "$work" && npm pack --silent "7zip-bin@$version" > /dev/null)
  tar -xzf "$work/7zip-bin-$version.tgz" -C "$work" package/win/x64/7za.exe
  echo "$sha256  $work/package/win/x64/7za.exe" | sha256sum -c --status ||
    { echo "fetch-7zip: 7za.exe of 7zip-bin $version does not have the expected SHA-256" >&2; exit 1; }
  mkdir -p "$cache"
  cp "$work/package/win/x64/7za.exe" "$cache/7za.exe"
fi
mkdir -p "$dest"
cp "$cache/7za.exe" "$dest/7z.exe"
