#!/usr/bin/env python3
"""Small helpers for run.sh: free loopback ports, the origin's files, and a
crowd of idle browser connections.

  helpers.py ports N             print N distinct free TCP ports on 127.0.0.1
  helpers.py content DIR         write page.html, data.json, big.dat, bad.html into DIR
  helpers.py idle PORT N         open N connections to 127.0.0.1:PORT that send
                                 nothing; print "open <ok> <failed>", wait for a
                                 line on stdin, print "closed-by-server <k>",
                                 close them all and exit
"""
import json
import os
import random
import socket
import sys

# Plain English words for the page; none of them is on any keyword list the
# proxies ship, so the page passes every filter unchanged apart from additions.
WORDS = """
garden river window morning kitchen village bridge harbour market winter summer
autumn spring orchard meadow forest valley mountain station library school
teacher student letter paper pencil table chair basket bottle bread butter
cheese apple pear plum cherry lemon orange carrot onion potato tomato pepper
salt sugar flour water coffee tea milk honey garden fence gate path road street
corner square tower castle church museum theatre concert music song story
history travel journey ticket train bus bicycle boat ferry island beach shell
stone sand wave cloud rain snow wind storm sunshine evening night candle lamp
clock calendar picture painting colour green yellow purple silver golden wooden
quiet gentle bright simple careful happy early late small large little ancient
modern local useful friendly patient honest clever walk visit read write cook
bake plant grow build repair paint count listen watch learn share gather
""".split()


def ports(n):
    socks = []
    for _ in range(n):
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        socks.append(s)
    print(" ".join(str(s.getsockname()[1]) for s in socks))
    for s in socks:
        s.close()


def sentence(rng, lo, hi):
    words = [rng.choice(WORDS) for _ in range(rng.randint(lo, hi))]
    return words[0].capitalize() + " " + " ".join(words[1:]) + "."


def page(rng, title, size, links, extra_head="", extra_body=""):
    head = ("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
            f"<title>{title}</title>\n{extra_head}</head>\n<body>\n<h1>{title}</h1>\n{extra_body}")
    parts = [head]
    for i in range(links):
        parts.append(f"<p>{sentence(rng, 12, 20)}</p>\n")
        a, b, c = rng.choice(WORDS), rng.choice(WORDS), rng.choice(WORDS)
        parts.append(f"<p><a href=\"/articles/{a}-{b}-{i}.html\">{a.capitalize()} {b} {c}</a></p>\n")
    tail = "</body>\n</html>\n"
    body = "".join(parts)
    # Pad with one last paragraph so the page has exactly the size asked for.
    room = size - len(body) - len(tail) - len("<p></p>\n")
    if room < 0:
        raise SystemExit(f"page too long for {size} bytes: {len(body) + len(tail)}")
    filler = ""
    while len(filler) < room:
        filler += rng.choice(WORDS) + " "
    filler = filler[:room]
    return body + f"<p>{filler}</p>\n" + tail


def content(out):
    rng = random.Random(20261208)
    with open(os.path.join(out, "page.html"), "w") as f:
        f.write(page(rng, "Notes from the village garden", 20 * 1024, 100))
    doc = {"id": 4711, "name": "village garden", "tags": ["river", "orchard", "bridge"],
           "open": True, "visitors": [12, 40, 33, 17, 25],
           "notes": "Quiet paths, a small market on Saturday morning and a ferry to the island.",
           "updated": "2026-12-08T12:00:00Z", "rating": 4.5,
           "contact": {"email": "garden@example.org", "phone": "+44 20 7946 0000"}}
    text = json.dumps(doc) + "\n"
    with open(os.path.join(out, "data.json"), "w") as f:
        f.write(text)
    with open(os.path.join(out, "big.dat"), "wb") as f:
        f.write(random.Random(1).randbytes(1024 * 1024))
    # A page each filtering proxy should refuse: Morvane for the keyword in
    # its title, e2guardian for the weighted phrases (taken from its own stock
    # list at run time) in the body.
    mword = os.environ.get("BAD_TITLE_WORD", "")
    phrases = os.environ.get("BAD_PHRASES", "")
    body = "".join(f"<p>{p} {p} {p}</p>\n" for p in phrases.split("|") if p)
    with open(os.path.join(out, "bad.html"), "w") as f:
        f.write(page(rng, f"Garden {mword} notes ORIGIN-MARKER", 4096, 10, extra_body=body))


def idle(port, n):
    socks, failed = [], 0
    for _ in range(n):
        s = socket.socket()
        s.settimeout(5)
        try:
            s.connect(("127.0.0.1", port))
            socks.append(s)
        except OSError:
            failed += 1
            s.close()
    print(f"open {len(socks)} {failed}", flush=True)
    sys.stdin.readline()
    closed = 0
    for s in socks:
        s.setblocking(False)
        try:
            if s.recv(1) == b"":
                closed += 1
        except BlockingIOError:
            pass
        except OSError:
            closed += 1
    print(f"closed-by-server {closed}", flush=True)
    for s in socks:
        s.close()


def main():
    cmd = sys.argv[1] if len(sys.argv) > 1 else ""
    if cmd == "ports":
        ports(int(sys.argv[2]))
    elif cmd == "content":
        content(sys.argv[2])
    elif cmd == "idle":
        idle(int(sys.argv[2]), int(sys.argv[3]))
    else:
        raise SystemExit(__doc__)


if __name__ == "__main__":
    main()
