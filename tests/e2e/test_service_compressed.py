"""Chromium -> NimbrelClient -> NimbrelService -> nginx: pages and photos
arrive through the compressed road, and the client's statistics match what
the service sent."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import nbharness as h  # noqa: E402
import svc_common as sc  # noqa: E402

SITE = "http://%s" % sc.SITE_IP


class CompressedRoad(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.site = sc.Site()
        cls.service = sc.Service()
        cls.service.account(101, password="road-pass", money="100000")
        cls.digest = sc.md5hex("road-pass")

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()
        cls.site.stop()

    def setUp(self):
        self.client = None

    def tearDown(self):
        if self.client:
            self.client.stop()

    def start_client(self, jpeg_level=1, login=101, digest=None):
        self.client = sc.start_client(login=login, password_digest=digest or self.digest,
                                      jpeg_level=jpeg_level)
        return self.client

    def new_records(self, since):
        return self.service.records()[since:]

    def test_page_renders_in_chromium_and_text_is_byte_identical(self):
        self.start_client()
        before = len(self.service.records())
        r = h.chromium(SITE + "/index.html", dump_dom=True)
        self.assertIn("Compressed road works", r.stdout, r.stderr[-2000:])
        self.assertIn('id="p1"', r.stdout)
        raw = h.proxy_get(SITE + "/doc.html")
        status, _, body = sc.body_of(raw)
        self.assertIn(" 200 ", status)
        self.assertEqual(body, self.site.file_bytes("doc.html"))
        recs = self.new_records(before)
        dests = [x["dest"] for x in recs]
        self.assertIn(sc.SITE_IP + ":80", dests)
        # The documentation page went coded (bzip2 or zstd, maybe chained) and shrank.
        # (the end-of-answer kind 10 of a kept connection aside)
        doc = [x for x in recs
               if [k for k in x["kinds"].split(",") if k != "10"][-1] in ("2", "8", "9", "12")
               and x["before"] > 20000]
        self.assertTrue(doc, recs)
        self.assertLess(doc[-1]["after"], doc[-1]["before"] / 2)
        # Chromium fetched the photos through the service as recoded images.
        self.assertTrue(any("4" in x["kinds"].split(",") for x in recs), recs)

    def fetch_photo(self, name):
        raw = h.proxy_get(SITE + "/" + name, timeout=30)
        status, headers, body = sc.body_of(raw)
        self.assertIn(" 200 ", status)
        self.assertEqual(int(headers["content-length"]), len(body))
        return body

    def test_photos_recoded_at_codes_2_and_1_untouched_at_4(self):
        sizes = {}
        for level in (0, 1, 2):  # options value: low, medium, no recompression
            self.start_client(jpeg_level=level)
            for name, dims in self.site.photos.items():
                original = self.site.file_bytes(name)
                body = self.fetch_photo(name)
                if level == 2:
                    self.assertEqual(body, original, name)
                else:
                    self.assertEqual(sc.jpeg_size(body), dims, name)
                    self.assertLess(len(body), len(original) * 0.6, name)
                sizes[(level, name)] = len(body)
            self.client.stop()
            self.client = None
        for name in self.site.photos:
            self.assertLess(sizes[(0, name)], sizes[(1, name)], name)
        # The large photo needed more than one image packet at medium quality.
        self.assertGreater(sizes[(1, "big.jpg")], 200000)

    def test_client_statistics_equal_service_bytes_and_clock_is_corrected_once(self):
        self.start_client()
        since = len(self.service.records())
        for name in ("doc.html", "index.html", "photo1.jpg", "big.jpg", "missing.html"):
            h.proxy_get(SITE + "/" + name, timeout=30)
        recs = self.new_records(since)
        self.assertEqual(len(recs), 5, recs)
        # A fresh client's clock is seconds since boot: corrected on the first
        # exchange only, and every request was then served.
        self.assertTrue(recs[0]["kinds"].startswith("5,"), recs[0])
        for r in recs[1:]:
            self.assertNotIn("5", r["kinds"].split(","), r)
        for r in recs:
            self.assertTrue(r["result"].startswith("served"), r)
        total = sum(r["before"] for r in recs)
        compressed = sum(r["after"] for r in recs)
        ini = self.client.read_ini_when(
            lambda i: float(i.get("TotalTraffic", -1)) == float(total))
        # The options file keeps every digit of its counters.
        self.assertEqual(float(ini["TotalTraffic"]), float(total))
        self.assertEqual(float(ini["CompressTraffic"]), float(compressed))
        self.assertLess(compressed, total)
        # The balance the service reported (hundredths) reached the client in
        # whole units.
        self.assertEqual(float(ini["Money"]), float(int(recs[-1]["money"] / 100)))


if __name__ == "__main__":
    h.main()
