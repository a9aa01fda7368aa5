#!/usr/bin/env bash
# Peer benchmark of the installed Proxy against tinyproxy and e2guardian (and
# the origin alone), all on loopback, all in one run: ApacheBench through each
# forward proxy to a local nginx serving an HTML page, a JSON file and a 1 MB
# file, at concurrency 1 and 32; CPU time per request of each proxy; resident
# memory idle and with many idle browser connections open.
#
# Settings (environment):
#   N_PAGE, N_JSON, N_BIG   requests per ab run for each file (3000, 5000, 500)
#   REPS                    repetitions; the table shows medians (3)
#   IDLE_CONNS              idle connections for the memory figure (2000)
#   SKIP_BUILD=1            use the build-release tree as it is (no cmake)
#   KEEP=1                  keep the scratch folder (configs, logs, ab outputs)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
N_PAGE=${N_PAGE:-3000}
N_JSON=${N_JSON:-5000}
N_BIG=${N_BIG:-500}
REPS=${REPS:-3}
IDLE_CONNS=${IDLE_CONNS:-2000}
CONCURRENCY=${CONCURRENCY:-"1 32"}

# Every proxy must be able to hold the idle connections.
ulimit -n 8192

work=$(mktemp -d /tmp/morvane-peerbench.XXXXXX)
# nginx workers and e2guardian drop root; they must read their files here.
chmod 755 "$work"
started=()      # pids of the servers this script started, in start order
idle_pid=""

descendants() {
  local p c
  for c in $(ps -o pid= --ppid "$1" 2>/dev/null); do
    echo "$c"
    descendants "$c"
  done
}

