"""NimbrelClient -> NimbrelService -> nginx: the same-site style sheet and
script a page references are promised ahead of it and pushed after it, the
browser's requests for them are answered by the client without reaching the
service again, and what the browser got lately is not pushed again."""

import os
import re
import shutil
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import nbharness as h  # noqa: E402
import svc_common as sc  # noqa: E402

SITE = "http://%s" % sc.SITE_IP
PAGE = (b'<html><head><link rel="stylesheet" href="style.css">'
        b'<script src="/app.js"></script><script src="/nocache.js"></script>'
        b'<img src="http://127.0.0.9/elsewhere.png"></head><body>' + b"<p>text</p>\n" * 200 +
        b"</body></html>")
OTHER = (b'<html><head><link rel="stylesheet" href="/held.css"><script src="other.js">'
         b'</script></head><body>' + b"<p>more</p>\n" * 100 + b"</body></html>")
FILES = {"page.html": PAGE, "style.css": b"body { color: #123456; }\n" * 40,
         "app.js": b"console.log('app');\n" * 30, "nocache.js": b"var x = 1;\n" * 20,
         "other.html": OTHER, "other.js": b"var other = 2;\n" * 30,
         "held.css": b"p { margin: 0; }\n" * 30}


class PushedResources(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="nb-push-site-")
        os.chmod(cls.root, 0o755)
        for name, data in FILES.items():
            with open(os.path.join(cls.root, name), "wb") as f:
                f.write(data)
            os.chmod(os.path.join(cls.root, name), 0o644)
        cls.nginx = h.Nginx(cls.root, listen=((sc.SITE_IP, 80),), extra_server=(
            "location = /nocache.js { add_header Cache-Control no-store; }"))
        cls.service = sc.Service()
        cls.service.account(104, password="push-pass", money="100000")
        cls.client = sc.start_client(login=104, password_digest=sc.md5hex("push-pass"))

    @classmethod
    def tearDownClass(cls):
        cls.client.stop()
        cls.service.stop()
        cls.nginx.stop()
        shutil.rmtree(cls.root, ignore_errors=True)

    def fetched_by_site(self, name):
        with open(os.path.join(self.nginx.dir, "access.log")) as f:
            return len(re.findall(r'"GET /%s ' % re.escape(name), f.read()))

    def wait_fetched(self, name, count):
        """How often the site served name, once that reaches count (nginx logs
        a request just after answering it) or 15 s passed."""
        deadline = time.monotonic() + 15
        while self.fetched_by_site(name) < count and time.monotonic() < deadline:
            time.sleep(0.05)
        return self.fetched_by_site(name)

    def get(self, name):
        """The body and how many exchanges reached the service for it."""
        since = len(self.service.records())
        status, _, body = sc.body_of(h.proxy_get(SITE + "/" + name, timeout=30))
        self.assertIn(" 200 ", status, name)
        self.assertEqual(body, FILES[name], name)
        return len(self.service.records()) - since

    def test_pushed_resources_are_served_once_without_the_service(self):
        names = ("style.css", "app.js", "nocache.js", "elsewhere.png")
        start = {n: self.fetched_by_site(n) for n in names}

        def fetches(name, expected):
            # nginx logs a request just after answering it: wait for the line.
            deadline = time.monotonic() + 15
            while (self.fetched_by_site(name) - start[name] != expected and
                   time.monotonic() < deadline):
                time.sleep(0.05)
            return self.fetched_by_site(name) - start[name]

        self.assertEqual(self.get("page.html"), 1)
        # The page's same-site resources were fetched with it; the two that
        # may be kept were pushed.
        self.assertEqual([fetches(n, e) for n, e in zip(names, (1, 1, 1, 0))], [1, 1, 1, 0])
        # Promised ahead of the page's content.
        kinds = self.service.records()[-1]["kinds"].split(",")
        self.assertEqual(kinds[0], "13", kinds)
        self.assertEqual(kinds.count("11"), 2, kinds)
        # Served by the client alone: no exchange, no second fetch.
        self.assertEqual(self.get("style.css"), 0)
        self.assertEqual(self.get("app.js"), 0)
        self.assertEqual(fetches("style.css", 1), 1)
        # Each push serves one request; what may not be kept is never pushed.
        self.assertEqual(self.get("style.css"), 1)
        self.assertEqual(self.get("nocache.js"), 1)
        self.assertEqual(fetches("nocache.js", 2), 2)

    def test_what_the_browser_got_is_not_pushed_again(self):
        # The browser got held.css: the page's request names it, so the
        # service neither fetches nor pushes it with other.html, while it
        # pushes other.js. Asked for again, held.css is evidently not kept
        # by the browser: the next load pushes it.
        def load_other():
            raw = h.proxy_get(SITE + "/other.html", extra_headers="Accept: text/html\r\n",
                              timeout=30)
            self.assertEqual(sc.body_of(raw)[2], OTHER)

        css = self.fetched_by_site("held.css")
        self.assertEqual(self.get("held.css"), 1)
        css = self.wait_fetched("held.css", css + 1)
        js = self.fetched_by_site("other.js")
        load_other()
        self.assertEqual(self.wait_fetched("other.js", js + 1), js + 1)
        self.assertEqual(self.fetched_by_site("held.css"), css)
        self.assertEqual(self.get("other.js"), 0)
        self.assertEqual(self.get("held.css"), 1)
        load_other()
        self.assertEqual(self.get("held.css"), 0)

    def test_page_asked_with_a_cookie_pushes_nothing(self):
        before = self.fetched_by_site("app.js")
        raw = h.proxy_get(SITE + "/page.html", extra_headers="Cookie: id=1\r\n", timeout=30)
        self.assertEqual(sc.body_of(raw)[2], PAGE)
        self.assertEqual(self.fetched_by_site("app.js"), before)
        self.assertEqual(self.get("app.js"), 1)
        self.wait_fetched("app.js", before + 1)


if __name__ == "__main__":
    h.main()
