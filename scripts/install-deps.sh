#!/usr/bin/env bash
# Installs what building, running and testing need on Debian 12 (run as root).
# HTTPS filtering trusts its local CA through update-ca-certificates
# (ca-certificates) and, for Chromium, certutil (libnss3-tools).
set -euo pipefail
# webext-ublock-origin-firefox carries EasyList, the ad-block list that the
# install step puts into a program folder that has none.
packages=(
  cmake ninja-build g++ pkg-config
  zlib1g-dev libcurl4-openssl-dev libssl-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  curl p7zip-full
  clang libclang-rt-14-dev
  webext-ublock-origin-firefox
  ca-certificates libnss3-tools
)
# The Windows cross build (mingw-w64, the -posix thread variant, with zlib)
# and Wine to run its tests; GoogleTest is built from Debian's sources; npm
# (with nodejs) fetches 7-Zip for Windows (scripts/fetch-7zip.sh); NSIS builds the
# installer (scripts/build-installer.sh), whose test serves pages with python3.
windows=(g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev libz-mingw-w64-dev wine wine64 googletest xvfb xauth nodejs nsis python3)
# Debian's nodejs comes without npm; a nodejs that carries its own (NodeSource's)
# conflicts with Debian's npm package.
command -v npm > /dev/null || windows+=(npm)
# The tests also drive pages in a headless browser (and compare the ad-block
# engine with the straightforward one on that EasyList). They include the
# Windows stage.
if [ "${1:-}" = "--for-tests" ]; then
  packages+=(chromium nodejs "${windows[@]}")
fi
if [ "${1:-}" = "--for-windows" ]; then
  packages+=("${windows[@]}")
fi
# The peer benchmark (bench/proxy/run.sh) runs an origin, two peer proxies and ab.
if [ "${1:-}" = "--for-bench" ]; then
  packages+=(nginx-light tinyproxy e2guardian apache2-utils python3)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