cleanup() {
  local rc=$? i p all q n
  trap - EXIT INT TERM
  if [ -n "$idle_pid" ]; then kill -TERM "$idle_pid" 2>/dev/null || true; fi
  for ((i = ${#started[@]} - 1; i >= 0; i--)); do
    p=${started[i]}
    all="$p $(descendants "$p" | tr '\n' ' ')"
    for q in $all; do kill -TERM "$q" 2>/dev/null || true; done
    # e2guardian run with -N takes SIGTERM but does not end; it gets SIGKILL.
    for ((n = 0; n < 50; n++)); do
      alive=""
      for q in $all; do kill -0 "$q" 2>/dev/null && alive="$alive $q"; done
      [ -z "$alive" ] && break
      sleep 0.1
    done
    for q in $alive; do
      echo "pid $q ($(cat /proc/$q/comm 2>/dev/null)) still there 5 s after SIGTERM; sent SIGKILL" >&2
      kill -KILL "$q" 2>/dev/null || true
    done
    wait "$p" 2>/dev/null || true
  done
  if [ "$rc" -ne 0 ]; then
    echo "run failed (exit $rc); logs:" >&2
    for f in "$work"/logs/*; do [ -s "$f" ] && { echo "== $f" >&2; tail -n 20 "$f" >&2; }; done
  fi
  if [ "${KEEP:-0}" = 1 ]; then echo "scratch kept in $work" >&2; else rm -rf "$work"; fi
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

log() { printf '[%s] %s\n' "$(date +%H:%M:%S)" "$*" >&2; }
die() { echo "error: $*" >&2; exit 1; }

# --- build and install -------------------------------------------------------
"$repo/scripts/install-deps.sh" --for-bench
cd "$repo"
if [ "${SKIP_BUILD:-0}" != 1 ]; then
  log "building the release preset"
  cmake --preset release >/dev/null
  nice cmake --build build-release -j2
fi
cmake --install build-release --prefix "$work/dist" >/dev/null
mkdir -p "$work/logs" "$work/ab"

read -r P_NGINX P_MORV P_WEB P_TINY P_E2G <<<"$(python3 "$here/helpers.py" ports 5)"

# --- origin: nginx -------------------------------------------------------------
mkdir -p "$work/www" "$work/nginx"
# The refused page: Morvane's first ASCII block word in the title,
# e2guardian's weightiest plain phrases from its stock list in the body.
bad_word=$(grep -v '^#' "$work/dist/Data/block_words.txt" | grep -m1 -P '^[A-Za-z]+\r?$' | tr -d '\r')
bad_phrases=$(grep -h -v '^#' /etc/e2guardian/lists/phraselists/pornography/weighted |
  sed -nE 's/^< ?([a-z]+) ?><([0-9]+)>.*$/\2 \1/p' | awk '$1 >= 60 {print $2}' | head -n 3 | paste -sd'|')
[ -n "$bad_word" ] && [ -n "$bad_phrases" ] || die "no filter words found for the refused page"
BAD_TITLE_WORD=$bad_word BAD_PHRASES=$bad_phrases python3 "$here/helpers.py" content "$work/www"
chmod -R a+rX "$work/www"
cat >"$work/nginx/nginx.conf" <<EOF
worker_processes 1;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/logs/nginx.log warn;
events { worker_connections 8192; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  types { text/html html; application/json json; application/octet-stream bin; }
  default_type application/octet-stream;
  client_body_temp_path $work/nginx/tmp-body;
  proxy_temp_path $work/nginx/tmp-proxy;
  fastcgi_temp_path $work/nginx/tmp-fastcgi;
  uwsgi_temp_path $work/nginx/tmp-uwsgi;
  scgi_temp_path $work/nginx/tmp-scgi;
  server {
    listen 127.0.0.1:$P_NGINX;
    root $work/www;
  }
}
EOF
nginx -p "$work/nginx/" -c "$work/nginx/nginx.conf" -e "$work/logs/nginx.log" >>"$work/logs/nginx.log" 2>&1 &
started+=($!); PID_NGINX=$!

# --- Morvane: the installed Proxy on its shipped data, ports moved ---------------
sed -i -E "s/^proxyPort=.*/proxyPort=$P_MORV/; s/^webPort=.*/webPort=$P_WEB/" "$work/dist/Data/config.ini"
grep -q "^proxyPort=$P_MORV\$" "$work/dist/Data/config.ini" || die "proxyPort not set in config.ini"
"$work/dist/Proxy" >"$work/logs/morvane.log" 2>&1 &
started+=($!); PID_MORV=$!

# --- tinyproxy -------------------------------------------------------------------
mkdir -p "$work/tinyproxy"
cat >"$work/tinyproxy/tinyproxy.conf" <<EOF
User nobody
Group nogroup
Port $P_TINY
Listen 127.0.0.1
Timeout 600
MaxClients $((IDLE_CONNS + 100))
LogLevel Critical
PidFile "$work/tinyproxy/tinyproxy.pid"
EOF
chmod 777 "$work/tinyproxy"
tinyproxy -d -c "$work/tinyproxy/tinyproxy.conf" >"$work/logs/tinyproxy.log" 2>&1 &
started+=($!); PID_TINY=$!

# --- e2guardian: stock configuration and lists, own port, foreground, no logger ---
mkdir -p "$work/e2guardian"
chmod 777 "$work/e2guardian"
sed -E \
  -e "s|^filterip =.*|filterip = 127.0.0.1|" \
  -e "s|^filterports = .*|filterports = $P_E2G|" \
  -e "s|^nodaemon = .*|nodaemon = on|" \
  -e "s|^nologger = .*|nologger = on|" \
  -e "s|^loglevel = .*|loglevel = 0|" \
  -e "s|^#?loglocation = .*|loglocation = '$work/e2guardian/access.log'|" \
  -e "s|^#?pidfilename = .*|pidfilename = '$work/e2guardian/e2guardian.pid'|" \
  /etc/e2guardian/e2guardian.conf >"$work/e2guardian/e2guardian.conf"
# The filter group configuration is looked up beside the main one.
cp /etc/e2guardian/e2guardianf1.conf "$work/e2guardian/"
e2guardian -N -c "$work/e2guardian/e2guardian.conf" >"$work/logs/e2guardian.log" 2>&1 &
started+=($!); PID_E2G=$!

targets="Morvane tinyproxy e2guardian origin"
files="page.html data.json big.dat"
port_of() { case $1 in Morvane) echo "$P_MORV" ;; tinyproxy) echo "$P_TINY" ;; e2guardian) echo "$P_E2G" ;; origin) echo "" ;; esac; }
pid_of() { case $1 in Morvane) echo "$PID_MORV" ;; tinyproxy) echo "$PID_TINY" ;; e2guardian) echo "$PID_E2G" ;; origin) echo "$PID_NGINX" ;; esac; }
n_of() { case $1 in page.html) echo "$N_PAGE" ;; data.json) echo "$N_JSON" ;; big.dat) echo "$N_BIG" ;; esac; }

