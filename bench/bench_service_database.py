#!/usr/bin/env python3
"""NimbrelService against its PostgreSQL account database, in a private
network namespace (root): the database connections one node opens while
many slow answers are in flight, and how long the browser waits for the 503
page when the database falls silent (a relay that stops forwarding and never
closes). Prints figures.

    bench/bench_service_database.py [--service build/linux/service/NimbrelService]
                                    [--answers 110] [--db-connections 4]
"""

import argparse
import os
import sys
import threading
import time

SRC = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(SRC, "tests", "e2e"))
import nbharness as h  # noqa: E402
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench_ns  # noqa: E402
import db_peers as db  # noqa: E402
import svc_common as sc  # noqa: E402

LOGIN, PASSWORD = 601, "bench"


def slow_answers(pg, answers, connections):
    """Largest number of PostgreSQL backends while `answers` answers wait."""
    site = db.HeldSite(expected=answers)
    flags = ["--db", pg.url, "--max-per-address", str(answers + 10), "--max-connections",
             str(answers + 10)]
    if connections:
        flags += ["--db-connections", str(connections)]
    service = sc.Service(extra=flags)
    page = db.request(LOGIN, PASSWORD, *db.HELD_SITE)
    whole = []

    def fetch():
        content = db.exchange(page, timeout=300)[0]
        whole.append(content[-len(site.body):] == site.body)

    threads = [threading.Thread(target=fetch) for _ in range(answers)]
    t0 = time.time()
    try:
        for t in threads:
            t.start()
        arrived = site.all_arrived.wait(300)
        peak = max(db.backends(pg) for _ in range(10))
    finally:
        site.release()
        for t in threads:
            t.join(300)
        secs = time.time() - t0
        service.stop()
        site.stop()
    print("%d slow answers in flight (%s): PostgreSQL backends at most %d; "
          "%d of %d answers whole in %.1f s" %
          (answers, "all reached the site" if arrived else "NOT all reached the site", peak,
           sum(whole), answers, secs), flush=True)


def silent_database(pg):
    relay = db.SilentRelay(pg)
    site = db.HeldSite(expected=1, size=1000)
    site.release()
    service = sc.Service(extra=["--db", relay.url()])
    page = db.request(LOGIN, PASSWORD, *db.HELD_SITE)
    try:
        content, secs = db.exchange(page)
        print("database answering: %s in %.2f s" %
              ("served" if content.endswith(site.body) else "NOT served", secs), flush=True)
        relay.silence()
        for what in ("pooled connection", "fresh connection", "fresh connection"):
            content, secs = db.exchange(page, timeout=60)
            got = "503 page" if b"503" in content[:20] else "no 503 page (%r)" % content[:40]
            print("database silent, %s: %s after %.2f s" % (what, got, secs), flush=True)
    finally:
        service.stop()
        site.stop()
        relay.stop()


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--service", default=os.path.join(SRC, "build/linux/service/NimbrelService"))
    p.add_argument("--answers", type=int, default=110)
    p.add_argument("--db-connections", type=int, default=0, help="0: the service's default")
    args = p.parse_args()
    bench_ns.enter(__file__, service=args.service)
    pg = db.Postgres()
    try:
        db.add_account(pg, LOGIN, PASSWORD)
        slow_answers(pg, args.answers, args.db_connections)
        silent_database(pg)
    finally:
        pg.stop()
        pg.remove()
    return 0


if __name__ == "__main__":
    sys.exit(main())
