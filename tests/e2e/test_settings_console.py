"""The settings console in a real browser: headless Chromium shows the stored
settings, changes them through the form, stops the program; a page of another
site cannot drive the console, and another address gets no answer."""

import json
import os
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import nbharness as h  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
CONSOLE = "http://localhost:3344/"

INI = {
    "Login": "31337", "Password": "", "Port": "4321", "SettingsPort": "3344",
    "BlockingActiveX": "1", "BlockingFlash": "1", "BlockingBanners": "0", "JpgLvl": "1",
    "BlockingContent": "", "BlockingUrls": "adserver;GetAd;", "AllowHosts": "192.168.5.*;",
    "TrafficCost": "3", "TotalTraffic": "10485760", "CompressTraffic": "5242880",
    "Money": "0", "StatSince": "1104537600", "ProxyName": "", "ProxyPort": "",
    "ProxyLogin": "", "ProxyPassword": "keep",
}

ATTACK_PAGE = """<html><body>
<img src="http://localhost:3344/stop" width="1" height="1">
<form id="f" method="post" action="http://localhost:3344/settings">
<input name="idJpgLvl" value="2"><input name="idProxyName" value="127.0.0.9">
<input name="idProxyPort" value="8080"><input name="idForbiddenUrls" value="">
</form>
<script>setTimeout(function () { document.getElementById('f').submit(); }, 500);</script>
</body></html>
"""


def ensure_node_modules():
    if not os.path.isdir(os.path.join(HERE, "node_modules", "playwright-core")):
        subprocess.run(["npm", "ci", "--no-audit", "--no-fund"], cwd=HERE, check=True,
                       stdin=subprocess.DEVNULL, timeout=600)


def browser(scenario, **args):
    """Runs one scenario of settings_browser.js; returns its JSON result."""
    p = subprocess.run(["node", os.path.join(HERE, "settings_browser.js"), scenario,
                        json.dumps(args)], cwd=HERE, stdin=subprocess.DEVNULL,
                       capture_output=True, text=True, timeout=180)
    if p.returncode != 0:
        raise AssertionError("browser %s failed: %s" % (scenario, p.stderr[-3000:]))
    return json.loads(p.stdout.strip().splitlines()[-1])


class InstallerDefaults(unittest.TestCase):

    def test_default_options_file_loads_and_shows(self):
        with open(os.path.join(h.ARGS.source, "share", "NimbrelClient.ini"), "rb") as f:
            text = f.read().decode("cp1251")
        client = h.ClientInstall(ini=text)
        client.start()
        try:
            h.wait_port("127.0.0.1", 3344, proc=client.proc)
            raw = h.raw_request(b"GET / HTTP/1.0\r\nHost: localhost:3344\r\n\r\n", port=3344)
            status, _, body = h.split_answer(raw)
            self.assertEqual(status, "HTTP/1.0 200 OK")
            page = body.decode("cp1251")
            urls = page.split('id="idForbiddenUrls"')[1].split(">", 1)[1].split("</textarea>")[0]
            entries = urls.split("\n")[:-1]
            self.assertEqual(len(entries), 49)
            self.assertEqual(len(set(entries)), 48)
            for fragment in ("adserver", "GetAd", "hitometer.js"):
                self.assertIn(fragment, entries)
            self.assertIn('nbSelect("idJpgLvl", 1);', page)
            self.assertIn('nbSelect("idBlockFlash", 1);', page)
            ini = client.read_ini()
            self.assertEqual(ini["CompressOff"], "0")  # compression starts switched on
            self.assertEqual(ini["TrafficCost"], "3")
            self.assertNotEqual(ini["StatSince"], "")
        finally:
            client.stop()


