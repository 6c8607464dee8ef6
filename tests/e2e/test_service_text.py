"""NimbrelClient -> NimbrelService -> nginx: text comes coded with zstd to a
client that announces it, a second page of a site comes coded against the
first, a page of many pieces comes chained, and a request without capability
bits gets today's bzip2."""

import bz2
import os
import shutil
import socket
import struct
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import db_peers  # noqa: E402
import nbharness as h  # noqa: E402
import scripted_service as svc  # noqa: E402
import svc_common as sc  # noqa: E402

SITE = "http://%s" % sc.SITE_IP


class TextCoding(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="nb-text-site-")
        os.chmod(cls.root, 0o755)
        # Two pages of one manual: the same markup and most of its text.
        for name, seed in (("one.html", 21), ("old.html", 23), ("extra.html", 22)):
            sc.make_doc_page(os.path.join(cls.root, name), size=80000, seed=seed)
        # A page of many pieces whose later parts repeat its earlier ones.
        sc.make_doc_page(os.path.join(cls.root, "big.html"), size=260000, seed=31)
        part = cls.page_of("big.html")
        with open(os.path.join(cls.root, "big.html"), "wb") as f:
            f.write(part + part.replace(b"class", b"id") + part[:60000])
        one, extra = cls.page_of("one.html"), cls.page_of("extra.html")
        with open(os.path.join(cls.root, "two.html"), "wb") as f:
            f.write(one[:40000] + extra[30000:36000] + one[40000:])
        for name in os.listdir(cls.root):
            os.chmod(os.path.join(cls.root, name), 0o644)
        cls.nginx = h.Nginx(cls.root, listen=((sc.SITE_IP, 80),))
        cls.service = sc.Service()
        cls.service.account(102, password="text-pass", money="100000")
        cls.client = sc.start_client(login=102, password_digest=sc.md5hex("text-pass"))

    @classmethod
    def tearDownClass(cls):
        cls.client.stop()
        cls.service.stop()
        cls.nginx.stop()
        shutil.rmtree(cls.root, ignore_errors=True)

    @classmethod
    def page_of(cls, name):
        with open(os.path.join(cls.root, name), "rb") as f:
            return f.read()

    def page(self, name):
        return self.page_of(name)

    def fetch(self, name):
        since = len(self.service.records())
        status, _, body = sc.body_of(h.proxy_get(SITE + "/" + name, timeout=30))
        self.assertIn(" 200 ", status)
        self.assertEqual(body, self.page(name), name)
        recs = [r for r in self.service.records()[since:] if r["dest"].startswith(sc.SITE_IP)]
        self.assertEqual(len(recs), 1, recs)
        return recs[0]

    def test_first_page_as_text2_second_against_the_first(self):
        first = self.fetch("one.html")
        self.assertIn("8", first["kinds"].split(","), first)
        second = self.fetch("two.html")
        self.assertIn("9", second["kinds"].split(","), second)
        # Coded against the site's page, the second page costs far less.
        self.assertLess(second["after"] * 2, first["after"], (first, second))
        # The client's counters still add up what the service sent.
        recs = self.service.records()
        ini = self.client.read_ini_when(lambda i: float(i.get("TotalTraffic", -1)) == float(
            sum(r["before"] for r in recs)))
        self.assertEqual(float(ini["CompressTraffic"]), float(sum(r["after"] for r in recs)))
        self.assertEqual(float(ini["TotalTraffic"]), float(sum(r["before"] for r in recs)))

    def test_service_that_forgot_the_page_sends_it_alone(self):
        self.fetch("one.html")  # the client keeps it and names it next time
        type(self).service.stop()
        type(self).service = sc.Service()
        self.service.account(102, password="text-pass", money="100000")
        second = self.fetch("two.html")
        self.assertNotIn("9", second["kinds"].split(","), second)
        self.assertIn("8", second["kinds"].split(","), second)
        # Both sides hold it now: the next page of the site is coded against it.
        self.assertIn("9", self.fetch("one.html")["kinds"].split(","))

    def test_page_of_many_pieces_comes_chained_only_to_a_client_that_takes_it(self):
        big = self.fetch("big.html")  # byte-exact
        self.assertIn("12", big["kinds"].split(","), big)
        # A client that takes zstd but not chained pieces gets today's kinds.
        data = db_peers.request(102, "text-pass", sc.SITE_IP, 80, "/big.html")
        db_peers.exchange(data[:14] + struct.pack("<H", 0x0002) + data[16:])
        kinds = self.service.records()[-1]["kinds"].split(",")
        self.assertIn("8", kinds)
        self.assertFalse(set(kinds) - {"2", "3", "8"}, kinds)

    def test_request_without_bits_gets_bzip2_and_no_bits_back(self):
        data = db_peers.request(102, "text-pass", sc.SITE_IP, 80, "/old.html")
        with socket.create_connection(("127.0.0.1", sc.SERVICE_PORT), timeout=30) as s:
            s.sendall(data)
            raw = h.read_all(s, 30)
        content, kinds = b"", []
        while len(raw) >= 16:
            size, decomp, kind = svc.ANSWER_HEADER.unpack(raw[:16])[:3]
            self.assertEqual(raw[10:12], b"\0\0")  # no bits towards an old client
            chunk = raw[16:16 + size]
            kinds.append(kind)
            content += bz2.decompress(chunk) if kind == svc.BZ2 else chunk
            raw = raw[16 + size:]
        self.assertEqual(set(kinds), {svc.BZ2}, kinds)
        self.assertTrue(content.endswith(self.page("old.html")))


if __name__ == "__main__":
    h.main()
