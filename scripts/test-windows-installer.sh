#!/usr/bin/env bash
# The installed system end to end under Wine: MorvaneSetup.exe installs
# silently over a user's own settings, the service runs and filters pages of
# a loopback origin for curl, blocks a listed site, takes the reload message,
# stops in time and writes its host cache; an upgrade keeps the user's files
# and the remembered proxy settings; the uninstaller removes the service and
# the programs, restores this user's proxy settings and keeps or removes
# Data\ as asked.
#   scripts/test-windows-installer.sh SETUP.exe
# Runs inside the prefix of scripts/test-windows.sh ($WINEPREFIX, with its
# persistent wineserver running), which calls it after the tests.
set -euo pipefail
setup=$(cd "$(dirname "${1:?usage: scripts/test-windows-installer.sh SETUP.exe}")" && pwd)/$(basename "$1")
: "${WINEPREFIX:?run inside the Wine prefix of scripts/test-windows.sh}"
export WINEDEBUG=-all
start=$SECONDS

folder_win='C:\Program Files\Morvane'
folder="$WINEPREFIX/drive_c/Program Files/Morvane"
inet='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings'
saved='HKCU\Software\Morvane\Previous proxy settings'
event_source='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Proxy'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Morvane'

work=$(mktemp -d /tmp/morvane-installer.XXXXXX)
origin_pid=
cleanup() {
  [ -n "$origin_pid" ] && kill "$origin_pid" 2> /dev/null || true
  # A failed run leaves no service behind in the prefix.
  wine net stop Proxy < /dev/null > /dev/null 2>&1 || true
  wine sc delete Proxy < /dev/null > /dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "installer stage: $*" >&2
  exit 1
}
pass() { echo "  ok: $*"; }

# Wine's programs read no input; without </dev/null they wait on a pipe.
w() { wine "$@" < /dev/null; }
# One registry value's data as reg prints it ("" and status 1 when absent).
reg_value() {
  local line
  line=$(w reg query "$1" /v "$2" 2> /dev/null | tr -d '\r' | grep -E "^ +$2 +REG_") || return 1
  echo "$line" | sed -E "s/^ +$2 +REG_[A-Z_]+ +//"
}
key_exists() { w reg query "$1" > /dev/null 2>&1; }
service_state() { w sc query Proxy 2> /dev/null | tr -d '\r' | sed -nE 's/^ *STATE *: *[0-9]+ +([A-Z_]+).*/\1/p'; }
# Waits for a condition (a command) at most $1 seconds.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.2
  done
}
service_is() { [ "$(service_state)" = "$1" ]; }
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
# A page fetched through the proxy.
through_proxy() { curl -s --max-time 20 -x "http://127.0.0.1:$proxy_port" "$1"; }
serves() { curl -s -o /dev/null --max-time 5 -x "http://127.0.0.1:$proxy_port" "http://localhost:$origin_port/page.html"; }
blocked() { through_proxy "$1" | grep -q 'Blocked</title>'; }
# An installer that shows its pages (a switch not taken) would wait for a
# click: every run has a time limit.
run_setup() { timeout 120 wine "$setup" "$@" < /dev/null; }
# The uninstaller runs from a copy outside the program folder, as it does
# when Windows starts it, but waited for (_?=) so its exit code counts.
# _?= must stand last and unquoted, so cmd passes the line on as it is
# (Wine quotes a program's arguments, and cmd takes no quotes inside; the
# copy's path has no blank).
run_uninstaller() {
  cp "$folder/uninstall.exe" "$work/uninstall.exe"
  timeout 120 wine cmd /c "$(winepath -w "$work/uninstall.exe" 2> /dev/null) /S $* _?=$folder_win" < /dev/null
}

# Nothing of an earlier install in the prefix.
[ ! -e "$folder" ] || fail "$folder exists before the install"
[ -z "$(service_state)" ] || fail "a service Proxy exists before the install"

# The user's own settings and lists from an earlier install, on ports of
# this run; the installer must keep them.
proxy_port=$(free_port)
web_port=$(free_port)
origin_port=$(free_port)
while [ "$web_port" = "$proxy_port" ]; do web_port=$(free_port); done
while [ "$origin_port" = "$proxy_port" ] || [ "$origin_port" = "$web_port" ]; do origin_port=$(free_port); done
mkdir -p "$folder/Data"
printf '[Proxy]\r\nproxyPort=%s\r\nwebPort=%s\r\nadBlock=1\r\n' "$proxy_port" "$web_port" > "$work/config.ini"
printf 'blocked.test\r\n' > "$work/user_black.txt"
cp "$work/config.ini" "$work/user_black.txt" "$folder/Data/"
# This user's proxy settings before the install.
w reg add "$inet" /v ProxyEnable /t REG_DWORD /d 0 /f > /dev/null
w reg add "$inet" /v ProxyServer /d 10.1.2.3:3128 /f > /dev/null
w reg delete "$inet" /v ProxyOverride /f > /dev/null 2>&1 || true

