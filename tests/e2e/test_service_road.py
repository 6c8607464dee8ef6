"""The compression service road end to end: the real client, a scripted
service on 127.0.0.1:443 (reached as "localhost") and nginx on 127.0.0.2,
which the client reaches directly only when it falls back."""

import os
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import nbharness as h  # noqa: E402
import scripted_service as svc  # noqa: E402

DIGEST = svc.md5_text("secret")
SITE = "127.0.0.2"
DIRECT_BODY = b"<html><body>straight from the site</body></html>\n"
URL = "http://%s/page.html" % SITE


def boot_seconds():
    """Seconds since system start as the client's 32-bit tick count gives them."""
    ms = int(time.clock_gettime(time.CLOCK_BOOTTIME) * 1000) & 0xFFFFFFFF
    return ms // 1000


class ServiceRoad(unittest.TestCase):
    port = 4400

    @classmethod
    def setUpClass(cls):
        root = tempfile.mkdtemp(prefix="nb-site-")
        os.chmod(root, 0o755)
        with open(os.path.join(root, "page.html"), "wb") as f:
            f.write(DIRECT_BODY)
        cls.nginx = h.Nginx(root, listen=((SITE, 80),))

    @classmethod
    def tearDownClass(cls):
        cls.nginx.stop()

    def setUp(self):
        ServiceRoad.port += 2
        self.service = svc.ScriptedService()
        self.client = self.start_client()

    def start_client(self, **extra):
        ini = {"Login": "77", "Password": DIGEST, "Port": str(self.port),
               "SettingsPort": str(self.port + 1), "JpgLvl": "1",
               "BlockingContent": "forbiddenword;", "TrafficCost": "3",
               "StatSince": "1262304000"}
        ini.update(extra)
        client = h.ClientInstall(ini=ini)
        client.start(port=self.port)
        return client

    def tearDown(self):
        self.client.stop()
        self.service.stop()

    def get(self):
        return h.proxy_get(URL, proxy=("127.0.0.1", self.port))

    def direct_requests(self, at_least=0):
        # nginx writes its log line after the answer has gone out: wait for
        # the lines a test expects rather than read a moment too early.
        deadline = time.monotonic() + 5
        while True:
            lines = [l for l in self.nginx.access_log().splitlines() if "page.html" in l]
            if len(lines) >= at_least or time.monotonic() > deadline:
                return lines
            time.sleep(0.05)

    def assertStats(self, total, compressed, money):
        ini = self.client.read_ini_when(lambda i: (
            float(i.get("TotalTraffic", -1)), float(i.get("CompressTraffic", -1)),
            float(i.get("Money", -1))) == (total, compressed, money))
        self.assertEqual(float(ini["TotalTraffic"]), total, ini)
        self.assertEqual(float(ini["CompressTraffic"]), compressed, ini)
        self.assertEqual(float(ini["Money"]), money, ini)

    # -- content packets ----------------------------------------------------

    def test_page_in_one_bz2_packet(self):
        page = h.http_response("<p>compressed page</p>" * 50).decode()
        sizes = []
        self.service.script = lambda c: sizes.append(c.bz2_packet(page, money=12345))
        direct_before = len(self.direct_requests())
        before = boot_seconds()
        self.assertEqual(self.get(), page.encode())
        after = boot_seconds()

        conv = self.service.last()
        hd = conv.header
        self.assertEqual((hd["login"], hd["ip"], hd["port"], hd["jpeg"]), (77, SITE, 80, 1))
        self.assertTrue(before - 1 <= hd["time"] <= after + 1, (before, hd["time"], after))
        self.assertEqual(hd["auth"], svc.auth_code(DIGEST, hd["time"]))
        self.assertEqual(hd["decomp"], len(conv.request))
        self.assertTrue(conv.request.startswith(b"GET "), conv.request)
        self.assertIn(b"page.html", conv.request)
        self.assertStats(len(page), sizes[0], 123)
        self.assertEqual(len(self.direct_requests()), direct_before)  # the site was not asked

    def test_three_bz2_packets_in_order(self):
        parts = ["HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n",
                 "<p>first</p>" * 300, "<p>second</p>" * 200]
        sizes = []

        def script(c):
            for i, p in enumerate(parts):
                sizes.append(c.bz2_packet(p, money=(i + 1) * 1000))
        self.service.script = script
        self.assertEqual(self.get(), "".join(parts).encode())
        self.assertStats(sum(len(p) for p in parts), sum(sizes), 30)

    def test_forbidden_word_withholds_its_packet_and_the_rest(self):
        bad = "<p>a forbiddenword here</p>"
        good = "<p>clean</p>"

        def script(c):
            c.packet(svc.NOCOMPRESS, bad, money=-199)
            c.packet(svc.NOCOMPRESS, good, money=-199)
        self.service.script = script
        # A page with a hole where the word stood would look whole.
        self.assertEqual(h.proxy_get_ending(URL, proxy=("127.0.0.1", self.port)),
                         (b"", "closed"))
        self.assertStats(len(bad), len(bad), -1)

    def test_jpeg_packet_delivered_unchanged(self):
        image = h.http_response(b"\xff\xd8\xff\xe0\x00\x10JFIF\x00forbiddenword\x00\xff\xd9",
                                content_type="image/jpeg")
        self.service.script = lambda c: c.packet(svc.JPG, image, decomp=5000, money=250)
        self.assertEqual(self.get(), image)
        self.assertStats(5000, len(image), 2)

    def test_unknown_kinds_dropped_and_the_rest_delivered(self):
        def script(c):
            c.packet(9, "dropped nine")
            c.packet(1, "dropped one")
            c.packet(svc.EMPTY, "dropped empty")
            c.packet(svc.NOCOMPRESS, "")  # nothing to deliver is no failure
            c.packet(svc.NOCOMPRESS, "kept")
        self.service.script = script
        self.assertEqual(self.get(), b"kept")
        n = len("dropped nine") + len("dropped one") + len("dropped empty") + 4
        self.assertStats(n, n, 0)

    # -- clock, account and authentication ------------------------------------

    def test_time_correction_resends_header_and_shifts_clock(self):
        T = 1262304000

        def correct(c):
            c.header_only(svc.TIMESHIFT, T, money=999900)  # no body, money not taken
            c.read_client_header()
            c.packet(svc.NOCOMPRESS, "after correction", money=500)
        self.service.script = correct
        self.assertEqual(self.get(), b"after correction")
        reply = self.service.last().replies[0]
        self.assertEqual(reply["login"], 77)
        self.assertEqual(reply["time"], T)
        self.assertEqual(reply["auth"], svc.auth_code(DIGEST, T))
        self.assertEqual((reply["ip"], reply["port"], reply["jpeg"], reply["size"],
                          reply["decomp"]), ("0.0.0.0", 0, 0, 0, 0))
        self.assertStats(16, 16, 5)

        time.sleep(2.2)
        self.service.script = lambda c: c.packet(svc.NOCOMPRESS, "second")
        self.assertEqual(self.get(), b"second")
        second = self.service.last().header
        elapsed = self.service.last().arrived - reply["arrived"]
        self.assertLessEqual(abs((second["time"] - T) - elapsed), 1.5, (second, elapsed))
        self.assertEqual(second["auth"], svc.auth_code(DIGEST, second["time"]))

    def test_no_money_for_no_account_relays_only_this_request(self):
        self.service.script = lambda c: c.header_only(svc.NOMONEY, 0)
        answer = self.get()
        self.assertTrue(answer.endswith(DIRECT_BODY), answer)
        self.service.script = lambda c: c.packet(svc.NOCOMPRESS, "served again")
        self.assertEqual(self.get(), b"served again")
        self.assertEqual(self.service.count(), 2)
        self.assertStats(12, 12, 0)

    def test_no_money_for_the_account_sends_the_rest_direct(self):
        direct_before = len(self.direct_requests())

        def script(c):
            c.packet(svc.NOCOMPRESS, "partial ", money=700)
            c.header_only(svc.NOMONEY, 77)
        self.service.script = script
        answer = self.get()
        # What was delivered stays; the original request then goes to the site.
        self.assertTrue(answer.startswith(b"partial HTTP/1."), answer)
        self.assertTrue(answer.endswith(DIRECT_BODY), answer)
        lines = self.direct_requests(direct_before + 1)[direct_before:]
        self.assertEqual(len(lines), 1, lines)
        self.assertIn('" 200 ', lines[0])

        answer = self.get()
        self.assertTrue(answer.endswith(DIRECT_BODY), answer)
        self.assertEqual(self.service.count(), 1)
        self.assertEqual(len(self.direct_requests(direct_before + 2)) - direct_before, 2)
        self.assertStats(8, 8, 7)

    def test_authentication_failure_delivers_nothing_but_counts(self):
        self.service.script = lambda c: c.packet(svc.AUTHFAILED, "bad code", decomp=40,
                                                 money=4200)
        self.assertEqual(self.get(), b"")
        self.assertStats(40, 8, 42)

    # -- broken answers -------------------------------------------------------

    def test_oversized_header_ends_the_answer(self):
        def script(c):
            c.packet(svc.NOCOMPRESS, "before", money=300)
            c.header_only(svc.NOCOMPRESS, 200001, 10, money=777700)
            c.raw(b"x" * 100)
            c.packet(svc.NOCOMPRESS, "never")
        self.service.script = script
        # Delivered, then cut: the browser must not take it for a whole answer.
        s = socket.create_connection(("127.0.0.1", self.port), timeout=15)
        s.sendall(("GET %s HTTP/1.1\r\nHost: %s\r\n\r\n" % (URL, SITE)).encode())
        got = b""
        with self.assertRaises(ConnectionResetError):
            while True:
                b = s.recv(65536)
                if not b:
                    break
                got += b
        s.close()
        # The reset may overtake what was delivered, never add to it.
        self.assertTrue(b"before".startswith(got), got)
        self.assertStats(6, 6, 3)

    def test_truncated_body_is_dropped_but_its_money_kept(self):
        def script(c):
            c.header_only(svc.NOCOMPRESS, 1000, 1000, money=12345)
            c.raw(b"y" * 10)
        self.service.script = script
        self.assertEqual(self.get(), b"")
        self.assertStats(0, 0, 123)

    def test_zstd_text_from_a_service_that_says_so(self):
        def frame(data):
            return subprocess.run(["zstd", "-q", "-c"], input=data, check=True,
                                  capture_output=True).stdout

        def text2(c, content, body=None):
            body = frame(content) if body is None else body
            c.raw(struct.pack("<IIHHi", len(body), len(content), 8, 0x0002, 12345) + body)
            return len(body)

        good = b"<p>clean coded text</p>" * 40
        sent = []
        self.service.script = lambda c: sent.append(text2(c, good))
        self.assertEqual(self.get(), good)
        self.assertStats(len(good), sent[0], 123)
        # The forbidden-word check sees the decoded text.
        self.service.script = lambda c: text2(c, b"<p>a forbiddenword in coded text</p>")
        self.assertEqual(self.get(), b"")
        # A frame that does not decode cuts the answer: nothing after it
        # reaches the browser.
        damaged = bytearray(frame(good))
        damaged[len(damaged) // 2] ^= 0x55

        def cut(c):
            text2(c, good, bytes(damaged))
            c.packet(svc.NOCOMPRESS, "after")
        self.service.script = cut
        self.assertNotIn(b"after", self.get())

    # -- service out of reach -------------------------------------------------

    def test_unreachable_service_falls_back_to_the_direct_relay(self):
        self.service.stop()
        answer = self.get()
        self.assertTrue(answer.startswith(b"HTTP/1.1 200"), answer)
        self.assertTrue(answer.endswith(DIRECT_BODY), answer)
        self.assertStats(0, 0, 0)

    def test_unresolvable_service_host_falls_back_to_the_direct_relay(self):
        with open("/etc/hosts", "w") as f:
            f.write("127.0.0.9 elsewhere\n")
        try:
            answer = self.get()
        finally:
            h.set_hosts({})
        self.assertTrue(answer.endswith(DIRECT_BODY), answer)
        self.assertEqual(self.service.count(), 0)


class ServiceRoadThroughSquid(unittest.TestCase):
    """The service reached through the upstream proxy's CONNECT tunnel."""

    def test_tunnel_and_refused_credentials(self):
        root = tempfile.mkdtemp(prefix="nb-site-")
        os.chmod(root, 0o755)
        with open(os.path.join(root, "page.html"), "wb") as f:
            f.write(DIRECT_BODY)
        nginx = h.Nginx(root, listen=((SITE, 80),))
        squid = h.Squid(users={"nbuser": "nbpass"})
        service = svc.ScriptedService(script=lambda c: c.packet(svc.NOCOMPRESS, "tunnelled"))
        port = 4600
        try:
            for login, expect in (("nbuser", b"tunnelled"), ("intruder", None)):
                port += 2
                client = h.ClientInstall(ini={
                    "Port": str(port), "SettingsPort": str(port + 1), "ProxyName": squid.ip,
                    "ProxyPort": str(squid.port), "ProxyLogin": login, "ProxyPassword": "nbpass"})
                client.start(port=port)
                try:
                    answer = h.proxy_get(URL, proxy=("127.0.0.1", port))
                finally:
                    client.stop()
                if expect is not None:
                    self.assertEqual(answer, expect)
                    self.assertIn("CONNECT localhost:443", squid.access_log())
                else:
                    # The refused tunnel leaves the request to the direct relay,
                    # which shows the proxy's own refusal.
                    self.assertTrue(answer.startswith(b"HTTP/1.1 407"), answer[:200])
            self.assertEqual(len(service.conversations), 1)
        finally:
            service.stop()
            squid.stop()
            nginx.stop()


if __name__ == "__main__":
    h.main()
