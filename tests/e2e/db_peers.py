"""Peers for the service's account database tests and benchmark: a relay in
front of PostgreSQL that can fall silent without closing, a site that holds
every answer until all of them are in flight, the count of PostgreSQL
backends, and a minimal client that speaks the packet format."""

import bz2
import os
import select
import socket
import threading
import time

import nbharness as h
import scripted_service as svc
import svc_common as sc
from test_service_nodes import PG_BIN, Postgres  # noqa: F401 - used by importers

RELAY_ADDR = ("127.0.0.1", 6543)
HELD_SITE = ("127.0.0.2", 8080)


def _close_listener(sock):
    """Closes a listening socket and wakes the thread waiting in accept."""
    try:
        sock.shutdown(socket.SHUT_RDWR)
    except OSError:
        pass
    sock.close()


class SilentRelay:
    """TCP on RELAY_ADDR to PostgreSQL's Unix socket. silence() stops
    forwarding in both directions while every connection stays open, as a
    stuck relay or a partitioned network does."""

    def __init__(self, pg):
        self.target = os.path.join(pg.dir, ".s.PGSQL.5432")
        self.silent = threading.Event()
        self.stopping = threading.Event()
        self.conns = []
        self.lsock = socket.socket()
        self.lsock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.lsock.bind(RELAY_ADDR)
        self.lsock.listen(256)
        self.lsock.settimeout(0.2)
        threading.Thread(target=self._accept, daemon=True).start()

    def url(self):
        return "postgresql://postgres@%s:%d/postgres" % RELAY_ADDR

    def silence(self):
        self.silent.set()

    def _accept(self):
        while not self.stopping.is_set():
            try:
                c, _ = self.lsock.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            u = socket.socket(socket.AF_UNIX)
            u.connect(self.target)
            self.conns += [c, u]
            threading.Thread(target=self._pump, args=(c, u), daemon=True).start()
            threading.Thread(target=self._pump, args=(u, c), daemon=True).start()

    def _pump(self, src, dst):
        while not self.stopping.is_set():
            if self.silent.is_set():
                self.stopping.wait(0.2)
                continue
            ready, _, _ = select.select([src], [], [], 0.2)
            if not ready or self.silent.is_set():  # silenced while waiting: keep it
                continue
            try:
                data = src.recv(65536)
                if not data:
                    break
                dst.sendall(data)
            except OSError:
                break
        for s in (src, dst):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def stop(self):
        self.stopping.set()
        _close_listener(self.lsock)
        for s in self.conns:
            s.close()


class HeldSite:
    """An HTTP site on HELD_SITE whose answers (size bytes each) start at
    once but finish only after `expected` requests have arrived and
    release() was called."""

    def __init__(self, expected, size=256 * 1024):
        self.expected, self.size = expected, size
        self.body = os.urandom(size)  # incompressible: it leaves as it comes
        self.arrived = 0
        self.lock = threading.Lock()
        self.all_arrived = threading.Event()
        self.released = threading.Event()
        self.lsock = socket.socket()
        self.lsock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.lsock.bind(HELD_SITE)
        self.lsock.listen(512)
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                c, _ = self.lsock.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(c,), daemon=True).start()

    def _serve(self, c):
        try:
            c.settimeout(120)
            data = b""
            while b"\r\n\r\n" not in data:
                chunk = c.recv(4096)
                if not chunk:
                    return
                data += chunk
            head = ("HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n"
                    "Content-Length: %d\r\n\r\n" % self.size).encode()
            c.sendall(head + self.body[:16384])
            with self.lock:
                self.arrived += 1
                if self.arrived >= self.expected:
                    self.all_arrived.set()
            self.released.wait(120)
            c.sendall(self.body[16384:])
        except OSError:
            pass
        finally:
            c.close()

    def release(self):
        self.released.set()

    def stop(self):
        self.released.set()
        _close_listener(self.lsock)


def backends(pg):
    """Client connections PostgreSQL holds now, besides the one asking."""
    out = h.run(["runuser", "-u", "postgres", "--", os.path.join(PG_BIN, "psql"), "-h", pg.dir,
                 "-U", "postgres", "-Atc",
                 "SELECT count(*) FROM pg_stat_activity WHERE backend_type = 'client backend' "
                 "AND pid <> pg_backend_pid()"]).stdout
    return int(out.strip())


def add_account(pg, login, password, money="100000"):
    h.run([h.ARGS.service, "account", str(login), "--db", pg.url, "--password", password,
           "--money", money])


def request(login, password, ip, port, path="/"):
    """A client request for http://ip:port/path: header and bzip2 body."""
    clock = int(time.time())
    text = ("GET %s HTTP/1.0\r\nHost: %s\r\n\r\n" % (path, ip)).encode()
    body = bz2.compress(text, 9)
    return svc.REQUEST_HEADER.pack(login, socket.inet_aton(ip), port,
                                   svc.auth_code(sc.md5hex(password), clock), 1, clock,
                                   len(body), len(text)) + body


def exchange(data, timeout=60):
    """(answer content, seconds) of one request to the service on 127.0.0.1."""
    t = time.time()
    s = socket.create_connection(("127.0.0.1", sc.SERVICE_PORT), timeout=timeout)
    try:
        s.sendall(data)
        raw = h.read_all(s, timeout)
    finally:
        s.close()
    content = b""
    while len(raw) >= 16:
        size, _, kind, _ = svc.ANSWER_HEADER.unpack(raw[:16])
        chunk = raw[16:16 + size]
        content += bz2.decompress(chunk) if kind == svc.BZ2 and len(chunk) == size else chunk
        raw = raw[16 + size:]
    return content, time.time() - t
