#!/usr/bin/env bash
# The Windows stage: cross-builds the programs and every test for 64-bit
# Windows (preset windows-tests) and runs all the tests under Wine through
# ctest, in a Wine prefix of its own inside the build folder with a wineserver
# that this script starts and stops. Arguments go to ctest (-R proxy_net);
# without any, the installer is then built from the installed program folder
# and tried end to end in the same prefix (scripts/test-windows-installer.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
# Windows' windows (the Launcher's hidden window, message boxes) need a
# display under Wine: without one, the stage runs inside a virtual X server.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a "$0" "$@"
fi
jobs=$(nproc)
build=build-windows-tests
start=$SECONDS

cmake --preset windows-tests
cmake --build --preset windows-tests -j "$jobs"
built=$SECONDS

# The installed program folder is the one the Linux build installs.
dist="$PWD/$build/dist"
rm -rf "$dist"
cmake --install "$build" --prefix "$dist" > /dev/null
for f in Proxy.exe Updater.exe Launcher.exe tools/adblock-check.exe Data/config.ini www/404.htm; do
  [ -f "$dist/$f" ] || { echo "the installed program folder lacks $f" >&2; exit 1; }
done

# A fresh prefix each run, so nothing a former run left (an installed
# service, registry keys, files) reaches the tests.
export WINEPREFIX="$PWD/$build/wineprefix"
export WINEDEBUG=-all
wineserver -k 2> /dev/null || true
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
stop_wine() { wineserver -k 2> /dev/null || true; }
trap stop_wine EXIT
trap 'exit 130' INT TERM
# The prefix is made under a server of its own that ends with it: made
# under the persistent server, it was left with two service control
# managers, and a service the tests install landed in one or the other.
wineboot -i > /dev/null 2>&1
wineserver -w
# Persistent: services installed by the tests keep running between the
# manager's tools, and every further program starts warm. The manager and
# the system's services start here, so they hold no output of the tests'.
wineserver -p > /dev/null 2>&1
wineboot > /dev/null 2>&1
prepared=$SECONDS

status=0
ctest --test-dir "$build" --output-on-failure -j "$jobs" "$@" || status=$?
tested=$SECONDS
echo "Windows stage: build $((built - start)) s, Wine prefix $((prepared - built)) s, tests $((tested - prepared)) s"

# The whole run (no ctest arguments) ends with the installer, built from
# the program folder above and tried end to end in the same prefix.
if [ $# -eq 0 ]; then
  rm -f "$build/MorvaneSetup.exe"
  scripts/build-installer.sh "$dist" "$PWD/$build/MorvaneSetup.exe" || status=1
  if [ -f "$build/MorvaneSetup.exe" ]; then
    scripts/test-windows-installer.sh "$build/MorvaneSetup.exe" || status=1
  fi
  echo "Windows stage: installer built and tried in $((SECONDS - tested)) s"
fi
exit $status
