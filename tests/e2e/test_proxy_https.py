"""HTTPS through the client: Chromium, set to use the proxy for every
protocol, loads a page from nginx with a self-signed certificate, once
straight from the client and once through an upstream squid that demands
Basic credentials; a CONNECT to any port but 443 is refused; the tunnelled
bytes are counted apart from compressed traffic."""

import os
import socket
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import nbharness as h  # noqa: E402

SITE = "127.0.0.2"
NAME = "www.secure.example"
PAGE = b"""<html><head><title>secure</title><script src="app.js"></script></head>
<body><p id="state">loading</p></body></html>
"""
SCRIPT = b"""window.addEventListener("load", function () {
  document.getElementById("state").textContent = "secure page via " + location.protocol;
});
"""


class Https(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        h.set_hosts({NAME: SITE})
        base = h.tempfile.mkdtemp(prefix="nb-https-")
        os.chmod(base, 0o755)
        root = os.path.join(base, "www")
        os.makedirs(root)
        for name, data in (("index.html", PAGE), ("app.js", SCRIPT)):
            with open(os.path.join(root, name), "wb") as f:
                f.write(data)
        cert, key = os.path.join(base, "cert.pem"), os.path.join(base, "key.pem")
        h.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
               "-subj", "/CN=" + NAME, "-keyout", key, "-out", cert])
        cls.nginx = h.Nginx(root, extra_server="listen %s:443 ssl; ssl_certificate %s; "
                            "ssl_certificate_key %s;" % (SITE, cert, key))
        h.wait_port(SITE, 443)
        cls.squid = h.Squid(ip="127.0.0.3", port=3128, users={"nbuser": "nbpass"})

    @classmethod
    def tearDownClass(cls):
        cls.squid.stop()
        cls.nginx.stop()

    def run_client(self, **upstream):
        ini = {"Port": 4321, "SettingsPort": 3344, "CompressOff": 1, "JpgLvl": 2}
        ini.update(upstream)
        client = h.ClientInstall(ini=ini)
        client.start()
        self.addCleanup(client.stop)
        return client

    def load(self):
        r = h.chromium("https://%s/index.html" % NAME, dump_dom=True,
                       extra=["--ignore-certificate-errors"])
        self.assertIn("secure page via https:", r.stdout, r.stderr[-2000:])

    def test_page_loads_directly_and_its_bytes_are_counted(self):
        client = self.run_client()
        self.load()
        for path in ("/index.html", "/app.js"):
            self.assertIn("GET %s " % path, self.nginx.access_log())
        client.stop()
        ini = client.read_ini()
        # Encrypted bytes, both ways: more than the two files themselves.
        self.assertGreater(float(ini["TunnelTraffic"]), len(PAGE) + len(SCRIPT))
        self.assertEqual(float(ini["CompressTraffic"]), 0)

    def test_page_loads_through_the_upstream_proxy(self):
        before = self.squid.access_log().count("CONNECT %s:443" % NAME)
        self.run_client(ProxyName="127.0.0.3", ProxyPort=3128, ProxyLogin="nbuser",
                        ProxyPassword="nbpass")
        self.load()
        log = self.squid.access_log()
        self.assertGreater(log.count("CONNECT %s:443" % NAME), before)
        self.assertIn("nbuser", log)

    def test_connect_to_another_port_is_refused(self):
        self.run_client()
        mail = socket.socket()
        mail.bind((SITE, 25))
        mail.listen(4)
        mail.setblocking(False)
        self.addCleanup(mail.close)
        raw = h.raw_request(b"CONNECT %s:25 HTTP/1.1\r\nHost: %s:25\r\n\r\n" %
                            (SITE.encode(), SITE.encode()))
        self.assertTrue(raw.startswith(b"HTTP/1.0 403 "), raw)
        with self.assertRaises(BlockingIOError):
            mail.accept()


if __name__ == "__main__":
    h.main()