# A loopback origin with a page that holds a link the product's keywords
# condemn and one they do not.
mkdir -p "$work/origin"
printf '<html><head><title>Origin page</title></head><body><p>origin body</p><a href="/a">porn pictures</a> <a href="/b">garden tools</a></body></html>' > "$work/origin/page.html"
python3 -m http.server --bind 127.0.0.1 --directory "$work/origin" "$origin_port" > /dev/null 2>&1 &
origin_pid=$!

echo "installer stage: $(basename "$setup") ($(stat -c %s "$setup") bytes), proxy port $proxy_port"

# --- silent install ---
status=0
run_setup /S || status=$?
[ $status -eq 0 ] || fail "the silent install exited with $status"
for f in Proxy.exe Updater.exe Launcher.exe 7z.exe 7z-License.txt uninstall.exe tools/adblock-check.exe \
  www/404.htm www/AddressFilter.html www/param.js Data/black_domains.txt Data/block_words.txt Data/Control.html \
  Data/easylistchina.txt; do
  [ -f "$folder/$f" ] || fail "the install lacks $f"
done
cmp -s "$work/config.ini" "$folder/Data/config.ini" || fail "the install overwrote the user's Data\\config.ini"
cmp -s "$work/user_black.txt" "$folder/Data/user_black.txt" || fail "the install overwrote the user's Data\\user_black.txt"
pass "programs, pages and shipped lists installed; the user's settings and lists kept"

[ "$(reg_value "$uninstall_key" DisplayName)" = Morvane ] || fail "no Apps & Features entry"
[ "$(reg_value "$uninstall_key" UninstallString)" = "\"$folder_win\\uninstall.exe\"" ] ||
  fail "the Apps & Features entry names no uninstaller: $(reg_value "$uninstall_key" UninstallString)"
[ "$(reg_value "$event_source" EventMessageFile)" = "$folder_win\\Proxy.exe" ] ||
  fail "the event source Proxy is not registered with Proxy.exe as its message file"
[ "$(reg_value "$event_source" TypesSupported)" = 0x7 ] || fail "the event source's types are not registered"
# What the Event Viewer reads from that file: message 0 shows the event's text.
x86_64-w64-mingw32-windres -i "$folder/Proxy.exe" -O rc 2> /dev/null | tr -d '\r' |
  grep -A2 'MessageId = 0x0$' | grep -qxF '   %1%0\n\000' ||
  fail "the installed Proxy.exe has no message 0 that shows the event's text"
pass "Apps & Features entry, event source and its message table"

[ "$(reg_value "$inet" ProxyEnable)" = 0x1 ] || fail "this user's proxy is not switched on"
[ "$(reg_value "$inet" ProxyServer)" = "127.0.0.1:$proxy_port" ] ||
  fail "this user's proxy is $(reg_value "$inet" ProxyServer), not the port of Data\\config.ini"
[ "$(reg_value "$inet" ProxyOverride)" = "<local>" ] || fail "local addresses do not bypass the proxy"
pass "this user's browsers point at 127.0.0.1:$proxy_port"

wait_for 30 service_is RUNNING || fail "the service is $(service_state), not RUNNING"
wait_for 30 serves || fail "the proxy does not serve the origin's page"
pass "the service Proxy is RUNNING"

# --- the installed service at work ---
page=$(through_proxy "http://localhost:$origin_port/page.html")
grep -q 'origin body' <<< "$page" || fail "the origin's page did not come through: $page"
grep -q 'garden tools' <<< "$page" || fail "an innocent link was removed"
! grep -q 'porn pictures' <<< "$page" || fail "the page was not filtered"
grep -q '__zelk_panel' <<< "$page" || fail "the control panel was not injected"
pass "a page through the proxy is filtered and carries the control panel"

blocked http://blocked.test/ || fail "a site of the user's block list was not blocked"
pass "a listed site is blocked"

# The reload message: a site added to the list is blocked from then on.
printf 'localhost\r\n' >> "$folder/Data/user_black.txt"
printf ZELK_UPDATE > "/dev/tcp/127.0.0.1/$proxy_port"
wait_for 10 blocked "http://localhost:$origin_port/page.html" || fail "the reload message did not take the new list"
pass "the reload message brings in the changed list"

# Failures of the service go to the event log. Wine's log keeps nothing
# but traces each event: started from a prompt, the dispatcher fails and
# the program reports that to the source Proxy.
trace=$(cd "$folder" && WINEDEBUG=trace+eventlog wine ./Proxy.exe < /dev/null 2>&1 > /dev/null | tr -d '\r' || true)
grep -q 'ReportEventW.*Register Service Main Function Error!' <<< "$trace" ||
  fail "started from a prompt, Proxy.exe wrote no event: $trace"