# --- wait until everyone answers, and check that the filters filter ---------------
origin="http://127.0.0.1:$P_NGINX"
wait_ok() { # name proxy-port-or-empty
  local i args=()
  [ -n "$2" ] && args=(-x "http://127.0.0.1:$2")
  for ((i = 0; i < 150; i++)); do
    if curl -s -o /dev/null -f --max-time 2 "${args[@]}" "$origin/data.json"; then return 0; fi
    sleep 0.2
  done
  die "$1 does not answer"
}
wait_ok nginx ""
wait_ok Morvane "$P_MORV"
wait_ok tinyproxy "$P_TINY"
wait_ok e2guardian "$P_E2G"
log "all servers answer (nginx $P_NGINX, Morvane $P_MORV, tinyproxy $P_TINY, e2guardian $P_E2G)"

fetch() { curl -s --max-time 10 ${1:+-x "http://127.0.0.1:$1"} "$origin/$2"; }
# One fetch of each file through each proxy: what arrives, against the origin's bytes.
contents=""
for t in Morvane tinyproxy e2guardian; do
  for f in page.html data.json big.dat; do
    fetch "$(port_of "$t")" "$f" >"$work/check.$t.$f"
    if cmp -s "$work/www/$f" "$work/check.$t.$f"; then
      contents+="$t $f: identical; "
    else
      contents+="$t $f: differs ($(wc -c <"$work/check.$t.$f") B); "
    fi
  done
done
# The refused page: each filter must answer something else than the origin's page.
checks=""
for t in Morvane tinyproxy e2guardian; do
  code=$(curl -s -o "$work/check.$t.bad.html" -w '%{http_code}' --max-time 10 -x "http://127.0.0.1:$(port_of "$t")" "$origin/bad.html")
  if grep -q ORIGIN-MARKER "$work/check.$t.bad.html"; then
    checks+="$t passes it (HTTP $code); "
  else
    checks+="$t refuses it (HTTP $code, $(wc -c <"$work/check.$t.bad.html") B); "
  fi
done
case $checks in
  *"Morvane passes"* | *"e2guardian passes"*) die "a filtering proxy passes the refused page: $checks" ;;
esac
log "filter check: $checks"

