"""Service connections kept for several exchanges: the real client against a
scripted service that ends its answers with END (and one that closes a kept
connection under a request), and the real service's side of it."""

import os
import shutil
import socket
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import db_peers  # noqa: E402
import nbharness as h  # noqa: E402
import scripted_service as svc  # noqa: E402
import svc_common as sc  # noqa: E402

SITE = "127.0.0.2"
URL = "http://%s/page.html" % SITE


class KeptConnections(unittest.TestCase):
    port = 4600

    def setUp(self):
        KeptConnections.port += 2
        self.service = svc.ScriptedService()
        ini = {"Login": "77", "Password": svc.md5_text("secret"), "Port": str(self.port),
               "SettingsPort": str(self.port + 1), "StatSince": "1262304000"}
        self.client = h.ClientInstall(ini=ini)
        self.client.start(port=self.port)

    def tearDown(self):
        self.client.stop()
        self.service.stop()

    def get(self, path="page.html"):
        return h.proxy_get("http://%s/%s" % (SITE, path), proxy=("127.0.0.1", self.port))

    def answer_and_keep(self, conv):
        conv.caps = svc.CAP_KEEPALIVE
        conv.packet(svc.NOCOMPRESS, "answer %d" % self.service.count())
        conv.end()

    def test_two_requests_on_one_connection(self):
        self.service.script = self.answer_and_keep
        self.assertEqual(self.get(), b"answer 1")
        self.assertEqual(self.get(), b"answer 2")
        first, second = self.service.conversations[:2]
        self.assertTrue(first.header["caps"] & svc.CAP_KEEPALIVE, first.header)
        self.assertEqual(first.connection, second.connection)

    def test_closed_kept_connection_retries_a_get_but_never_a_post(self):
        def script(conv):
            # The second request on the first connection finds it closed
            # before any byte of its answer.
            if conv.connection == 1 and self.service.count() > 1:
                return
            self.answer_and_keep(conv)
        self.service.script = script
        self.assertEqual(self.get(), b"answer 1")
        self.assertEqual(self.get("again.html"), b"answer 3")
        convs = self.service.conversations
        self.assertEqual([c.connection == 1 for c in convs[:2]], [True, True])
        self.assertNotEqual(convs[2].connection, 1)
        self.assertEqual(convs[1].request, convs[2].request)
        self.assertIn(b"again.html", convs[2].request)

        # A POST on a kept connection that closes is not sent again.
        self.service.script = lambda c: (None if c.request.startswith(b"POST") else
                                         self.answer_and_keep(c))
        self.assertEqual(self.get(), b"answer 4")  # a kept connection is idle now
        before = self.service.count()
        sent_at = time.monotonic()
        body = b"x=1"
        answer = h.raw_request((
            "POST http://%s/form HTTP/1.1\r\nHost: %s\r\nContent-Length: %d\r\n\r\n" %
            (SITE, SITE, len(body))).encode() + body, "127.0.0.1", self.port)
        posts = [c for c in self.service.conversations[before:] if c.request.startswith(b"POST")]
        self.assertEqual(len(posts), 1, answer)
        self.assertLess(posts[0].accepted, sent_at, "the POST went on a kept connection")
        self.assertEqual(answer, b"")


class ServiceSide(unittest.TestCase):
    """The real service keeps a connection only for a client that asks."""

    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="nb-keep-site-")
        os.chmod(cls.root, 0o755)
        for name, text in (("a.html", b"<p>first page</p>\n" * 50), ("b.html", b"<p>two</p>\n")):
            with open(os.path.join(cls.root, name), "wb") as f:
                f.write(text)
            os.chmod(os.path.join(cls.root, name), 0o644)
        cls.nginx = h.Nginx(cls.root, listen=((sc.SITE_IP, 80),))
        cls.service = sc.Service()
        cls.service.account(103, password="keep-pass", money="100000")

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()
        cls.nginx.stop()
        shutil.rmtree(cls.root, ignore_errors=True)

    def request(self, path, caps):
        data = bytearray(db_peers.request(103, "keep-pass", sc.SITE_IP, 80, path))
        data[14:16] = caps.to_bytes(2, "little")
        return bytes(data)

    def read_answer(self, s):
        """Packets up to END (or the close): [(kind, caps, body)]."""
        packets = []
        s.settimeout(30)
        while True:
            head = svc._recv_exactly(s, 16)
            if len(head) < 16:
                return packets, "closed"
            size, _, kind, caps, _ = svc.ANSWER_HEADER_CAPS.unpack(head)
            packets.append((kind, caps, svc._recv_exactly(s, size)))
            if kind == svc.END:
                return packets, "end"

    def test_two_exchanges_on_one_connection_and_none_for_an_old_client(self):
        with socket.create_connection(("127.0.0.1", sc.SERVICE_PORT), timeout=30) as s:
            for path in ("/a.html", "/b.html"):
                s.sendall(self.request(path, svc.CAP_KEEPALIVE))
                packets, how = self.read_answer(s)
                self.assertEqual(how, "end", packets)
                self.assertEqual(packets[-1][1:], (svc.CAP_KEEPALIVE, b""))
                self.assertTrue(all(c == svc.CAP_KEEPALIVE for _, c, _ in packets), packets)
        # Each exchange's line is in the log before its END leaves.
        recs = [r for r in self.service.records() if r["dest"].startswith(sc.SITE_IP)]
        self.assertEqual([r["kinds"].split(",")[-1] for r in recs[-2:]], ["10", "10"])
        # Today's client: no END, no bits, and the connection closes.
        with socket.create_connection(("127.0.0.1", sc.SERVICE_PORT), timeout=30) as s:
            s.sendall(self.request("/a.html", 0))
            packets, how = self.read_answer(s)
        self.assertEqual(how, "closed")
        self.assertNotIn(svc.END, [k for k, _, _ in packets])
        self.assertTrue(all(c == 0 for _, c, _ in packets), packets)


if __name__ == "__main__":
    h.main()
