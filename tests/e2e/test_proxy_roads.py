"""Which road a request takes: local, free-of-charge, incompressible and
loopback requests go directly to the site; everything else goes to the
compression service. A counting peer on the service port shows which."""

import os
import sys
import threading
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import nbharness as h  # noqa: E402
from listeners import ThreadedListener  # noqa: E402

PAGE = b"<html><body>direct road page</body></html>\n"


class CountingService(ThreadedListener):
    """Accepts on 127.0.0.1:443, counts the connections and closes them."""

    def __init__(self):
        self.count = 0
        self.lock = threading.Lock()
        super().__init__("127.0.0.1", 443, threaded=False)

    def handle(self, conn):
        with self.lock:
            self.count += 1
        conn.close()

    def connections(self):
        with self.lock:
            return self.count


def write_site(root):
    os.makedirs(root, exist_ok=True)
    for name in ("index.html", "a.zip", "a.rar", "a.mp3", "a.avi", "a.mpg", "A.ZIP"):
        with open(os.path.join(root, name), "wb") as f:
            f.write(PAGE)


class Roads(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # 192.168.50.1 is free of charge by its network; 10.77.0.5 because it
        # stands in the routing table as a gateway; 10.77.0.6 does not.
        h.add_veth_address("192.168.50.1/24")
        dev = h.add_veth_address("10.77.0.1/24")
        for ip in ("10.77.0.5", "10.77.0.6"):
            h.run(["ip", "addr", "add", ip + "/32", "dev", dev])
        h.run(["ip", "route", "add", "10.88.0.0/24", "via", "10.77.0.5"])
        cls.root = os.path.join(h.tempfile.mkdtemp(prefix="nb-roads-"), "www")
        write_site(cls.root)
        os.chmod(os.path.dirname(cls.root), 0o755)
        listen = [(ip, 80) for ip in ("127.0.0.2", "192.168.50.1", "10.77.0.5", "10.77.0.6")]
        listen.append(("127.0.0.1", 8080))
        cls.nginx = h.Nginx(cls.root, listen=listen)
        cls.service = CountingService()
        cls.client = h.ClientInstall(ini={"Port": 4321, "SettingsPort": 3344,
                                          "CompressOff": 0, "BlockingBanners": 0,
                                          "BlockingFlash": 0, "BlockingActiveX": 0})
        cls.client.start()

    @classmethod
    def tearDownClass(cls):
        cls.client.stop()
        cls.service.stop()
        cls.nginx.stop()

    def fetch(self, url):
        """(answer body or None, whether the service was contacted)."""
        before = self.service.connections()
        raw = h.proxy_get(url, timeout=20)
        body = None
        if raw:
            status, _, body = h.split_answer(raw)
            self.assertIn(" 200 ", status, raw[:300])
        return body, self.service.connections() > before

    def assertDirect(self, url):
        body, to_service = self.fetch(url)
        self.assertFalse(to_service, url)
        self.assertEqual(body, PAGE, url)

    def test_incompressible_downloads_go_direct(self):
        for name in ("a.zip", "a.rar", "a.mp3", "a.avi", "a.mpg"):
            self.assertDirect("http://127.0.0.2/" + name)
        # Upper-case ZIP is not recognised, and a page is compressed.
        for name in ("A.ZIP", "index.html"):
            _, to_service = self.fetch("http://127.0.0.2/" + name)
            self.assertTrue(to_service, name)

    def test_free_of_charge_destinations_go_direct(self):
        self.assertDirect("http://192.168.50.1/index.html")
        self.assertDirect("http://10.77.0.5/index.html")
        _, to_service = self.fetch("http://10.77.0.6/index.html")
        self.assertTrue(to_service)

    def test_local_host_goes_direct(self):
        self.assertDirect("http://127.0.0.1:8080/index.html")
        self.assertDirect("http://localhost:8080/index.html")

    def test_large_request_goes_direct(self):
        # A POST announced as 200000 bytes or more never goes to the service;
        # nginx refuses POST to a static file, which is answer enough.
        before = self.service.connections()
        body = b"x" * 250000
        req = (b"POST http://127.0.0.2/index.html HTTP/1.1\r\nHost: 127.0.0.2\r\n"
               b"Content-Type: text/plain\r\nContent-Length: %d\r\n\r\n" % len(body)) + body
        raw = h.raw_request(req, timeout=20)
        self.assertTrue(raw.startswith(b"HTTP/1.1 405"), raw[:200])
        self.assertEqual(self.service.connections(), before)


if __name__ == "__main__":
    h.main()
