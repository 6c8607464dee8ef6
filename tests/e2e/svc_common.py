"""Shared set-up of the NimbrelService end-to-end tests: a web root with a
generated documentation page and photos, nginx on 127.0.0.2, the real service on
127.0.0.1:443 with an accounts database, and helpers to read its log."""

import glob
import hashlib
import os
import re
import shutil
import subprocess
import tempfile

import nbharness as h

SERVICE_PORT = 443
SITE_IP = "127.0.0.2"

LOG_LINE = re.compile(
    r"login=(?P<login>-?\d+) dest=(?P<dest>\S+) before=(?P<before>\d+) "
    r"after=(?P<after>\d+) sent=(?P<sent>\d+) received=(?P<received>\d+) "
    r"kinds=(?P<kinds>\S+) "
    r"charged=(?P<charged>-?\d+) money=(?P<money>-?\d+) result=(?P<result>\S+)")


def md5hex(text):
    return hashlib.md5(text.encode()).hexdigest()


WORDS = ("the of a to in is that for it as with be on by this are or from an which "
         "module function class return value object list string file data default "
         "argument method type name error new instance attribute call set read write "
         "buffer stream socket request answer page packet option number text line "
         "character encoding path directory process thread lock queue event time "
         "parameter keyword result exception raised when if not only none each may").split()


def make_doc_page(path, size=600000, seed=7):
    """Writes a reference-manual page of about `size` bytes: navigation,
    sections of prose, signatures and code examples, with the words and
    markup a real documentation page repeats. The same bytes every time."""
    import random
    rnd = random.Random(seed)

    def sentence():
        words = [rnd.choice(WORDS) for _ in range(rnd.randint(6, 18))]
        return " ".join(words).capitalize() + "."

    parts = ["<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
             "<title>Reference manual</title>"
             "<link rel=\"stylesheet\" href=\"/static/manual.css\"></head>\n<body>\n"
             "<div class=\"related\" role=\"navigation\"><ul>"]
    parts += ["<li><a href=\"chapter%d.html\">Chapter %d</a></li>" % (i, i) for i in range(40)]
    parts.append("</ul></div>\n<div class=\"body\" role=\"main\">\n")
    total = sum(len(p) for p in parts)
    section = 0
    while total < size - 100:
        section += 1
        name = "%s_%s" % (rnd.choice(WORDS), rnd.choice(WORDS))
        chunk = ["<section id=\"s%d\"><h2>%d. The <code>%s</code> %s<a class=\"headerlink\" "
                 "href=\"#s%d\">&#182;</a></h2>\n" % (section, section, name, rnd.choice(WORDS),
                                                        section)]
        for _ in range(rnd.randint(2, 4)):
            chunk.append("<p>%s</p>\n" % " ".join(sentence() for _ in range(rnd.randint(2, 6))))
        args = ", ".join(rnd.choice(WORDS) for _ in range(rnd.randint(1, 4)))
        chunk.append("<dl class=\"py function\"><dt class=\"sig\" id=\"%s\"><span class=\"sig-name"
                     " descname\">%s</span>(<em>%s</em>)</dt>\n<dd><p>%s</p></dd></dl>\n"
                     % (name, name, args, sentence()))
        chunk.append("<div class=\"highlight\"><pre><span class=\"gp\">&gt;&gt;&gt; </span>"
                     "%s = %s(%d)\n<span class=\"go\">%s</span>\n</pre></div>\n</section>\n"
                     % (rnd.choice(WORDS), name, rnd.randint(0, 9999), rnd.choice(WORDS)))
        text = "".join(chunk)
        parts.append(text)
        total += len(text)
    parts.append("</div>\n<div class=\"footer\">Generated for the tests.</div>\n</body></html>\n")
    with open(path, "w") as f:
        f.write("".join(parts))


def make_photo(path, width, height, seed, grain=0.0, quality=92):
    """A photo-like JPEG (fractal plasma, softened, with film grain when
    grain > 0) made with ImageMagick."""
    cmd = ["convert", "-seed", str(seed), "-size", "%dx%d" % (width, height),
           "plasma:fractal", "-blur", "0x1.2"]
    if grain > 0:
        cmd += ["-attenuate", str(grain), "+noise", "Gaussian"]
    h.run(cmd + ["-quality", str(quality), path])


