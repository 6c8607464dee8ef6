"""Accounts of the real NimbrelService seen through the real client: a wrong
password is refused, an account that runs out of money sends the client to
the direct road for the rest of its run, a guest is served when allowed, and
the service stops cleanly on SIGTERM."""

import os
import socket
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import nbharness as h  # noqa: E402
import svc_common as sc  # noqa: E402

SITE = "http://%s" % sc.SITE_IP


class ServiceAccounts(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.site = sc.Site()
        # Expensive enough that one documentation page empties a small account.
        cls.service = sc.Service(price=100000)
        cls.service.account(201, password="right", money="100000")
        cls.service.account(202, password="thin", money="1.00")

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()
        cls.site.stop()

    def setUp(self):
        self.client = None

    def tearDown(self):
        if self.client:
            self.client.stop()

    def records_since(self, n):
        return self.service.records()[n:]

    def nginx_hits(self, path):
        return sum(1 for line in self.site.nginx.access_log().splitlines()
                   if ("GET %s " % path) in line)

    def test_wrong_password_gets_authentication_failure(self):
        self.client = sc.start_client(login=201, password_digest=sc.md5hex("wrong"))
        since = len(self.service.records())
        hits = self.nginx_hits("/doc.html")
        raw = h.proxy_get(SITE + "/doc.html")
        recs = self.records_since(since)
        self.assertEqual(len(recs), 1, recs)
        self.assertEqual(recs[0]["result"], "authfailed")
        self.assertEqual(recs[0]["kinds"], "5,6")
        self.assertNotIn(self.site.file_bytes("doc.html")[-200:], raw)
        self.assertEqual(self.nginx_hits("/doc.html"), hits)

    def test_account_running_out_of_money_switches_client_to_direct(self):
        self.client = sc.start_client(login=202, password_digest=sc.md5hex("thin"))
        page = self.site.file_bytes("doc.html")
        since = len(self.service.records())
        bodies = []
        for _ in range(3):
            _, _, body = sc.body_of(h.proxy_get(SITE + "/doc.html"))
            bodies.append(body)
        # The first answer empties the account: whole when the page fits in
        # one piece, else cut where the money ran out (the browser's
        # connection is reset, no page looks whole). Then the client goes
        # direct.
        recs = self.records_since(since)
        self.assertIn(recs[0]["result"], ("served", "nomoney-cut"), recs)
        if recs[0]["result"] == "served":
            self.assertEqual(bodies[0], page)
        else:
            self.assertLess(len(bodies[0]), len(page))
        for body in bodies[1:]:
            self.assertEqual(body, page)
        self.assertEqual([r["result"] for r in recs[1:]], ["nomoney"], recs)
        self.assertLessEqual(recs[0]["money"], 0)
        self.assertEqual(recs[1]["kinds"], "7")
        ini = self.client.read_ini_when(lambda i: float(i.get("Money", 1)) <= 0)
        self.assertLessEqual(float(ini["Money"]), 0)

    def test_guest_is_served(self):
        self.client = sc.start_client(login=0, password_digest="")
        since = len(self.service.records())
        _, _, body = sc.body_of(h.proxy_get(SITE + "/index.html"))
        self.assertIn(b"Compressed road works", body)
        recs = self.records_since(since)
        self.assertEqual([(r["login"], r["result"]) for r in recs], [(0, "served")])
        self.assertEqual(recs[0]["charged"], 0)


class ServiceStartFailures(unittest.TestCase):
    def run_service(self, *args):
        return h.run([h.ARGS.service] + list(args), check=False, timeout=30)

    def test_busy_port_and_unopenable_database_end_with_a_message(self):
        holder = sc.Service()
        try:
            r = self.run_service("--listen", "127.0.0.1", "--port", str(sc.SERVICE_PORT),
                                 "--db", os.path.join(holder.dir, "second.db"))
            self.assertNotEqual(r.returncode, 0)
            self.assertIn("cannot bind 127.0.0.1:443", r.stderr)
        finally:
            holder.stop()
        r = self.run_service("--port", "0", "--db", "/nonexistent-folder/accounts.db")
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("cannot open database", r.stderr)
        r = self.run_service("--port", "notaport")
        self.assertNotEqual(r.returncode, 0)


class ServiceStop(unittest.TestCase):
    def test_sigterm_right_after_serving_ends_with_status_0(self):
        # Stopping used to race with the stop signal's thread now and then.
        for _ in range(30):
            service = sc.Service(guest=False)
            for _ in range(2):
                with socket.create_connection(("127.0.0.1", sc.SERVICE_PORT), timeout=5) as c:
                    c.sendall(bytes(28))  # an empty request: read, refused, logged
                    c.recv(16)
            self.assertEqual(service.stop(), 0)


if __name__ == "__main__":
    h.main()
