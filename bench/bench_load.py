#!/usr/bin/env python3
"""Load on the client: N requests from B concurrent browsers, through the
direct road and through the service road (the real NimbrelService), in a
private network namespace. Prints, per road: answers complete and wrong,
the client's open descriptors before and after, its threads (finished
workers wait in a pool for the next connection, so they stay at most the
worker limit above the start), whether the worker counter came back to 0,
and the client's and the service's peak memory.

The counter is probed from outside: 99 silent connections take 99 of the
100 worker slots; a normal request is served at once only when no slot was
lost, and otherwise waits for a silent one's idle time-out.

  bench/bench_load.py [--client PATH] [--service PATH] [--requests N] [--browsers B]

Needs root (unshare), nginx-light and ImageMagick; defaults to build/linux.
"""

import argparse
import concurrent.futures
import os
import socket
import sys
import time

SRC = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(SRC, "tests", "e2e"))
import nbharness as h  # noqa: E402
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench_ns  # noqa: E402
import svc_common as sc  # noqa: E402

SITE = "http://%s" % sc.SITE_IP


def proc_counts(pid):
    """(open descriptors, threads) of a process."""
    return (len(os.listdir("/proc/%d/fd" % pid)), len(os.listdir("/proc/%d/task" % pid)))


def peak_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def settle(pid, start, seconds=20):
    """Waits until the counts are back at start (or seconds pass); the counts."""
    deadline = time.time() + seconds
    now = proc_counts(pid)
    while now != start and time.time() < deadline:
        time.sleep(0.2)
        now = proc_counts(pid)
    return now


def counter_back_at_zero(workers=100):
    """True when, with workers - 1 silent connections open, a request is
    served within 5 s; and the seconds it took."""
    silent = [socket.create_connection(("127.0.0.1", 4321)) for _ in range(workers - 1)]
    try:
        time.sleep(1)
        t = time.time()
        raw = h.proxy_get(SITE + "/index.html", timeout=60)
        secs = time.time() - t
        return b" 200 " in raw.split(b"\r\n", 1)[0] and secs < 5, secs
    finally:
        for s in silent:
            s.close()


def load(pages, requests, browsers):
    """(complete, wrong, seconds) of requests spread over the pages."""
    names = sorted(pages)

    def one(i):
        name = names[i % len(names)]
        try:
            raw = h.proxy_get(SITE + "/" + name, timeout=60)
        except OSError:
            return False
        status, _, body = sc.body_of(raw)
        return " 200 " in status and body == pages[name]

    t = time.time()
    with concurrent.futures.ThreadPoolExecutor(browsers) as pool:
        results = list(pool.map(one, range(requests)))
    return results.count(True), results.count(False), time.time() - t


def road(name, client, service, pages, args):
    pid = client.proc.p.pid
    h.proxy_get(SITE + "/index.html")  # the first request opens the log files
    start = proc_counts(pid)
    ok, bad, secs = load(pages, args.requests, args.browsers)
    end = settle(pid, start, 10)
    zero, probe = counter_back_at_zero()
    line = ("%-8s complete %4d/%d wrong %d in %.1f s | fds %d -> %d | threads %d -> %d | "
            "counter back at 0: %s (probe %.2f s) | client peak %.1f MiB" %
            (name, ok, args.requests, bad, secs, start[0], end[0], start[1], end[1],
             "yes" if zero else "NO", probe, peak_kib(pid) / 1024.0))
    if service is not None:
        line += " | service peak %.1f MiB" % (peak_kib(service.proc.p.pid) / 1024.0)
    print(line, flush=True)
    return ok == args.requests and start[0] == end[0] and end[1] <= start[1] + 100 and zero


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--client", default=os.path.join(SRC, "build/linux/client/NimbrelClient"))
    p.add_argument("--service", default=os.path.join(SRC, "build/linux/service/NimbrelService"))
    p.add_argument("--requests", type=int, default=1000)
    p.add_argument("--browsers", type=int, default=100)
    args = p.parse_args()
    bench_ns.enter(__file__, client=args.client, service=args.service)
    site = sc.Site()
    # Pages of one and of several answer packets, cut from the documentation.
    doc = site.file_bytes("doc.html")
    for name, size in (("page.html", 60000), ("big.html", 600000)):
        with open(os.path.join(site.root, name), "wb") as f:
            f.write((doc * (1 + size // len(doc)))[:size])
        os.chmod(os.path.join(site.root, name), 0o644)
    pages = {n: site.file_bytes(n) for n in ("index.html", "page.html", "big.html")}
    print("%d requests, %d browsers at once, pages of %s bytes" %
          (args.requests, args.browsers, ", ".join(str(len(b)) for b in pages.values())))
    held = True
    try:
        client = h.ClientInstall(ini=dict(sc.client_ini(), CompressOff=1))
        client.start()
        held &= road("direct", client, None, pages, args)
        client.stop()
        # One client address stands for all the browsers here.
        service = sc.Service(extra=("--max-per-address", str(2 * args.browsers)))
        client = sc.start_client()
        held &= road("service", client, service, pages, args)
        client.stop()
        recs = service.records()
        print("service log: %d requests, results %s" %
              (len(recs), sorted({r["result"] for r in recs})))
        service.stop()
    finally:
        site.stop()
    print("load held" if held else "LOAD NOT HELD")
    return 0 if held else 1


if __name__ == "__main__":
    sys.exit(main())
