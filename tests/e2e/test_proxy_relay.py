"""The direct relay and the request filters seen from the browser: banners and
blocked file types refused, forbidden words withholding their block, large
answers in checked blocks of 200000 bytes, large POST bodies passed on, the
unknown-host page, the image shortcut and requests of other methods."""

import os
import socket
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import nbharness as h  # noqa: E402

PAGE = b"<html><body>plain page</body></html>\n"
SCRIPTED = "127.0.0.3"  # the scripted site; nginx is 127.0.0.2


def answer_of_total(total, word_at=None):
    """An HTTP answer of exactly `total` bytes, head included."""
    head_len = len(h.http_response(b"", content_type="text/plain")) - 1 + len(str(total))
    body = bytearray(b"a" * (total - head_len))
    if word_at is not None:
        body[word_at - head_len:word_at - head_len + 6] = b"casino"
    answer = h.http_response(bytes(body), content_type="text/plain")
    assert len(answer) == total
    return answer


def scripted_answer(req):
    path = req.split(b" ")[1].decode()
    if path.endswith("/upload"):
        return h.http_response(b"received")
    if path.endswith("/big"):
        a = answer_of_total(450000)
        return [a[:210000], a[210000:410000], a[410000:]]
    if path.endswith("/word1"):
        return answer_of_total(450000, word_at=1000)
    if path.endswith("/word3"):
        return answer_of_total(450000, word_at=430000)
    return h.http_response(PAGE)


def read_bursts(sock, quiet=0.25, timeout=20):
    """Sizes of the bursts the proxy sends, a burst ending after `quiet`
    seconds without data; ends when the proxy closes."""
    bursts, current = [], 0
    sock.settimeout(quiet)
    deadline = time.time() + timeout
    while time.time() < deadline:
        try:
            b = sock.recv(65536)
        except socket.timeout:
            if current:
                bursts.append(current)
                current = 0
            continue
        if not b:
            break
        current += len(b)
    if current:
        bursts.append(current)
    return bursts


def closes_within(data, seconds):
    """Sends data to the proxy; True when the proxy closes the connection
    without an answer within `seconds`."""
    s = socket.create_connection(("127.0.0.1", 4321))
    try:
        s.sendall(data)
        s.settimeout(seconds)
        try:
            return s.recv(1000) == b""
        except socket.timeout:
            return False
        except ConnectionResetError:
            return True
    finally:
        s.close()


