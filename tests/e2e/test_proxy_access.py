"""Who may use the proxy and how many at once: AllowHosts masks for a remote
client, the settings-port guard, the 100-worker limit, and every worker slot
given back after many mixed requests."""

import os
import select
import socket
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import nbharness as h  # noqa: E402

PAGE = b"<html><body>access page</body></html>\n"
LAN = "10.66.0.1"      # the proxy machine's own network address
REMOTE = "10.66.0.77"  # a second address of the namespace: the remote browser


def request(url):
    host = url.split("/")[2]
    return ("GET %s HTTP/1.1\r\nHost: %s\r\nProxy-Connection: keep-alive\r\n\r\n" %
            (url, host)).encode()


def silent_connections(n):
    """n browser connections that send nothing, opened one by one so the
    acceptor counts each worker before the next arrives."""
    socks = []
    for _ in range(n):
        socks.append(socket.create_connection(("127.0.0.1", 4321)))
        time.sleep(0.01)
    time.sleep(1.0)
    return socks


def answered_within(sock, seconds):
    r, _, _ = select.select([sock], [], [], seconds)
    return bool(r)


class Access(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        dev = h.add_veth_address(LAN + "/24")
        h.run(["ip", "addr", "add", REMOTE + "/32", "dev", dev])
        cls.root = os.path.join(h.tempfile.mkdtemp(prefix="nb-access-"), "www")
        os.makedirs(cls.root)
        os.chmod(os.path.dirname(cls.root), 0o755)
        for name in ("index.html", "ad.html", "photo.jpg"):
            with open(os.path.join(cls.root, name), "wb") as f:
                f.write(PAGE)
        cls.nginx = h.Nginx(cls.root)
        cls.client = None

    @classmethod
    def tearDownClass(cls):
        cls.nginx.stop()

    def tearDown(self):
        if self.client:
            self.client.stop()
            self.client = None

    def start(self, allow=""):
        self.client = h.ClientInstall(ini={
            "Port": 4321, "SettingsPort": 3344, "CompressOff": 1, "AllowHosts": allow,
            "BlockingBanners": 1, "BlockingUrls": "ad.html;"})
        self.client.start()

    def remote_get(self, url):
        return h.raw_request(request(url), host=LAN, port=4321, timeout=10, source=REMOTE)

    def test_remote_client_admitted_only_by_a_matching_mask(self):
        url = "http://127.0.0.2/index.html"
        for allow, admitted in (("", False), ("10.66.0.7;", False), ("10.66.0.770;", False),
                                ("10.66.0.77;", True), ("10.66.0.7*;", True),
                                ("192.168.*;10.66.*;", True), ("*;", True)):
            self.start(allow)
            got = self.remote_get(url)
            self.assertEqual(got.endswith(PAGE), admitted, (allow, got[:200]))
            if not admitted:
                self.assertEqual(got, b"", allow)
            # A browser on the machine itself is always served.
            self.assertTrue(h.proxy_get(url).endswith(PAGE), allow)
            self.client.stop()
            self.client = None

    def test_settings_port_reachable_only_from_this_machine(self):
        self.start("10.66.*;")
        # Through the proxy to its own settings console.
        url = "http://127.0.0.1:3344/"
        self.assertEqual(self.remote_get(url), b"")
        self.assertTrue(h.proxy_get(url).startswith(b"HTTP/"))
        self.assertTrue(self.remote_get("http://127.0.0.2/index.html").endswith(PAGE))

    def live_request(self):
        live = socket.create_connection(("127.0.0.1", 4321))
        live.sendall(request("http://127.0.0.2/index.html"))
        return live

    def test_connections_beyond_the_limit_wait_for_a_free_worker(self):
        self.start()
        silent = silent_connections(100)
        try:
            first, second = self.live_request(), self.live_request()
            self.assertFalse(answered_within(first, 3), "served with 100 workers busy")
            silent.pop().close()
            silent.pop().close()
            for live in (first, second):
                self.assertTrue(answered_within(live, 10), "not served after workers ended")
                self.assertTrue(h.read_all(live, 10).endswith(PAGE))
                live.close()
        finally:
            for s in silent:
                s.close()

    def test_silent_browsers_free_their_workers(self):
        # 100 browsers that connect and say nothing hold every worker only
        # until the idle time-out (30 s) ends their reads.
        self.start()
        silent = silent_connections(100)
        try:
            first, second = self.live_request(), self.live_request()
            self.assertTrue(answered_within(second, 60), "silent browsers kept their workers")
            for live in (first, second):
                self.assertTrue(h.read_all(live, 10).endswith(PAGE))
                live.close()
            for s in silent:
                s.settimeout(10)
                self.assertEqual(s.recv(100), b"")
        finally:
            for s in silent:
                s.close()

    def test_every_worker_slot_is_given_back(self):
        self.start()
        mixed = [
            request("http://127.0.0.2/index.html"),      # served
            request("http://127.0.0.2/missing.html"),    # 404 from the site
            request("http://127.0.0.2/ad.html"),         # banner: refused
            request("http://nosuch.invalid/"),           # unknown host
            request("http://127.0.0.2/photo.jpg")[:-2] + b"If-None-Match: \"a\"\r\n\r\n",
            request("http://127.0.0.9/index.html"),      # nobody listens there
            b"CONNECT 127.0.0.2:443 HTTP/1.1\r\n\r\n",   # other method
            b"GET http://127.0.0.2/ HTTP/1.1\r\n\r\n",   # no Host header
            b"GET http://127.0.0.2/index.html HTTP/1.1\r\nHo",  # browser gives up
        ]
        for i in range(200):
            req = mixed[i % len(mixed)]
            s = socket.create_connection(("127.0.0.1", 4321))
            s.sendall(req)
            if not req.endswith(b"Ho"):
                h.read_all(s, 10)
            s.close()
        time.sleep(1.0)
        # With every slot back, 99 silent browsers still leave room for one
        # more, served at once.
        silent = silent_connections(99)
        try:
            live = self.live_request()
            self.assertTrue(answered_within(live, 10), "a worker slot was lost")
            self.assertTrue(h.read_all(live, 10).endswith(PAGE))
            live.close()
        finally:
            for s in silent:
                s.close()


if __name__ == "__main__":
    h.main()
