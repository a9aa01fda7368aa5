#!/usr/bin/env bash
# Ad-block engine figures on the real EasyList and the shared URL corpus.
# The list is taken from Debian's package webext-ublock-origin-firefox (no
# copy is kept in the repository); the corpus from ../shared/adblock.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Installed by scripts/install-deps.sh; otherwise only unpacked here.
list=$(find /usr/share/mozilla/extensions -path '*thirdparties/easylist/easylist.txt' 2>/dev/null | head -n 1)
if [ -z "$list" ]; then
  (cd "$work" && apt-get download -q webext-ublock-origin-firefox >/dev/null && dpkg -x ./*.deb x)
  list=$(find "$work/x" -path '*thirdparties/easylist/easylist.txt' | head -n 1)
fi
[ -n "$list" ] || { echo "easylist.txt not found in the package" >&2; exit 1; }
cmake --preset bench >/dev/null
cmake --build build-bench --target adblock_bench
MORVANE_EASYLIST="$list" MORVANE_ADBLOCK_CORPUS="${MORVANE_ADBLOCK_CORPUS:-$PWD/../shared/adblock}" \
  build-bench/bench/adblock_bench "$@"
