"""Browser -> NimbrelClient -> NimbrelService -> nginx with images: a browser
that takes WebP gets smaller WebP photos and drawings marked Vary: Accept,
one that takes AVIF too gets a photo smaller still as AVIF; one that takes
neither, and a client that announces nothing, get today's bytes."""

import bz2
import os
import socket
import struct
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import nbharness as h  # noqa: E402
import scripted_service as svc  # noqa: E402
import svc_common as sc  # noqa: E402

SITE = "http://%s" % sc.SITE_IP
WEBP = "Accept: image/webp,image/apng,image/*,*/*;q=0.8\r\n"
AVIF = "Accept: image/avif,image/webp,image/apng,image/*,*/*;q=0.8\r\n"
CAP_WEBP = 0x0001
# The request header with the caps field where older clients have padding.
REQUEST = struct.Struct("<i4sHHHHiII")


def raw_exchange(path, caps, accept):
    """(caps of every answer header, content) of one guest request sent to
    the service directly."""
    clock = int(time.time())
    text = ("GET /%s HTTP/1.0\r\nHost: %s\r\n%s\r\n" % (path, sc.SITE_IP, accept)).encode()
    body = bz2.compress(text, 9)
    head = REQUEST.pack(0, socket.inet_aton(sc.SITE_IP), 80, svc.auth_code("", clock), 1, caps,
                        clock, len(body), len(text))
    with socket.create_connection(("127.0.0.1", sc.SERVICE_PORT), timeout=30) as s:
        s.sendall(head + body)
        raw = h.read_all(s, 30)
    seen, content = [], b""
    while len(raw) >= 16:
        size, _, kind, bits, _ = struct.unpack("<IIHHi", raw[:16])
        chunk = raw[16:16 + size]
        content += bz2.decompress(chunk) if kind == svc.BZ2 else chunk
        seen.append(bits)
        raw = raw[16 + size:]
    return seen, content


class ImagesRoad(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.site = sc.Site()
        # A drawing with a transparent border, and a photo kept as PNG.
        subprocess.run(["convert", os.path.join(cls.site.root, "photo2.jpg"), "-alpha", "set",
                        "-background", "none", "-vignette", "0x6",
                        os.path.join(cls.site.root, "photo.png")], check=True)
        os.chmod(os.path.join(cls.site.root, "photo.png"), 0o644)
        cls.service = sc.Service()
        cls.client = sc.start_client(jpeg_level=1)

    @classmethod
    def tearDownClass(cls):
        cls.client.stop()
        cls.service.stop()
        cls.site.stop()

    def get(self, name, extra=""):
        _, headers, body = sc.body_of(h.proxy_get(SITE + "/" + name, extra, timeout=30))
        self.assertEqual(int(headers["content-length"]), len(body))
        return headers, body

    def test_webp_only_for_browsers_that_take_it(self):
        for name in ("photo1.jpg", "photo.png"):
            original = self.site.file_bytes(name)
            headers, webp = self.get(name, WEBP)
            self.assertEqual(headers["content-type"], "image/webp", name)
            self.assertIn("Accept", headers.get("vary", ""), name)
            self.assertEqual(webp[:4], b"RIFF")
            _, today = self.get(name)
            self.assertLess(len(webp), len(today), name)
            if name.endswith(".png"):
                self.assertEqual(today, original)  # a PNG is not recoded as PNG
            else:
                self.assertEqual(sc.jpeg_size(today), self.site.photos[name])

    def test_avif_only_with_the_bit_and_the_browsers_accept(self):
        headers, avif = self.get("photo1.jpg", AVIF)
        self.assertEqual(headers["content-type"], "image/avif")
        self.assertIn("Accept", headers.get("vary", ""))
        self.assertEqual(avif[4:12], b"ftypavif")
        _, webp = self.get("photo1.jpg", WEBP)
        self.assertLess(len(avif), len(webp))
        # A client without the bit gets what the WebP road sends.
        _, old = raw_exchange("photo1.jpg", CAP_WEBP, AVIF)
        _, webp_browser = raw_exchange("photo1.jpg", CAP_WEBP, WEBP)
        self.assertIn(b"Content-Type: image/webp", old)
        self.assertEqual(old.split(b"\r\n\r\n", 1)[1], webp_browser.split(b"\r\n\r\n", 1)[1])

    def test_client_without_bits_gets_todays_bytes(self):
        old_caps, old = raw_exchange("photo1.jpg", 0, WEBP)
        self.assertTrue(old_caps)
        self.assertEqual(set(old_caps), {0})
        self.assertIn(b"Content-Type: image/jpeg", old)
        new_caps, jpeg_browser = raw_exchange("photo1.jpg", 1, "Accept: */*\r\n")
        self.assertEqual(set(new_caps), {1})
        self.assertEqual(old, jpeg_browser)


if __name__ == "__main__":
    h.main()