pass "started from a prompt, Proxy.exe writes its event"

[ ! -e "$folder/host.dat" ] || fail "host.dat exists before the first stop"
before=$(date +%s%N)
w net stop Proxy > /dev/null || fail "net stop Proxy failed"
stop_ms=$((($(date +%s%N) - before) / 1000000))
[ "$(service_state)" = STOPPED ] || fail "after net stop the service is $(service_state)"
[ $stop_ms -le 3000 ] || fail "net stop took $stop_ms ms"
[ -s "$folder/host.dat" ] || fail "the stop wrote no host.dat"
! serves || fail "the proxy still serves after the stop"
pass "net stop Proxy took $stop_ms ms, host.dat written"

# --- upgrade over the running service, without touching the proxy settings,
# started as the Updater starts a downloaded release ---
w net start Proxy > /dev/null || fail "net start Proxy failed"
printf '\r\n' >> "$folder/Data/user_black.txt"
cp "$folder/Data/user_black.txt" "$work/user_black.txt"
status=0
run_setup /SILENT /PROXY=0 || status=$?
[ $status -eq 0 ] || fail "the upgrade exited with $status"
cmp -s "$work/config.ini" "$folder/Data/config.ini" || fail "the upgrade overwrote Data\\config.ini"
cmp -s "$work/user_black.txt" "$folder/Data/user_black.txt" || fail "the upgrade overwrote Data\\user_black.txt"
[ "$(reg_value "$saved" ProxyServer)" = 10.1.2.3:3128 ] || fail "the upgrade lost the remembered proxy settings"
wait_for 30 service_is RUNNING || fail "after the upgrade the service is $(service_state)"
wait_for 30 blocked "http://localhost:$origin_port/page.html" || fail "after the upgrade the proxy does not serve"
pass "an upgrade over the running service keeps the user's files and the remembered settings"

# --- uninstall, keeping the user's files ---
status=0
run_uninstaller || status=$?
[ $status -eq 0 ] || fail "the silent uninstall exited with $status"
[ -z "$(service_state)" ] || fail "the service Proxy is still there ($(service_state))"
left=$(cd "$folder" && find . -path ./Data -prune -o -type f -print)
[ -z "$left" ] || fail "the uninstall left program files: $left"
cmp -s "$work/config.ini" "$folder/Data/config.ini" || fail "the uninstall did not keep Data\\config.ini"
cmp -s "$work/user_black.txt" "$folder/Data/user_black.txt" || fail "the uninstall did not keep Data\\user_black.txt"
! key_exists "$uninstall_key" || fail "the Apps & Features entry is still there"
! key_exists "$event_source" || fail "the event source is still registered"
[ "$(reg_value "$inet" ProxyEnable)" = 0x0 ] || fail "ProxyEnable is not restored: $(reg_value "$inet" ProxyEnable)"
[ "$(reg_value "$inet" ProxyServer)" = 10.1.2.3:3128 ] || fail "ProxyServer is not restored: $(reg_value "$inet" ProxyServer)"
! reg_value "$inet" ProxyOverride > /dev/null || fail "ProxyOverride, absent before, was left behind"
! key_exists "$saved" || fail "the remembered settings were left behind"
! serves || fail "the proxy still serves after the uninstall"
pass "uninstalled: no service, no program files, Data\\ kept, proxy settings restored"

# --- install without the proxy settings, uninstall with the user's files ---
status=0
run_setup /S /PROXY=0 || status=$?
[ $status -eq 0 ] || fail "the install with /PROXY=0 exited with $status"
[ "$(reg_value "$inet" ProxyServer)" = 10.1.2.3:3128 ] || fail "/PROXY=0 changed this user's proxy"
! key_exists "$saved" || fail "/PROXY=0 remembered settings it did not change"
wait_for 30 service_is RUNNING || fail "the reinstalled service is $(service_state)"
status=0
run_uninstaller /KEEPDATA=0 || status=$?
[ $status -eq 0 ] || fail "the silent uninstall with /KEEPDATA=0 exited with $status"
[ ! -e "$folder" ] || fail "/KEEPDATA=0 left $(cd "$folder" && find . -type f)"
[ -z "$(service_state)" ] || fail "the service Proxy is still there"
[ "$(reg_value "$inet" ProxyServer)" = 10.1.2.3:3128 ] || fail "an uninstall after /PROXY=0 changed this user's proxy"
pass "/PROXY=0 leaves the proxy settings alone; /KEEPDATA=0 removes the whole folder"

echo "installer stage: passed in $((SECONDS - start)) s"
