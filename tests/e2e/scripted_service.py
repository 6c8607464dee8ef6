"""A scripted compression service for the end-to-end tests.

It speaks the client's packet format on a TCP port (127.0.0.1:443 by
default): it reads the 28-byte request header and the bzip2 request body,
records them, and then lets the current test's script answer on the same
connection with 16-byte answer headers and bodies. The connection is closed
when the script returns, which ends the response.
"""

import bz2
import hashlib
import socket
import struct
import threading
import time

from listeners import ThreadedListener

# login, ip (4 bytes as sent), port, authCode, jpegLevel, padding, time, size, decompSize
REQUEST_HEADER = struct.Struct("<i4sHHH2xiII")
# size, decompSize, msg, unused, money
ANSWER_HEADER = struct.Struct("<IIH2xi")
# size, decompSize, msg, caps, money
ANSWER_HEADER_CAPS = struct.Struct("<IIHHi")

EMPTY, BZ2, NOCOMPRESS, JPG, TIMESHIFT, AUTHFAILED, NOMONEY = 0, 2, 3, 4, 5, 6, 7
END = 10
CAP_KEEPALIVE = 0x8


def md5_text(text):
    return hashlib.md5(text.encode("latin-1")).hexdigest()


def auth_code(digest, clock):
    """16-bit wrap-around sum of md5(digest + decimal clock) read as 16
    big-endian words of the hexadecimal characters' codes."""
    h = md5_text(digest + str(clock)).encode()
    total = 0
    for i in range(0, 32, 2):
        total = (total + h[i] * 256 + h[i + 1]) & 0xFFFF
    return total


def decode_request_header(raw):
    login, ip, port, auth, jpeg, clock, size, decomp = REQUEST_HEADER.unpack(raw)
    return {"login": login, "ip": socket.inet_ntoa(ip), "port": port, "auth": auth,
            "jpeg": jpeg, "time": clock, "size": size, "decomp": decomp}


def _recv_exactly(sock, n):
    data = b""
    while len(data) < n:
        try:
            chunk = sock.recv(n - len(data))
        except OSError:
            break
        if not chunk:
            break
        data += chunk
    return data


class Conversation:
    """One client connection: what the client sent and the answer tools."""

    def __init__(self, sock):
        self.sock = sock
        self.header = None      # decoded request header
        self.request = None     # decompressed request bytes
        self.arrived = None     # time.monotonic() when the header arrived
        self.replies = []       # headers the client sent after the request
        self.caps = 0           # the service's bits on every answer header
        self.ended = False      # the answer ended with END: the connection goes on
        self.connection = 0     # which connection of the service this came on
        self.accepted = None    # time.monotonic() when that connection was accepted

    def read_request(self):
        raw = _recv_exactly(self.sock, REQUEST_HEADER.size)
        if len(raw) != REQUEST_HEADER.size:
            return False
        self.arrived = time.monotonic()
        self.header = decode_request_header(raw)
        self.header["caps"] = struct.unpack("<H", raw[14:16])[0]
        body = _recv_exactly(self.sock, self.header["size"])
        self.request = bz2.decompress(body) if len(body) == self.header["size"] else None
        return self.request is not None

    def header_only(self, kind, size, decomp=0, money=0):
        self.sock.sendall(ANSWER_HEADER_CAPS.pack(size, decomp, kind, self.caps, money))

    def end(self, money=0):
        """Ends the answer as a service that keeps the connection."""
        self.caps |= CAP_KEEPALIVE
        self.header_only(END, 0, money=money)
        self.ended = True

    def packet(self, kind, body=b"", decomp=None, money=0):
        """A packet with its body; decomp defaults to the body's length."""
        if isinstance(body, str):
            body = body.encode()
        self.header_only(kind, len(body), len(body) if decomp is None else decomp, money)
        self.sock.sendall(body)

    def bz2_packet(self, content, money=0):
        """Kind 2 of content; returns the compressed length."""
        if isinstance(content, str):
            content = content.encode()
        z = bz2.compress(content, 9)
        self.packet(BZ2, z, len(content), money)
        return len(z)

    def raw(self, data):
        self.sock.sendall(data)

    def read_client_header(self, timeout=10):
        """The next 28-byte header from the client (after a time correction)."""
        self.sock.settimeout(timeout)
        raw = _recv_exactly(self.sock, REQUEST_HEADER.size)
        if len(raw) != REQUEST_HEADER.size:
            return None
        h = decode_request_header(raw)
        h["arrived"] = time.monotonic()
        self.replies.append(h)
        return h


class ScriptedService(ThreadedListener):
    """Listens on ip:port; each connection's request is read and recorded in
    ``conversations``, then ``script(conversation)`` answers it. When the
    script ended its answer with ``end()``, as a service that keeps
    connections, the next request is read from the same connection."""

    def __init__(self, ip="127.0.0.1", port=443, script=None):
        self.script = script or (lambda conv: None)
        self.conversations = []
        self.connections = 0
        self._lock = threading.Lock()
        super().__init__(ip, port)

    def handle(self, conn):
        conn.settimeout(15)
        accepted = time.monotonic()
        with self._lock:
            self.connections += 1
            number = self.connections
        try:
            while True:
                conv = Conversation(conn)
                conv.connection = number
                conv.accepted = accepted
                if not conv.read_request():
                    break
                with self._lock:
                    self.conversations.append(conv)
                self.script(conv)
                if not conv.ended:
                    break
        except OSError:
            pass
        finally:
            try:
                conn.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            conn.close()

    def count(self):
        with self._lock:
            return len(self.conversations)

    def last(self):
        with self._lock:
            return self.conversations[-1]

    def stop(self):
        super().stop(wait=True)
