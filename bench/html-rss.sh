#!/usr/bin/env bash
# Peak resident memory of the installed Proxy while it relays one large
# text/html answer (plain with a length, chunked, gzip), with the time to the
# first byte and to the last as curl sees them. Everything on 127.0.0.1.
#
#   bench/html-rss.sh                  # builds the release preset of this tree
#   SOURCE=/tmp/other-tree bench/html-rss.sh   # measures another source tree
#   SIZE_MB=300 KINDS="plain chunked gzip" SKIP_BUILD=1 bench/html-rss.sh
#
# Prints one line per kind: peak VmHWM of the Proxy process (kB), bytes the
# browser got, whether they equal what the origin sent, seconds to the first
# and to the last byte.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
source_dir="${SOURCE:-$here}"
size_mb="${SIZE_MB:-300}"
kinds="${KINDS:-plain chunked gzip}"
build="$source_dir/build-release"

if [ -z "${SKIP_BUILD:-}" ]; then
  cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_TESTS=OFF > /dev/null
  cmake --build "$build" -j2 --target Proxy > /dev/null
fi

work="$(mktemp -d)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2> /dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2> /dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

cmake --install "$build" --prefix "$work/dist" > /dev/null 2>&1 ||
  { mkdir -p "$work/dist"; cp -a "$source_dir/data/." "$work/dist/"; cp "$build/proxy/Proxy" "$work/dist/"; }

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
proxy_port=$(free_port)
web_port=$(free_port)
origin_port=$(free_port)
sed -i -e "s/^proxyPort=.*/proxyPort=$proxy_port/" -e "s/^webPort=.*/webPort=$web_port/" "$work/dist/Data/config.ini"

# The origin: the same generated page for every kind; gzip is compressed once
# at start into a file (level 6, what servers use).
cat > "$work/origin.py" << 'EOF'
import http.server, socketserver, sys, zlib, os
port, size_mb, folder = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
head = b"<html><head><title>A long page</title></head><body>\n"
# One MiB of varied text, repeated: further apart than deflate's window, so the
# gzip answer compresses as ordinary text does (about 4:1), not as a bomb.
import random
rng = random.Random(7)
words = [w.encode() for w in "the of and page text news today link list index more about from with this that".split()]
parts, length = [], 0
while length < 1024 * 1024:
    if rng.random() < 0.1:
        piece = b'<a href="/%d">%s</a> ' % (rng.randrange(100000), rng.choice(words))
    else:
        piece = rng.choice(words) + (b"%d " % rng.randrange(1000) if rng.random() < 0.3 else b" ")
    parts.append(piece)
    length += len(piece)
block = b"".join(parts)[:1024 * 1024]
blocks = size_mb
plain_length = len(head) + blocks * len(block)
gz_path = os.path.join(folder, "page.gz")
z = zlib.compressobj(6, zlib.DEFLATED, 31)
with open(gz_path, "wb") as f:
    f.write(z.compress(head))
    for _ in range(blocks):
        f.write(z.compress(block))
    f.write(z.flush())
gz_length = os.path.getsize(gz_path)
with open(os.path.join(folder, "sent"), "w") as f:
    f.write("plain %d\nchunked %d\ngzip %d\n" % (plain_length, plain_length, gz_length))

class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def log_message(self, *a): pass
    def do_GET(self):
        kind = self.path.strip("/")
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Connection", "close")
        if kind == "gzip":
            self.send_header("Content-Encoding", "gzip")
            self.send_header("Content-Length", str(gz_length))
            self.end_headers()
            with open(gz_path, "rb") as f:
                while True:
                    data = f.read(1 << 20)
                    if not data: break
                    self.wfile.write(data)
        elif kind == "chunked":
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            for data in [head] + [block] * blocks:
                self.wfile.write(b"%x\r\n" % len(data) + data + b"\r\n")
            self.wfile.write(b"0\r\n\r\n")
        else:
            self.send_header("Content-Length", str(plain_length))
            self.end_headers()
            self.wfile.write(head)
            for _ in range(blocks): self.wfile.write(block)

socketserver.TCPServer.allow_reuse_address = True
with socketserver.ThreadingTCPServer(("127.0.0.1", port), Handler) as server:
    open(os.path.join(folder, "ready"), "w").close()
    server.serve_forever()
EOF
python3 "$work/origin.py" "$origin_port" "$size_mb" "$work" &
pids+=($!)
(cd "$work/dist" && exec ./Proxy > "$work/proxy.log" 2>&1) &
proxy_pid=$!
pids+=($proxy_pid)
for _ in $(seq 600); do
  [ -f "$work/ready" ] && (exec 3<> "/dev/tcp/127.0.0.1/$proxy_port") 2> /dev/null && break
  sleep 0.1
done
[ -f "$work/ready" ] || { echo "the origin did not start" >&2; exit 1; }

echo "source $source_dir, ${size_mb} MiB page"
printf '%-8s %12s %12s %10s %10s %8s\n' kind peak_kB bytes identical first_s last_s
for kind in $kinds; do
  # VmHWM is the process's peak since it started: run one kind per proxy start.
  kill "$proxy_pid" 2> /dev/null || true
  wait "$proxy_pid" 2> /dev/null || true
  (cd "$work/dist" && exec ./Proxy >> "$work/proxy.log" 2>&1) &
  proxy_pid=$!
  pids+=($proxy_pid)
  for _ in $(seq 100); do (exec 3<> "/dev/tcp/127.0.0.1/$proxy_port") 2> /dev/null && break; sleep 0.1; done
  direct=$(curl -s --noproxy '*' "http://127.0.0.1:$origin_port/$kind" --raw | sha256sum | cut -d' ' -f1)
  times=$(curl -s --raw -x "http://127.0.0.1:$proxy_port" "http://127.0.0.1:$origin_port/$kind" \
    -o "$work/got" -w '%{time_starttransfer} %{time_total}')
  peak=$(awk '/^VmHWM/ {print $2}' "/proc/$proxy_pid/status")
  got=$(stat -c %s "$work/got")
  same=no
  [ "$(sha256sum < "$work/got" | cut -d' ' -f1)" = "$direct" ] && same=yes
  printf '%-8s %12s %12s %10s %10s %8s\n' "$kind" "$peak" "$got" "$same" $times
done
