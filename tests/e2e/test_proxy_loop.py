"""A request for the proxy's own port, by any local address or name, is
refused at once: the client keeps serving with its descriptors flat. The
not-found page shows a host name as text."""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import nbharness as h  # noqa: E402

PAGE = b"<html><body>loop page</body></html>\n"
LAN = "10.77.0.1"  # an address of one of the machine's own interfaces


class OwnPort(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        h.add_veth_address(LAN + "/24")
        h.set_hosts({"me.example": LAN})
        cls.site = h.RecordingSite("127.0.0.2", 80, lambda req: h.http_response(PAGE))
        # The proxy serves its LAN, so a request it sends itself there is admitted.
        cls.client = h.ClientInstall(ini={"Port": 4321, "SettingsPort": 3344, "CompressOff": 1,
                                          "AllowHosts": "10.77.*;"})
        cls.client.start()

    @classmethod
    def tearDownClass(cls):
        cls.client.stop()
        cls.site.stop()

    def descriptors(self):
        time.sleep(0.2)  # the site's socket closes just after the browser's
        return len(os.listdir("/proc/%d/fd" % self.client.proc.p.pid))

    def test_own_port_is_refused_by_every_local_name(self):
        self.assertTrue(h.proxy_get("http://127.0.0.2/").endswith(PAGE))
        before = self.descriptors()
        for host in ("localhost", "127.0.0.1", "127.0.0.9", "0.0.0.0", LAN, "me.example") * 3:
            self.assertEqual(h.proxy_get("http://%s:4321/" % host, timeout=10), b"", host)
        self.assertLessEqual(self.descriptors(), before)
        self.assertTrue(h.proxy_get("http://127.0.0.2/", timeout=10).endswith(PAGE))

    def test_not_found_page_shows_the_name_as_text(self):
        got = h.proxy_get('http://x<b>"&.invalid/', timeout=10)
        self.assertTrue(got.startswith(b"HTTP/1.0 502 Bad Gateway\r\n"), got)
        self.assertTrue(got.endswith(b"\r\n\r\n<b>NimbrelClient:</b> x&lt;b&gt;&quot;&amp;.invalid"
                                     b" not found."), got)


if __name__ == "__main__":
    h.main()