class Relay(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        h.set_hosts({"ads.example": "127.0.0.2", "www.site.example": "127.0.0.2"})
        cls.root = os.path.join(h.tempfile.mkdtemp(prefix="nb-relay-"), "www")
        os.makedirs(cls.root)
        os.chmod(os.path.dirname(cls.root), 0o755)
        for name in ("index.html", "banner.html", "movie.swf", "ctl.ocx", "photo.jpg"):
            with open(os.path.join(cls.root, name), "wb") as f:
                f.write(PAGE)
        cls.nginx = h.Nginx(cls.root)
        cls.site = h.RecordingSite(SCRIPTED, 80, scripted_answer, gap=0.8)
        cls.client = None

    @classmethod
    def tearDownClass(cls):
        cls.site.stop()
        cls.nginx.stop()

    def tearDown(self):
        if self.client:
            self.client.stop()
            self.client = None

    def start(self, **options):
        ini = {"Port": 4321, "SettingsPort": 3344, "CompressOff": 1, "BlockingBanners": 1,
               "BlockingFlash": 1, "BlockingActiveX": 0, "BlockingUrls": "ads.example;GetAd;",
               "BlockingContent": "casino;", "JpgLvl": 1}
        ini.update(options)
        self.client = h.ClientInstall(ini=ini)
        self.client.start()

    def get(self, url, extra=""):
        return h.proxy_get(url, extra_headers=extra, timeout=20)

    def test_banners_blocked_only_while_blocking_is_on(self):
        self.start()
        self.assertEqual(self.get("http://ads.example/banner.html"), b"")
        self.assertTrue(self.get("http://www.site.example/index.html").endswith(PAGE))
        self.client.stop()
        self.start(BlockingBanners=0)
        self.assertTrue(self.get("http://ads.example/banner.html").endswith(PAGE))
        # Refused requests are still written to the URL log.
        self.assertIn("http://ads.example/banner.html", self.client.url_log())

    def test_flash_and_activex_blocked_by_their_flags(self):
        self.start(BlockingFlash=1, BlockingActiveX=0)
        self.assertEqual(self.get("http://127.0.0.2/movie.swf"), b"")
        self.assertTrue(self.get("http://127.0.0.2/ctl.ocx").endswith(PAGE))
        self.client.stop()
        self.start(BlockingFlash=0, BlockingActiveX=1)
        self.assertTrue(self.get("http://127.0.0.2/movie.swf").endswith(PAGE))
        self.assertEqual(self.get("http://127.0.0.2/ctl.ocx"), b"")

    def test_large_answer_arrives_in_three_checked_blocks(self):
        self.start()
        s = socket.create_connection(("127.0.0.1", 4321))
        try:
            s.sendall(b"GET http://%s/big HTTP/1.1\r\nHost: %s\r\n\r\n" %
                      (SCRIPTED.encode(), SCRIPTED.encode()))
            # The site sends 210000, 200000 and 40000 bytes 0.8 s apart; each
            # block of 200000 goes out only once it is full and checked.
            self.assertEqual(read_bursts(s), [200000, 200000, 50000])
        finally:
            s.close()

    def test_forbidden_word_withholds_its_block_and_the_rest(self):
        self.start()
        url = "http://%s/" % SCRIPTED
        self.assertEqual(h.proxy_get_ending(url + "word1"), (b"", "closed"))
        # Two blocks went out before the word: the connection ends with a
        # reset, which may overtake some of them, so the page never looks whole.
        got, end = h.proxy_get_ending(url + "word3")
        self.assertEqual(end, "reset")
        self.assertLessEqual(len(got), 400000)
        self.assertTrue(answer_of_total(450000).startswith(got))
        self.assertEqual(len(self.get(url + "big")), 450000)

    def test_large_post_body_reaches_the_site(self):
        self.start()
        body = bytes(range(256)) * 2000  # 512000 bytes
        req = (b"POST http://%s/upload HTTP/1.1\r\nHost: %s\r\nContent-Type: "
               b"application/octet-stream\r\nContent-Length: %d\r\n\r\n" %
               (SCRIPTED.encode(), SCRIPTED.encode(), len(body))) + body
        before = len(self.site.requests)
        raw = h.raw_request(req, timeout=20)
        self.assertTrue(raw.endswith(b"received"), raw[:200])
        got = self.site.requests[before]
        self.assertTrue(got.startswith(b"POST /upload HTTP/1.1\r\n"), got[:100])
        self.assertEqual(got.partition(b"\r\n\r\n")[2], body)

    def test_unknown_host_gets_a_bad_gateway_page(self):
        self.start()
        page = h.http_response(b"<b>NimbrelClient:</b> nosuch.invalid not found.",
                               status="502 Bad Gateway", extra="Connection: close\r\n")
        for url in ("http://nosuch.invalid/index.html", "http://nosuch.invalid/p.jpg"):
            self.assertEqual(self.get(url), page)
        # A browser shows our text, not an error page of its own (Chromium
        # refuses a reply without a status line from a port other than 80).
        r = h.chromium("http://nosuch.invalid:8080/index.html", dump_dom=True)
        self.assertIn("nosuch.invalid not found.", r.stdout, r.stderr[-2000:])

    def test_conditional_image_request_answered_from_cache(self):
        self.start(JpgLvl=1)
        url = "http://127.0.0.2/photo.jpg"
        self.assertEqual(self.get(url, 'If-None-Match: "x"\r\n'),
                         b"HTTP/1.1 304 Not Modified\r\n\r\n")
        self.client.stop()
        # Without recompression the site itself answers.
        self.start(JpgLvl=2)
        self.assertTrue(self.get(url, 'If-None-Match: "x"\r\n').endswith(PAGE))

    def test_other_methods_are_closed_at_once(self):
        self.start()
        for req in (b"HEAD http://127.0.0.2/index.html HTTP/1.1\r\nHost: 127.0.0.2\r\n\r\n",):
            # Well before the browser's idle time-out would end the read.
            self.assertTrue(closes_within(req, 10), req)
        # A CONNECT is a tunnel now; with no site on port 443 it is told so.
        raw = h.raw_request(b"CONNECT 127.0.0.2:443 HTTP/1.1\r\nHost: 127.0.0.2:443\r\n\r\n",
                            timeout=10)
        self.assertTrue(raw.startswith(b"HTTP/1.0 502 "), raw)
        self.assertTrue(self.get("http://127.0.0.2/index.html").endswith(PAGE))


if __name__ == "__main__":
    h.main()