class SettingsConsole(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        ensure_node_modules()

    def setUp(self):
        self.client = h.ClientInstall(ini=INI)
        self.client.start()
        h.wait_port("127.0.0.1", 3344, proc=self.client.proc)

    def tearDown(self):
        self.client.stop()

    def test_browser_shows_and_applies_settings(self):
        shot = os.path.join(os.getcwd(), "settings_page.png")
        r = browser("edit", url=CONSOLE, screenshot=shot)
        print("screenshot of the settings page:", shot)
        b = r["before"]
        self.assertEqual(b["title"], "Страница настройки - Nimbrel Client")
        self.assertEqual(b["charset"].lower(), "windows-1251")
        self.assertEqual(b["firstField"], "idJpgLvl")
        self.assertEqual(b["method"], "post")
        self.assertEqual(b["selected"], {"idJpgLvl": 1, "idBlockFlash": 1,
                                         "idBlockActiveX": 1, "idBlockBanners": 0})
        self.assertEqual(b["options"]["idJpgLvl"], ["Низкое", "Среднее", "Без сжатия"])
        self.assertEqual(b["options"]["idBlockFlash"], ["Разрешать", "Блокировать"])
        f = b["fields"]
        self.assertEqual(f["idLogin"], "31337")
        self.assertEqual(f["idPassword"], "********")
        self.assertEqual(f["idProxyPassword"], "********")
        self.assertEqual(b["types"], {"idPassword": "password", "idProxyPassword": "password"})
        self.assertEqual(f["idTrafficCost"], "3")
        self.assertEqual(f["idForbiddenUrls"], "adserver\nGetAd\n")
        self.assertEqual(f["idChildClients"], "192.168.5.*\n")
        self.assertEqual(f["idProxyName"], "")
        self.assertEqual(f["idServiceHost"], "")
        for text in ("Настройки сжатия", "Данные пользователя", "Статистика", "Внешний прокси",
                     "Сервис сжатия", "Многопользовательский доступ", "Доступ: Приоритетный",
                     "Качество графики:", "Баннеры:"):
            self.assertIn(text, b["text"])
        # 10 MB before, 5 MB after at 3 roubles: ratio 2, 30, 15 and 15 saved.
        stats = " ".join(b["text"].split())
        for text in ("Трафик без сжатия, Мб 10", "Трафик после сжатия, Мб 5",
                     "Степень сжатия 2", "Стоило бы без сжатия, руб. 30",
                     "Потрачено со сжатием, руб. 15", "Сэкономлено, руб. 15"):
            self.assertIn(text, stats)
        self.assertEqual(b["image"], {"complete": True, "width": 256})
        self.assertEqual(b["stopButton"], [{"action": "/stop", "method": "get",
                                            "button": "  Х  "}])
        self.assertEqual(len(b["loginLink"]), 1)

        a = r["after"]
        self.assertEqual(a["selected"], {"idJpgLvl": 2, "idBlockFlash": 0,
                                         "idBlockActiveX": 1, "idBlockBanners": 0})
        # "+", "&" and "=" typed by the user arrive whole.
        self.assertEqual(a["fields"]["idForbiddenContent"], "casino\nc++&q=1\n")
        self.assertEqual(a["fields"]["idServiceHost"], "svc.example:8443")
        self.assertEqual(a["fields"]["idProxyName"], "127.0.0.3")
        ini = self.client.read_ini()
        self.assertEqual(ini["JpgLvl"], "2")
        self.assertEqual(ini["BlockingFlash"], "0")
        self.assertEqual(ini["BlockingActiveX"], "1")
        self.assertEqual(ini["BlockingBanners"], "0")
        self.assertEqual(ini["BlockingContent"], "casino;c++&q=1;")
        self.assertEqual(ini["BlockingUrls"], "ads.one.example;ads.two.example;")
        self.assertEqual(ini["AllowHosts"], "")
        self.assertEqual(ini["ProxyName"], "127.0.0.3")
        self.assertEqual(ini["ProxyPort"], "3128")
        self.assertEqual(ini["ProxyLogin"], "squser")
        self.assertEqual(ini["ProxyPassword"], "sq&pa=ss+")
        self.assertEqual(ini["ServiceHost"], "svc.example:8443")
        self.assertEqual(ini["TrafficCost"], "2.5")
        self.assertEqual(ini["Login"], "31337")
        self.assertEqual(ini["Password"], "")  # "********" left it as it was
        self.assertTrue(self.client.proc.alive())

    def test_stop_button_ends_the_program(self):
        r = browser("stop", url=CONSOLE)
        self.assertIn("/stop", r["url"])
        self.assertIn("Программа NimbrelClient завершена", r["text"])
        self.assertEqual(self.client.proc.wait(15), 0)

    def test_other_site_cannot_drive_the_console(self):
        before = self.client.read_ini()
        root = tempfile.mkdtemp(prefix="nb-attack-")
        os.chmod(root, 0o755)
        with open(os.path.join(root, "attack.html"), "w") as f:
            f.write(ATTACK_PAGE)
        site = h.Nginx(root, listen=(("127.0.0.2", 80),))
        try:
            browser("forge", url="http://127.0.0.2/attack.html")
        finally:
            site.stop()
        self.assertIn("GET /attack.html", site.access_log())
        time.sleep(3)  # a stop that was honoured would end the program by now
        self.assertTrue(self.client.proc.alive(), self.client.proc.output()[-2000:])
        self.assertEqual(self.client.read_ini(), before)
        # The console itself still answers its own user.
        status, _, body = h.split_answer(
            h.raw_request(b"GET / HTTP/1.0\r\nHost: localhost:3344\r\n\r\n", port=3344))
        self.assertEqual(status, "HTTP/1.0 200 OK")
        self.assertIn("Nimbrel Client".encode(), body)

    def test_other_address_gets_no_answer(self):
        # A documentation address on the namespace's loopback device: not in
        # 127.0.0.0/8, so the console must treat it as another computer.
        h.run(["ip", "addr", "add", "192.0.2.1/32", "dev", "lo"])
        request = b"GET / HTTP/1.0\r\nHost: localhost:3344\r\n\r\n"
        self.assertEqual(h.raw_request(request, host="192.0.2.1", port=3344, timeout=5,
                                       source="192.0.2.1"), b"")
        answer = h.raw_request(request, host="127.0.0.1", port=3344)
        self.assertTrue(answer.startswith(b"HTTP/1.0 200 OK\r\n"), answer[:200])


if __name__ == "__main__":
    h.main()
