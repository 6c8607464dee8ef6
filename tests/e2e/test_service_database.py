"""The real NimbrelService with its accounts in a real PostgreSQL server: a
database that falls silent (a relay stops forwarding and never closes) gets
the browser the 503 page within 10 s, and many slow answers in flight hold
no more database connections than the node's bound."""

import os
import sys
import threading
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import nbharness as h  # noqa: E402
import svc_common as sc  # noqa: E402
import db_peers as db  # noqa: E402

LOGIN, PASSWORD = 501, "pool"


class ServiceDatabase(unittest.TestCase):
    def setUp(self):
        self.pg = db.Postgres()
        db.add_account(self.pg, LOGIN, PASSWORD)
        self.relay = self.site = self.service = None

    def tearDown(self):
        for peer in (self.service, self.site, self.relay):
            if peer:
                peer.stop()
        self.pg.stop()
        self.pg.remove()

    def test_silent_database_gets_the_503_page_within_ten_seconds(self):
        self.relay = db.SilentRelay(self.pg)
        self.site = db.HeldSite(expected=1, size=1000)
        self.site.release()
        self.service = sc.Service(extra=["--db", self.relay.url()])
        page = db.request(LOGIN, PASSWORD, *db.HELD_SITE)
        content, _ = db.exchange(page)
        self.assertEqual(content[-1000:], self.site.body)  # served; a connection is pooled
        self.relay.silence()
        # First on the pooled connection, then on fresh ones.
        for _ in range(2):
            content, secs = db.exchange(page, timeout=30)
            self.assertIn(b"503", content[:20])
            self.assertIn(b"account database", content)
            self.assertLess(secs, 10)

    def test_slow_answers_hold_no_more_connections_than_the_bound(self):
        in_flight = 30
        self.site = db.HeldSite(expected=in_flight)
        self.service = sc.Service(extra=["--db", self.pg.url, "--db-connections", "4"])
        page = db.request(LOGIN, PASSWORD, *db.HELD_SITE)
        results = []

        def fetch():
            results.append(db.exchange(page, timeout=120)[0])

        threads = [threading.Thread(target=fetch) for _ in range(in_flight)]
        for t in threads:
            t.start()
        try:
            self.assertTrue(self.site.all_arrived.wait(120))
            held = max(db.backends(self.pg) for _ in range(5))
        finally:
            self.site.release()
            for t in threads:
                t.join(180)
        self.assertLessEqual(held, 4)
        self.assertEqual(len(results), in_flight)
        for content in results:
            self.assertEqual(content[-len(self.site.body):], self.site.body)


if __name__ == "__main__":
    h.main()
