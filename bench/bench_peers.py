#!/usr/bin/env python3
"""Slow, silent and cutting peers of the client, in a private network
namespace. Prints what each case did and whether it held:
  - 99 silent browsers and one sending a byte a second hold every worker
    slot; a normal browser must still be served within the idle time-out,
    and the slow one must lose its connection at its head deadline;
  - a web site, an upstream proxy and the service cut their answers, the
    service also sends random bytes: the browser's connection must end with
    a reset, never as a complete answer, and no traffic may be counted for
    a packet that never arrived whole.

  bench/bench_peers.py [--client PATH]

Needs root (unshare); defaults to build/linux.
"""

import argparse
import os
import random
import socket
import sys
import threading
import time

SRC = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(SRC, "tests", "e2e"))
import nbharness as h  # noqa: E402
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench_ns  # noqa: E402
import scripted_service as svc  # noqa: E402
import svc_common as sc  # noqa: E402

IDLE_S = 30  # the client's idle time-out and head deadline for browsers
results = []


def report(name, held, text):
    results.append(held)
    print("%-34s %s  %s" % (name, "held" if held else "NOT HELD", text), flush=True)


def fetch(url, timeout=60):
    """(bytes, how the connection ended: closed, reset or timeout)."""
    s = socket.create_connection(("127.0.0.1", 4321), timeout=timeout)
    hostport = url.split("/")[2]
    s.sendall(("GET %s HTTP/1.1\r\nHost: %s\r\n\r\n" % (url, hostport)).encode())
    data, end = b"", "closed"
    try:
        while True:
            b = s.recv(65536)
            if not b:
                break
            data += b
    except ConnectionResetError:
        end = "reset"
    except socket.timeout:
        end = "timeout"
    s.close()
    return data, end


def slow_and_silent():
    slow_end = {}

    def slowloris():
        s = socket.create_connection(("127.0.0.1", 4321))
        t, sent = time.time(), 0
        try:
            for ch in b"GET http://127.0.0.2/index.html HTTP/1.1\r\nHost: 127.0.0.2\r\n" * 4:
                s.sendall(bytes([ch]))
                sent += 1
                s.settimeout(1)
                try:
                    if s.recv(1) == b"":
                        break
                except socket.timeout:
                    pass
        except OSError:
            pass
        slow_end["secs"], slow_end["bytes"] = time.time() - t, sent
        s.close()

    site = h.RecordingSite("127.0.0.2", 80, lambda req: h.http_response("normal page"))
    slow = threading.Thread(target=slowloris)
    slow.start()
    silent = [socket.create_connection(("127.0.0.1", 4321)) for _ in range(99)]
    time.sleep(1)
    t = time.time()
    raw, _ = fetch("http://127.0.0.2/index.html", timeout=IDLE_S * 3)
    served = time.time() - t
    for s in silent:
        s.close()
    slow.join()
    site.stop()
    report("100 silent/slow, normal browser", raw.endswith(b"normal page") and served < IDLE_S + 5,
           "served after %.1f s (idle time-out %d s)" % (served, IDLE_S))
    report("slowloris, 1 byte/s", slow_end["secs"] < IDLE_S + 5,
           "closed after %.1f s, %d bytes sent" % (slow_end["secs"], slow_end["bytes"]))


def cut_site():
    body = b"x" * 100000
    site = h.RecordingSite("127.0.0.3", 80, lambda req: [
        b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body), body[:40000]])
    try:
        data, end = fetch("http://127.0.0.3/cut.html")
    finally:
        site.stop()
    got = len(data.partition(b"\r\n\r\n")[2])
    report("site cuts at 40000 of 100000", end == "reset",
           "browser got %d body bytes, connection %s" % (got, end))


def cut_proxy():
    """An upstream proxy that cuts its answer; the client on the direct road."""
    body = b"z" * 100000
    # The client tunnels through it: the tunnel opens, the site's answer is cut.
    proxy = h.RecordingSite("127.0.0.4", 3128, lambda req: [
        b"HTTP/1.0 200 Connection established\r\n\r\n",
        b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body) + body[:30000]],
        gap=0.5)
    client = h.ClientInstall(ini=dict(sc.client_ini(), CompressOff=1, ProxyName="127.0.0.4",
                                      ProxyPort=3128))
    client.start()
    try:
        data, end = fetch("http://127.0.0.5/cut.html")
    finally:
        client.stop()
        proxy.stop()
    got = len(data.partition(b"\r\n\r\n")[2])
    report("upstream proxy cuts at 30000", end == "reset",
           "browser got %d body bytes, connection %s, proxy saw %s" %
           (got, end, [r.split(b" ", 1)[0].decode() for r in proxy.requests]))


def cut_service(client):
    cases = {
        "service cuts a packet body": lambda c: (c.header_only(svc.NOCOMPRESS, 5000, 5000),
                                                 c.raw(b"y" * 2000)),
        "service cuts a header": lambda c: c.raw(svc.ANSWER_HEADER.pack(10, 10, 3, 0)[:9]),
        "service sends random bytes": lambda c: c.raw(random.Random(7).randbytes(4096)),
    }
    for name, script in cases.items():
        service = svc.ScriptedService(script=script)
        try:
            before = client.read_ini().get("TotalTraffic")
            data, end = fetch("http://127.0.0.2/page.html")
            # Counted traffic reaches the file within the 2 s flush period.
            after = client.read_ini_when(lambda i: i.get("TotalTraffic") != before,
                                         timeout=3).get("TotalTraffic")
        finally:
            service.stop()
        # A cut answer ends in a reset; random bytes may hold a packet that
        # fits, which then is content and counted.
        counted = before != after
        held = end == "reset" and (not counted or "random" in name)
        report(name, held, "browser got %d bytes, connection %s, traffic %s -> %s" %
               (len(data), end, before, after))


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--client", default=os.path.join(SRC, "build/linux/client/NimbrelClient"))
    args = p.parse_args()
    bench_ns.enter(__file__, client=args.client)

    client = h.ClientInstall(ini=dict(sc.client_ini(), CompressOff=1))
    client.start()
    try:
        slow_and_silent()
        cut_site()
    finally:
        client.stop()
    cut_proxy()
    client = sc.start_client()
    try:
        cut_service(client)
    finally:
        client.stop()
    print("peers held" if all(results) else "PEERS NOT HELD")
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