# --- measuring ---------------------------------------------------------------------
clk=$(getconf CLK_TCK)
ticks() { # total utime+stime of a process tree, threads (live and ended) included
  local p s f t=0
  for p in $1 $(descendants "$1"); do
    s=$(cat "/proc/$p/stat" 2>/dev/null) || continue
    s=${s##*) }
    read -r -a f <<<"$s"
    t=$((t + f[11] + f[12]))
  done
  echo "$t"
}
rss_kb() { # VmRSS summed over a process tree
  local p t=0 v
  for p in $1 $(descendants "$1"); do
    v=$(awk '/^VmRSS:/ {print $2}' "/proc/$p/status" 2>/dev/null) || continue
    t=$((t + ${v:-0}))
  done
  echo "$t"
}
threads() { awk '/^Threads:/ {print $2}' "/proc/$1/status"; }

mem_idle() { echo "$(rss_kb "$(pid_of "$1")")"; }
load_start=$(cut -d' ' -f1-3 /proc/loadavg)
declare -A RSS0
for t in Morvane tinyproxy e2guardian; do RSS0[$t]=$(mem_idle "$t"); done

results="$work/results.tsv"   # target file c rep rps p50 p90 p99 mean_ms doclen failed non2xx cpu_ticks n abrc
: >"$results"
total_runs=$((REPS * 4 * 3 * $(wc -w <<<"$CONCURRENCY")))
run_no=0
for ((rep = 1; rep <= REPS; rep++)); do
  for t in $targets; do
    port=$(port_of "$t"); pid=$(pid_of "$t")
    for f in $files; do
      for c in $CONCURRENCY; do
        n=$(n_of "$f")
        [ "$n" -lt "$c" ] && n=$c
        run_no=$((run_no + 1))
        out="$work/ab/$t.$f.c$c.r$rep.txt"
        args=(-n "$n" -c "$c" -H "Connection: close" -r)
        [ -n "$port" ] && args+=(-X "127.0.0.1:$port")
        before=$(ticks "$pid")
        abrc=0
        ab "${args[@]}" "$origin/$f" >"$out" 2>&1 || abrc=$?
        after=$(ticks "$pid")
        rps=$(awk '/^Requests per second:/ {print $4}' "$out")
        p50=$(awk '$1 == "50%" {print $2}' "$out")
        p90=$(awk '$1 == "90%" {print $2}' "$out")
        p99=$(awk '$1 == "99%" {print $2}' "$out")
        mean=$(awk '/^Time per request:.*\(mean\)$/ {print $4}' "$out")
        doclen=$(awk '/^Document Length:/ {print $3}' "$out")
        failed=$(awk '/^Failed requests:/ {print $3}' "$out")
        done_n=$(awk '/^Complete requests:/ {print $3}' "$out")
        non2xx=$(awk '/^Non-2xx responses:/ {print $3}' "$out")
        printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$t" "$f" "$c" "$rep" \
          "${rps:-0}" "${p50:--}" "${p90:--}" "${p99:--}" "${mean:-0}" "${doclen:--}" "${failed:-?}" \
          "${non2xx:-0}" "$((after - before))" "${done_n:-0}" "$abrc" >>"$results"
        log "[$run_no/$total_runs] rep $rep $t $f c=$c: ${rps:-?} req/s, failed ${failed:-?}, non-2xx ${non2xx:-0}, ab exit $abrc"
      done
    done
  done
done

load_end=$(cut -d' ' -f1-3 /proc/loadavg)
declare -A RSS1
for t in Morvane tinyproxy e2guardian; do RSS1[$t]=$(mem_idle "$t"); done

# --- memory with idle browser connections ------------------------------------------
declare -A RSSC CONN_INFO
for t in Morvane tinyproxy e2guardian; do
  port=$(port_of "$t"); pid=$(pid_of "$t")
  coproc IDLE { exec python3 "$here/helpers.py" idle "$port" "$IDLE_CONNS"; }
  idle_pid=$IDLE_PID
  read -r _ opened failed <&"${IDLE[0]}"
  sleep 2
  RSSC[$t]=$(rss_kb "$pid")
  th=$(threads "$pid")
  echo >&"${IDLE[1]}"
  read -r _ closed <&"${IDLE[0]}"
  wait "$idle_pid" 2>/dev/null || true
  idle_pid=""
  CONN_INFO[$t]="opened $opened, refused $failed, closed by the proxy within 2 s: $closed, threads of the main process: $th"
  sleep 2
done
declare -A RSS2
for t in Morvane tinyproxy e2guardian; do RSS2[$t]=$(mem_idle "$t"); done

# --- the table -----------------------------------------------------------------------
median() { sort -g | awk '{v[NR] = $1} END {if (NR == 0) print "-"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
col() { awk -F'\t' -v t="$1" -v f="$2" -v c="$3" -v k="$4" '$1 == t && $2 == f && $3 == c {print $k}' "$results"; }
size_of() { stat -c %s "$work/www/$1"; }

echo
echo "Proxy peer benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(uname -r)"
echo "nginx $(nginx -v 2>&1 | sed 's|.*/||') worker_processes 1; $(tinyproxy -v 2>&1); $(e2guardian -v 2>&1 | head -n 1); Morvane $(git -C "$repo" rev-parse --short HEAD)"
echo "requests per ab run: page $N_PAGE, json $N_JSON, 1MB $N_BIG; medians of $REPS runs (failed / non-2xx: sums over the runs)"
echo "load average (1/5/15 min) at the first ab run: $load_start; at the last: $load_end (other work on the machine shows here)"
echo "origin files: page.html $(size_of page.html) B (100 links), data.json $(size_of data.json) B, big.dat $(size_of big.dat) B"
echo
fmt='%-10s %-9s %3s %9s %5s %5s %5s %8s %8s %10s %9s %7s %7s\n'
printf "$fmt" proxy file c "req/s" p50 p90 p99 mean_ms "MiB/s" "cpu_us/req" body_B failed non2xx
printf "$fmt" "" "" "" "" ms ms ms "" "" "" "" "" ""
for t in $targets; do
  for f in $files; do
    for c in $CONCURRENCY; do
      rps=$(col "$t" "$f" "$c" 5 | median)
      p50=$(col "$t" "$f" "$c" 6 | median)
      p90=$(col "$t" "$f" "$c" 7 | median)
      p99=$(col "$t" "$f" "$c" 8 | median)
      mean=$(col "$t" "$f" "$c" 9 | median)
      bodies=$(col "$t" "$f" "$c" 10 | sort -u | paste -sd/)
      failed=$(col "$t" "$f" "$c" 11 | awk '{s += $1} END {print s}')
      non2xx=$(col "$t" "$f" "$c" 12 | awk '{s += $1} END {print s}')
      cpu=$(paste <(col "$t" "$f" "$c" 13) <(col "$t" "$f" "$c" 14) |
        awk -v hz="$clk" '$2 > 0 {print $1 * 1e6 / hz / $2}' | median)
      mibs="-"
      [ "$f" = big.dat ] && mibs=$(awk -v r="$rps" -v b="$(size_of big.dat)" 'BEGIN {printf "%.1f", r * b / 1048576}')
      printf "$fmt" "$t" "${f%%.*}" "$c" "$rps" "$p50" "$p90" "$p99" "$mean" "$mibs" \
        "$(printf '%.0f' "$cpu" 2>/dev/null || echo "$cpu")" "$bodies" "$failed" "$non2xx"
    done
  done
done
echo
echo "cpu_us/req: user+system CPU of the proxy's processes and threads (for origin: nginx) over the ab run / requests; clock tick $((1000000 / clk)) us"
echo
echo "resident memory (VmRSS, KiB; summed over the processes of a proxy):"
printf '%-10s %10s %12s %16s %14s\n' proxy "at start" "after load" "$IDLE_CONNS idle conns" "after closing"
for t in Morvane tinyproxy e2guardian; do
  printf '%-10s %10s %12s %16s %14s\n' "$t" "${RSS0[$t]}" "${RSS1[$t]}" "${RSSC[$t]}" "${RSS2[$t]}"
done
for t in Morvane tinyproxy e2guardian; do echo "  $t idle connections: ${CONN_INFO[$t]}"; done
echo

# --- what to look at -------------------------------------------------------------------
problems=0
orig_page=$(size_of page.html)
while IFS=$'\t' read -r t f c rep rps p50 p90 p99 mean doclen failed non2xx cpu n abrc; do
  what=""
  [ "$abrc" != 0 ] && what+="ab exited $abrc; "
  [ "$failed" != 0 ] && what+="failed $failed ($(grep -o '(Connect.*)' "$work/ab/$t.$f.c$c.r$rep.txt" || true)); "
  [ "$non2xx" != 0 ] && what+="non-2xx $non2xx; "
  exp=$(size_of "$f")
  if [ "$t" = Morvane ] && [ "$f" = page.html ]; then
    # Pages gain the injected panel and script: longer than the origin's, not by much.
    [ "$doclen" -gt "$orig_page" ] 2>/dev/null && [ "$doclen" -lt $((orig_page + 65536)) ] ||
      what+="page body $doclen B (origin $orig_page B); "
  elif [ "$doclen" != "$exp" ]; then
    what+="body $doclen B, expected $exp B; "
  fi
  if [ -n "$what" ]; then echo "CHECK $t $f c=$c run $rep: $what"; problems=$((problems + 1)); fi
done <"$results"
morv_page=$(wc -c <"$work/check.Morvane.page.html")
echo "one fetch of each file: $contents"
echo "page through Morvane: $morv_page B (origin $orig_page B)"
echo "refused page (title word of Morvane's list, phrases of e2guardian's stock list): $checks"
[ "$problems" = 0 ] && echo "all ab runs: 0 failed, 0 non-2xx, body lengths as expected"
if [ "${KEEP:-0}" = 1 ]; then echo "ab outputs in $work/ab"; fi
