"""Start and stop of the client: one copy per port, the options file beside
the program, a clean end on SIGTERM/SIGINT, a restart right after serving."""

import os
import socket
import signal
import tempfile
import time
import unittest

import nbharness as h

ALREADY_ON = "Nimbrel Client уже включен.".encode("cp1251")
SAVE_ORDER = ["Login", "Password", "Port", "SettingsPort", "BlockingActiveX",
              "BlockingFlash", "BlockingBanners", "CompressOff", "JpgLvl",
              "BlockingContent", "BlockingUrls", "AllowHosts", "TrafficCost",
              "TotalTraffic", "CompressTraffic", "Money", "StatSince", "ProxyName",
              "ProxyPort", "ProxyLogin", "ProxyPassword"]


def wait_until(pred, timeout=15):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if pred():
            return True
        time.sleep(0.05)
    return pred()


def not_found_page(host="nosuch.invalid", port=4321):
    """A request the client answers by itself and then closes first."""
    req = "GET http://%s/ HTTP/1.0\r\nHost: %s\r\n\r\n" % (host, host)
    return h.raw_request(req.encode(), port=port, timeout=10)


class Lifecycle(unittest.TestCase):
    def setUp(self):
        self.procs = []

    def tearDown(self):
        for p in self.procs:
            if not p._log.closed:
                p.stop(signal.SIGKILL)

    def start(self, inst, **kw):
        p = inst.start(**kw)
        self.procs.append(p)
        return p

    def test_second_copy_started_at_once_is_refused(self):
        inst = h.ClientInstall()
        a = self.start(inst, wait=False)
        b = h.Proc([inst.exe], cwd=inst.dir)
        self.procs.append(b)
        self.assertTrue(wait_until(lambda: not a.alive() or not b.alive()),
                        "both copies kept running")
        refused, serving = (a, b) if not a.alive() else (b, a)
        self.assertEqual(refused.wait(), 0)
        self.assertIn(ALREADY_ON, refused.output())
        h.wait_port("127.0.0.1", 4321, proc=serving)
        self.assertIn(b"nosuch.invalid not found.", not_found_page())
        # A third copy while the first serves: refused the same way.
        c = h.Proc([inst.exe], cwd=inst.dir)
        self.procs.append(c)
        self.assertEqual(c.wait(15), 0)
        self.assertIn(ALREADY_ON, c.output())
        self.assertTrue(serving.alive())
        self.assertEqual(serving.stop(), 0)
        self.assertEqual(list(inst.read_ini()), SAVE_ORDER)

    def test_port_held_by_another_program_is_named_and_fails(self):
        other = socket.socket()
        # Connections of earlier tests may still wind down on the port.
        other.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        other.bind(("127.0.0.1", 4321))
        other.listen(1)
        try:
            inst = h.ClientInstall()
            p = h.Proc([inst.exe], cwd=inst.dir)
            self.procs.append(p)
            self.assertNotIn(p.wait(15), (0, None))
            out = p.output()
            self.assertNotIn(ALREADY_ON, out)
            self.assertIn("Порт 4321 занят".encode("cp1251"), out)
        finally:
            other.close()

    def test_options_file_beside_the_program_is_normalised(self):
        inst = h.ClientInstall(ini="Port:4321\r\nBlockingFlash:2\r\nport:1\r\n"
                                   "BlockingUrls:a;;b\r\nTotalTraffic:1234567\r\n")
        elsewhere = tempfile.mkdtemp(prefix="nb-cwd-")
        self.start(inst, cwd=elsewhere)
        self.assertEqual(os.listdir(elsewhere), [], "nothing written to the working directory")
        with open(inst.ini_path, "rb") as f:
            raw = f.read()
        lines = raw.split(b"\r\n")
        self.assertEqual(lines[-1], b"", "every line ends in CR LF")
        self.assertEqual([l.split(b":")[0].decode() for l in lines[:-1]], SAVE_ORDER)
        self.assertNotIn(b"\n", raw.replace(b"\r\n", b""))
        ini = inst.read_ini()
        self.assertEqual(ini["BlockingFlash"], "0")
        self.assertEqual(ini["BlockingUrls"], "a;b;")
        self.assertEqual(ini["TotalTraffic"], "1234567", "every digit kept")
        self.assertEqual(ini["Port"], "4321")
        self.assertEqual(inst.stop(), 0)

    def test_sigterm_and_sigint_end_with_status_zero(self):
        inst = h.ClientInstall()
        for sig in (signal.SIGTERM, signal.SIGINT):
            p = self.start(inst)
            self.assertIn(b"not found.", not_found_page())
            self.assertEqual(p.stop(sig), 0, "signal %d" % sig)
            self.assertFalse(h.port_open("127.0.0.1", 4321))

    def test_restart_right_after_serving_binds_again(self):
        inst = h.ClientInstall()
        p = self.start(inst)
        for _ in range(3):
            self.assertIn(b"not found.", not_found_page())
        self.assertEqual(p.stop(), 0)
        # The closed connections still wind down on the proxy port.
        p = self.start(inst)
        self.assertIn(b"not found.", not_found_page())
        self.assertNotIn(ALREADY_ON, p.output())
        self.assertEqual(p.stop(), 0)

    def test_port_above_65535_takes_the_default(self):
        # Never cut to 16 bits: 65536 + 4330 would listen on 4330.
        inst = h.ClientInstall(ini="Port:%d\r\n" % (65536 + 4330))
        p = self.start(inst)
        self.assertIn(b"not found.", not_found_page())
        self.assertFalse(h.port_open("127.0.0.1", 4330))
        self.assertEqual(inst.read_ini()["Port"], "4321")
        self.assertEqual(p.stop(), 0)

    def test_browser_leaving_mid_answer_does_not_end_the_program(self):
        big = b"x" * (8 * 1024 * 1024)
        site = h.RecordingSite("127.0.0.2", 80, lambda req: h.http_response(big, "application/zip"))
        try:
            inst = h.ClientInstall()
            p = self.start(inst)
            for _ in range(3):
                s = socket.create_connection(("127.0.0.1", 4321), timeout=10)
                s.sendall(b"GET http://127.0.0.2/big.zip HTTP/1.0\r\nHost: 127.0.0.2\r\n\r\n")
                s.recv(1000)
                s.close()
            time.sleep(0.5)
            self.assertTrue(p.alive(), p.output()[-2000:])
            answer = h.proxy_get("http://127.0.0.2/big.zip", timeout=30)
            self.assertTrue(answer.endswith(big[-1000:]))
            self.assertGreaterEqual(len(answer), len(big))
            self.assertEqual(p.stop(), 0)
        finally:
            site.stop()


if __name__ == "__main__":
    h.main()
