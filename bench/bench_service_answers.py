#!/usr/bin/env python3
"""NimbrelService answers under pressure, in a private network namespace on
loopback addresses:
  - silent readers: 20, then 200 clients each ask for a 30 MiB answer
    without a length and read nothing. Prints the service's peak memory
    (VmHWM) and threads while they wait, and whether the send time-out then
    freed every connection;
  - overdraft: an account holding 0.01 asks for 30 answers of 2 MiB at once.
    Prints the end balance, the answers served whole, cut and sent direct.

  bench/bench_service_answers.py [--service PATH] [--readers 20,200]

Needs root (unshare); defaults to build/linux. Takes about a minute per
silent-reader round (the send time-out is 30 s).
"""

import argparse
import bz2
import os
import re
import shutil
import socket
import sys
import tempfile
import threading
import time

SRC = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(SRC, "tests", "e2e"))
import nbharness as h  # noqa: E402
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench_ns  # noqa: E402
import scripted_service as svc  # noqa: E402
import svc_common as sc  # noqa: E402

LOGIN, PASSWORD = 101, "answers-pass"
DIGEST = sc.md5hex(PASSWORD)
SITE = ("127.0.0.2", 80)
MIB = 1024 * 1024
BLOCK = os.urandom(MIB)  # incompressible: packets are as large as they get
results = []


def report(name, held, text):
    results.append(held)
    print("%-30s %s  %s" % (name, "held" if held else "NOT HELD", text), flush=True)


class Site:
    """A web server: /silent is 30 MiB without a length, /two is 2 MiB with
    one; both in incompressible bytes. One thread per connection."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(SITE)
        self.sock.listen(512)
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            threading.Thread(target=self.serve, args=(conn,), daemon=True).start()

    def serve(self, conn):
        try:
            req = b""
            while b"\r\n\r\n" not in req:
                b = conn.recv(4096)
                if not b:
                    return
                req += b
            if req.startswith(b"GET /two "):
                body = (BLOCK * 2)
                conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                             b"Content-Length: %d\r\n\r\n" % len(body) + body)
            else:
                conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n")
                for _ in range(30):
                    conn.sendall(BLOCK)
        except OSError:
            pass
        finally:
            conn.close()

    def stop(self):
        self.sock.close()


def packet(path, login=LOGIN):
    clock = int(time.time())
    request = ("GET %s HTTP/1.0\r\nHost: %s\r\n\r\n" % (path, SITE[0])).encode()
    body = bz2.compress(request, 9)
    return svc.REQUEST_HEADER.pack(login, socket.inet_aton(SITE[0]), SITE[1],
                                   svc.auth_code(DIGEST, clock), 0, clock, len(body),
                                   len(request)) + body


class Service:
    """NimbrelService on 127.0.0.1:443 with its own database."""

    def __init__(self, money, *flags):
        self.dir = tempfile.mkdtemp(prefix="nb-answers-")
        self.db = os.path.join(self.dir, "accounts.db")
        self.log = os.path.join(self.dir, "service.log")
        h.run([h.ARGS.service, "account", str(LOGIN), "--db", self.db, "--password", PASSWORD,
               "--money", money])
        self.proc = h.Proc([h.ARGS.service, "--listen", "127.0.0.1", "--port", "443",
                            "--db", self.db, "--log", self.log, "--allow-private"] + list(flags),
                           log=os.path.join(self.dir, "output.log"))
        h.wait_port("127.0.0.1", 443, proc=self.proc)

    def status(self, field):
        with open("/proc/%d/status" % self.proc.p.pid) as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
        return 0

    def records(self):
        with open(self.log, errors="replace") as f:
            return [l for l in f if " dest=%s:" % SITE[0] in l]

    def balance(self):
        out = h.run([h.ARGS.service, "account", str(LOGIN), "--db", self.db, "--show"]).stdout
        m = re.search(r"money[=: ]+(-?[\d.]+)", out)
        return m.group(1) if m else out.strip()

    def stop(self):
        self.proc.stop()
        shutil.rmtree(self.dir, ignore_errors=True)


def silent_readers(count):
    service = Service("1000000", "--max-connections", str(count + 10),
                      "--max-per-address", str(count + 10))
    clients = []
    try:
        threads0 = service.status("Threads")
        for _ in range(count):
            s = socket.socket()
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            s.connect(("127.0.0.1", 443))
            s.sendall(packet("/silent"))
            clients.append(s)
        # Wait while the answers pile up against the clients that read
        # nothing, then until the send time-out has ended every one.
        peak_threads, start = 0, time.time()
        while time.time() - start < 90 and len(service.records()) < count:
            peak_threads = max(peak_threads, service.status("Threads"))
            time.sleep(0.5)
        ended = len(service.records())
        gone = sum("client-gone" in r for r in service.records())
        hwm = service.status("VmHWM") // 1024
        rss = service.status("VmRSS") // 1024
        threads = service.status("Threads")
        report("%d silent readers of 30 MiB" % count, hwm < 300 and ended == count,
               "peak %d MiB (now %d MiB), threads peak %d now %d (idle %d); %d of %d ended "
               "by the send time-out after %.0f s" %
               (hwm, rss, peak_threads, threads, threads0, gone, count, time.time() - start))
    finally:
        for s in clients:
            s.close()
        service.stop()


def overdraft(count=30):
    service = Service("0.01")
    ends = []
    lock = threading.Lock()

    def one():
        kinds, raw = [], b""
        try:
            with socket.create_connection(("127.0.0.1", 443), timeout=30) as s:
                s.sendall(packet("/two"))
                raw = h.read_all(s, 30)
        except OSError:
            pass
        cut = False
        while len(raw) >= 16:
            size, _, kind, _ = svc.ANSWER_HEADER.unpack(raw[:16])
            kinds.append(kind)
            body = 0 if kind == svc.NOMONEY else size
            if len(raw) - 16 < body:
                cut = True
                break
            raw = raw[16 + body:]
        with lock:
            ends.append("direct" if kinds == [svc.NOMONEY] else "cut" if cut else "whole")

    try:
        threads = [threading.Thread(target=one) for _ in range(count)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        end = service.balance()
        # One piece of 200,000 bytes costs about 0.19 at the default price.
        held = float(end) >= 0.01 - count * 0.20
        report("%d answers of 2 MiB on 0.01" % count, held,
               "end balance %s; %d whole, %d cut, %d sent direct" %
               (end, ends.count("whole"), ends.count("cut"), ends.count("direct")))
    finally:
        service.stop()


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--service", default=os.path.join(SRC, "build/linux/service/NimbrelService"))
    p.add_argument("--readers", default="20,200")
    args = p.parse_args()
    bench_ns.enter(__file__, service=args.service)
    site = Site()
    try:
        for n in args.readers.split(","):
            silent_readers(int(n))
        overdraft()
    finally:
        site.stop()
    print("service held" if all(results) else "SERVICE NOT HELD")
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
