#!/usr/bin/env python3
"""NimbrelService facing hostile clients, in a private network namespace on
loopback addresses. Each bad request must be refused or bounded, and the
service must go on serving a normal client:
  - guests while guests are off, unknown logins, wrong authentication codes;
  - oversized packet headers and a body that inflates past its declared size;
  - private destinations (loopback, private ranges, "this" network) and a
    name that resolves to loopback;
  - a client that asks for a 200 MB answer and then reads nothing.

  bench/bench_service_edge.py [--service PATH]

Needs root (unshare), nginx-light; defaults to build/linux.
"""

import argparse
import bz2
import os
import shutil
import socket
import sys
import tempfile
import time

SRC = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(SRC, "tests", "e2e"))
import nbharness as h  # noqa: E402
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench_ns  # noqa: E402
import scripted_service as svc  # noqa: E402
import svc_common as sc  # noqa: E402

LOGIN, PASSWORD = 101, "edge-pass"
DIGEST = sc.md5hex(PASSWORD)
results = []


def report(name, held, text):
    results.append(held)
    print("%-34s %s  %s" % (name, "held" if held else "NOT HELD", text), flush=True)


def packet(ip="127.0.0.2", port=80, login=LOGIN, auth=None, request=None, size=None,
           decomp=None, body=None):
    """A client request: 28-byte header and bzip2 body."""
    clock = int(time.time())
    if request is None:
        request = "GET /index.html HTTP/1.0\r\nHost: %s\r\n\r\n" % ip
    if isinstance(request, str):
        request = request.encode()
    if body is None:
        body = bz2.compress(request, 9)
    if auth is None:
        auth = svc.auth_code(DIGEST, clock)
    return svc.REQUEST_HEADER.pack(login, socket.inet_aton(ip), port, auth, 1, clock,
                                   len(body) if size is None else size,
                                   len(request) if decomp is None else decomp) + body


def exchange(data, port=443, read=True, timeout=20):
    """(answer packet kinds, content bytes, how it ended, seconds)."""
    t = time.time()
    s = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    kinds, content, end = [], b"", "closed"
    try:
        s.sendall(data)
        raw = h.read_all(s, timeout) if read else b""
    except ConnectionResetError:
        raw, end = b"", "reset"
    except OSError:
        raw, end = b"", "error"
    s.close()
    while len(raw) >= 16:
        size, decomp, kind, _ = svc.ANSWER_HEADER.unpack(raw[:16])
        kinds.append(kind)
        chunk = raw[16:16 + size]
        content += bz2.decompress(chunk) if kind == svc.BZ2 and len(chunk) == size else chunk
        raw = raw[16 + size:]
    return kinds, content, end, time.time() - t


def still_serving(port=443):
    """True when a normal request gets a whole answer at once."""
    kinds, content, _, secs = exchange(packet(), port)
    return bool(kinds) and b"HTTP/1." in content[:12] and secs < 5


class Service:
    """NimbrelService on 127.0.0.1:port with its own database; flags added."""

    def __init__(self, port, *flags):
        self.dir = tempfile.mkdtemp(prefix="nb-edge-")
        db = os.path.join(self.dir, "accounts.db")
        h.run([h.ARGS.service, "account", str(LOGIN), "--db", db, "--password", PASSWORD,
               "--money", "100000"])
        self.proc = h.Proc([h.ARGS.service, "--listen", "127.0.0.1", "--port", str(port),
                            "--db", db, "--log", os.path.join(self.dir, "service.log")] +
                           list(flags), log=os.path.join(self.dir, "output.log"))
        h.wait_port("127.0.0.1", port, proc=self.proc)

    def stop(self):
        self.proc.stop()
        shutil.rmtree(self.dir, ignore_errors=True)


def strict_service(site):
    service = Service(443, "--idle-ms", "3000", "--header-ms", "3000")
    # The strict service fetches from no private address: a normal request
    # is answered by its refusal page, which shows it is serving.
    try:
        for name, data, want in (
                ("guest while guests are off", packet(login=0), [svc.AUTHFAILED]),
                ("unknown login", packet(login=555), [svc.AUTHFAILED]),
                ("wrong authentication code", packet(auth=12345), [svc.AUTHFAILED])):
            kinds, _, _, secs = exchange(data)
            report(name, kinds == want and still_serving(),
                   "answer kinds %s in %.2f s; next client served" % (kinds, secs))
        for name, data in (
                ("packet body of 4 GB announced", packet(size=0xFFFFFFFF)),
                ("decompressed size of 4 GB", packet(decomp=0xFFFFFFFF)),
                ("body inflating past its size",
                 packet(decomp=100, body=bz2.compress(b"A" * 150000))),
                ("HTTP head of 190 KB", packet(request="GET / HTTP/1.0\r\nX: %s\r\n\r\n" %
                                               ("a" * 190000)))):
            kinds, content, end, secs = exchange(data)
            refused = not kinds or svc.AUTHFAILED in kinds or b"HTTP/1." not in content[:12] or \
                b" 200 " not in content[:16]
            report(name, refused and secs < 10 and still_serving(),
                   "answer kinds %s, connection %s after %.2f s" % (kinds, end, secs))
        before = site.nginx.access_log().count("\n")
        for ip, host in (("127.0.0.2", "127.0.0.2"), ("10.1.2.3", "10.1.2.3"),
                         ("192.168.1.1", "x"), ("0.0.0.0", "x"), ("127.0.0.2", "loop.test")):
            kinds, content, _, secs = exchange(packet(
                ip=ip, request="GET /index.html HTTP/1.0\r\nHost: %s\r\n\r\n" % host))
            report("destination %s (Host %s)" % (ip, host),
                   b" 403 " in content[:16] and still_serving(),
                   "%s in %.2f s" % (content.split(b"\r\n", 1)[0].decode("latin-1"), secs))
        after = site.nginx.access_log().count("\n")
        report("web site never reached", after == before, "%d requests reached it" %
               (after - before))
    finally:
        service.stop()


def huge_answer_unread(site):
    with open(os.path.join(site.root, "huge.bin"), "wb") as f:
        f.truncate(200 * 1024 * 1024)
    os.chmod(os.path.join(site.root, "huge.bin"), 0o644)
    service = Service(444, "--guest", "--allow-private")
    try:
        s = socket.create_connection(("127.0.0.1", 444))
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        s.sendall(packet(login=0, request="GET /huge.bin HTTP/1.0\r\nHost: 127.0.0.2\r\n\r\n"))
        time.sleep(5)
        served = [still_serving(444) for _ in range(5)]
        peak = 0
        with open("/proc/%d/status" % service.proc.p.pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    peak = int(line.split()[1]) // 1024
        s.close()
        report("200 MB asked, nothing read", all(served) and peak < 512,
               "others served %d of 5 while it waits; service peak %d MiB" %
               (sum(served), peak))
    finally:
        service.stop()


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--service", default=os.path.join(SRC, "build/linux/service/NimbrelService"))
    args = p.parse_args()
    bench_ns.enter(__file__, service=args.service)
    h.set_hosts({"loop.test": "127.0.0.2"})
    site = sc.Site()
    try:
        strict_service(site)
        huge_answer_unread(site)
    finally:
        site.stop()
    print("service held" if all(results) else "SERVICE NOT HELD")
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