def jpeg_size(data):
    """(width, height) of a JPEG that ImageMagick decodes fully, else None."""
    with tempfile.NamedTemporaryFile(suffix=".jpg") as f:
        f.write(data)
        f.flush()
        r = subprocess.run(["identify", "-regard-warnings", "-format", "%w %h", f.name],
                           capture_output=True, text=True, stdin=subprocess.DEVNULL)
        if r.returncode != 0:
            return None
        # Decode every pixel too: a truncated scan fails here.
        r2 = subprocess.run(["convert", "-regard-warnings", f.name, "null:"],
                            capture_output=True, stdin=subprocess.DEVNULL)
        if r2.returncode != 0:
            return None
        w, hh = r.stdout.split()
        return int(w), int(hh)


class Site:
    """Web root with a documentation page, an index page with photos, served
    by nginx on SITE_IP:80."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="nb-svc-site-")
        os.chmod(self.root, 0o755)
        make_doc_page(os.path.join(self.root, "doc.html"))
        self.photos = {}
        # big.jpg is grainy enough to stay above one packet when recoded.
        for name, (w, hh, seed, grain) in {"photo1.jpg": (1024, 768, 11, 0.0),
                                            "photo2.jpg": (640, 480, 12, 0.0),
                                            "big.jpg": (2400, 1800, 13, 0.8)}.items():
            path = os.path.join(self.root, name)
            make_photo(path, w, hh, seed, grain, 95 if grain else 92)
            self.photos[name] = (w, hh)
        with open(os.path.join(self.root, "index.html"), "w") as f:
            f.write("<!DOCTYPE html><html><head><title>Nimbrel road</title></head><body>"
                    "<h1 id='title'>Compressed road works</h1>"
                    "<p>A page with photos.</p>"
                    "<img id='p1' src='/photo1.jpg'><img id='p2' src='/photo2.jpg'>"
                    "</body></html>\n")
        for p in glob.glob(os.path.join(self.root, "*")):
            os.chmod(p, 0o644)
        self.nginx = h.Nginx(self.root, listen=((SITE_IP, 80),))

    def file_bytes(self, name):
        with open(os.path.join(self.root, name), "rb") as f:
            return f.read()

    def stop(self):
        self.nginx.stop()
        shutil.rmtree(self.root, ignore_errors=True)


class Service:
    """NimbrelService on 127.0.0.1:443 with its own database and log."""

    def __init__(self, price=100, extra=(), guest=True):
        self.dir = tempfile.mkdtemp(prefix="nb-service-")
        self.db = os.path.join(self.dir, "accounts.db")
        self.log = os.path.join(self.dir, "service.log")
        self.proc = h.Proc([h.ARGS.service, "--listen", "127.0.0.1", "--port",
                            str(SERVICE_PORT), "--db", self.db, "--log", self.log,
                            "--allow-private", "--price", str(price)]
                           + (["--guest"] if guest else []) + list(extra),
                           log=os.path.join(self.dir, "output.log"))
        h.wait_port("127.0.0.1", SERVICE_PORT, proc=self.proc)

    def account(self, login, password=None, money=None):
        cmd = [h.ARGS.service, "account", str(login), "--db", self.db]
        if password is not None:
            cmd += ["--password", password]
        if money is not None:
            cmd += ["--money", money]
        return h.run(cmd).stdout

    def records(self):
        """Parsed request lines of the log, in order."""
        if not os.path.exists(self.log):
            return []
        out = []
        with open(self.log) as f:
            for line in f:
                m = LOG_LINE.search(line)
                if m:
                    d = m.groupdict()
                    for k in ("login", "before", "after", "sent", "received", "charged", "money"):
                        d[k] = int(d[k])
                    out.append(d)
        return out

    def stop(self):
        rc = self.proc.stop()
        shutil.rmtree(self.dir, ignore_errors=True)
        return rc


def client_ini(login=0, password_digest="", jpeg_level=1):
    return {"Login": login, "Password": password_digest, "Port": 4321,
            "SettingsPort": 3344, "JpgLvl": jpeg_level, "BlockingBanners": 0,
            "BlockingFlash": 0, "BlockingActiveX": 0, "TrafficCost": 3,
            "TotalTraffic": 0, "CompressTraffic": 0, "Money": 0}


def start_client(**kw):
    c = h.ClientInstall(ini=client_ini(**kw))
    c.start()
    return c


def body_of(raw):
    status, headers, body = h.split_answer(raw)
    return status, headers, body
