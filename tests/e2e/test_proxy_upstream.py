"""Chromium through the client, the client through an upstream squid that
demands Basic credentials: every request goes through a CONNECT tunnel to the
site's dotted address, a page with images loads, and wrong credentials bring
squid's own refusal to the browser."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import nbharness as h  # noqa: E402

SITE = "127.0.0.2"
PAGE = b"""<html><head><title>upstream</title></head><body>
<p id="state">loading</p>
<img id="a" src="red.png"><img id="b" src="blue.jpg"><img id="c" src="img/green.gif">
<script>
window.addEventListener("load", function () {
  var ok = ["a", "b", "c"].filter(function (id) {
    return document.getElementById(id).naturalWidth === 24;
  });
  document.getElementById("state").textContent = "images loaded: " + ok.join(",");
});
</script></body></html>
"""


def make_site(root):
    os.makedirs(os.path.join(root, "img"))
    with open(os.path.join(root, "index.html"), "wb") as f:
        f.write(PAGE)
    for name, color in (("red.png", "red"), ("blue.jpg", "blue"), ("img/green.gif", "green")):
        h.run(["convert", "-size", "24x24", "xc:" + color, os.path.join(root, name)])


class Upstream(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        h.set_hosts({"www.upstream.example": SITE})
        base = h.tempfile.mkdtemp(prefix="nb-upstream-")
        os.chmod(base, 0o755)
        cls.root = os.path.join(base, "www")
        make_site(cls.root)
        cls.nginx = h.Nginx(cls.root)
        cls.squid = h.Squid(ip="127.0.0.3", port=3128, users={"nbuser": "nbpass"})
        cls.client = None

    @classmethod
    def tearDownClass(cls):
        cls.squid.stop()
        cls.nginx.stop()

    def tearDown(self):
        if self.client:
            self.client.stop()
            self.client = None

    def start(self, password):
        self.client = h.ClientInstall(ini={
            "Port": 4321, "SettingsPort": 3344, "CompressOff": 1, "JpgLvl": 2,
            "ProxyName": "127.0.0.3", "ProxyPort": 3128, "ProxyLogin": "nbuser",
            "ProxyPassword": password})
        self.client.start()

    def test_page_with_images_loads_through_the_tunnel(self):
        self.start("nbpass")
        r = h.chromium("http://www.upstream.example/index.html", dump_dom=True)
        self.assertIn("images loaded: a,b,c", r.stdout, r.stderr[-2000:])
        log = self.squid.access_log()
        # Every request went through a tunnel to the dotted address, port 80.
        self.assertIn("CONNECT %s:80" % SITE, log)
        self.assertNotIn("GET http", log)
        self.assertIn("nbuser", log)
        for path in ("/index.html", "/red.png", "/blue.jpg", "/img/green.gif"):
            self.assertIn("GET %s " % path, self.nginx.access_log())

    def test_wrong_credentials_show_the_proxy_refusal(self):
        self.start("wrong")
        before = self.nginx.access_log().count("GET /index.html")
        raw = h.proxy_get("http://%s/index.html" % SITE)
        status, headers, body = h.split_answer(raw)
        self.assertIn(" 407 ", status)
        self.assertIn("squid", headers.get("server", "").lower())
        self.assertEqual(len(body), int(headers["content-length"]))
        self.assertIn(b"ERR_CACHE_ACCESS_DENIED", body)
        self.assertEqual(self.nginx.access_log().count("GET /index.html"), before)


if __name__ == "__main__":
    h.main()
