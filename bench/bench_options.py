#!/usr/bin/env python3
"""The options file under faults and the totals under concurrency, in a
private network and mount namespace, against a scripted service that
answers every request with one plain packet of PACKET bytes (the client
writes its counters every 2 s and at stop, the settings form at once):
  - full file system: the client works in a small tmpfs filled to the last
    byte; saves fail, the file must stay whole and old; once room is back,
    the next save must be whole and new;
  - kill -9 while saves run from many threads: after each kill the file
    must be whole;
  - totals: REQUESTS requests from 50 browsers while the settings form is
    submitted in a loop; the saved totals must equal the packets the
    service sent.

  bench/bench_options.py [--client PATH] [--requests N] [--kills N]

Needs root (unshare, mount); defaults to build/linux.
"""

import argparse
import concurrent.futures
import os
import random
import signal
import sys
import tempfile
import threading
import time

SRC = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(SRC, "tests", "e2e"))
import nbharness as h  # noqa: E402
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench_ns  # noqa: E402
import scripted_service as svc  # noqa: E402
import svc_common as sc  # noqa: E402

PACKET = 37
URL = "http://127.0.0.2/p.html"
results = []


def report(name, held, text):
    results.append(held)
    print("%-26s %s  %s" % (name, "held" if held else "NOT HELD", text), flush=True)


def read_file(path):
    with open(path, "rb") as f:
        return f.read()


def keys_of(text):
    """Keys of the lines, or None when a line is not "Key:value" CR LF."""
    if not text.endswith(b"\r\n"):
        return None
    keys = []
    for line in text[:-2].split(b"\r\n"):
        key, colon, _ = line.partition(b":")
        if not colon or not key:
            return None
        keys.append(key)
    return keys


def requests(n, browsers=20):
    with concurrent.futures.ThreadPoolExecutor(browsers) as pool:
        return list(pool.map(lambda _: h.proxy_get(URL, timeout=30), range(n)))


# The client writes its counters at most this long after they change.
FLUSH_S = 2


def changed_from(path, before, timeout=10):
    """The file once it differs from before (the counters' flush), or as it
    stands after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        text = read_file(path)
        if text != before or time.monotonic() > deadline:
            return text
        time.sleep(0.05)


def start_client(client, cwd):
    proc = h.Proc([client.exe], cwd=cwd, log=os.path.join(client.dir, "out.log"))
    h.wait_port("127.0.0.1", 4321, proc=proc)
    return proc


def full_file_system(client):
    # The client keeps its files beside its program: both go on the tmpfs.
    fs = tempfile.mkdtemp(prefix="nb-tmpfs-")
    size = os.path.getsize(client.exe) // 1024 + 64
    h.run(["mount", "-t", "tmpfs", "-o", "size=%dk" % size, "tmpfs", fs])
    try:
        ini = os.path.join(fs, "NimbrelClient.ini")
        with open(ini, "wb") as f:
            f.write(read_file(client.ini_path))
        exe = os.path.join(fs, os.path.basename(client.exe))
        with open(exe, "wb") as f:
            f.write(read_file(client.exe))
        os.chmod(exe, 0o755)
        proc = h.Proc([exe], cwd=fs, log=os.path.join(client.dir, "out.log"))
        h.wait_port("127.0.0.1", 4321, proc=proc)
        copied = read_file(ini)
        requests(1)  # one whole save: the reference
        old = changed_from(ini, copied)
        want = keys_of(old)
        fd = os.open(os.path.join(fs, "filler"), os.O_WRONLY | os.O_CREAT, 0o644)
        try:
            while os.write(fd, b"\0" * 512) > 0:
                pass
        except OSError:
            pass
        os.close(fd)
        answers = requests(50)
        time.sleep(2 * FLUSH_S)  # the flush timer has tried and failed meanwhile
        still_old = read_file(ini) == old
        os.remove(os.path.join(fs, "filler"))
        requests(1)
        new = changed_from(ini, old)
        proc.stop()
        leftovers = sorted(set(os.listdir(fs)) - {"NimbrelClient.ini", "nimbrel.log",
                                                  os.path.basename(exe)})
        report("full file system", still_old and keys_of(new) == want and new != old,
               "failed saves of 50 pages' counts left the file whole and old: %s; next save whole and new: %s;"
               " %d of 50 pages served; other files left: %s" %
               (still_old, keys_of(new) == want and new != old,
                sum(1 for a in answers if a.endswith(b"x" * PACKET)), leftovers or "none"))
    finally:
        h.run(["umount", fs], check=False)
        os.rmdir(fs)


def kill_nine(client, kills):
    proc = start_client(client, client.dir)
    requests(1)  # one whole save: the reference
    proc.stop()
    want = keys_of(read_file(client.ini_path))
    whole, broken = 0, None
    rng = random.Random(9)
    for _ in range(kills):
        proc = start_client(client, client.dir)
        stop = threading.Event()

        def load():
            while not stop.is_set():
                try:
                    requests(20, 10)
                except OSError:
                    pass

        t = threading.Thread(target=load)
        t.start()
        time.sleep(rng.uniform(0.2, 0.8))
        os.killpg(proc.p.pid, signal.SIGKILL)
        proc.p.wait()
        stop.set()
        t.join()
        text = read_file(client.ini_path)
        if keys_of(text) == want:
            whole += 1
        else:
            broken = text
    leftovers = [n for n in os.listdir(client.dir) if n.startswith("NimbrelClient.ini") and
                 n != "NimbrelClient.ini"]
    report("kill -9 during saves", whole == kills,
           "file whole after %d of %d kills; temporary files left: %d" %
           (whole, kills, len(leftovers)) + ("; a broken one: %r" % broken if broken else ""))


def totals(client, service, n):
    before = service.count()
    proc = start_client(client, client.dir)
    stop = threading.Event()
    forms = [0]

    def submit_forms():
        body = b"idJpgLvl=1&idTrafficCost=3&idLogin=0"
        req = (b"POST /settings HTTP/1.1\r\nHost: 127.0.0.1:3344\r\nOrigin: http://127.0.0.1:3344"
               b"\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: %d"
               b"\r\n\r\n%s" % (len(body), body))
        while not stop.is_set():
            h.raw_request(req, port=3344, timeout=10)
            forms[0] += 1

    t = threading.Thread(target=submit_forms)
    t.start()
    start = time.time()
    answers = requests(n, 50)
    secs = time.time() - start
    stop.set()
    t.join()
    proc.stop()
    sent = service.count() - before
    ini = client.read_ini()
    got = (float(ini["TotalTraffic"]), float(ini["CompressTraffic"]))
    delivered = sum(1 for a in answers if a.endswith(b"x" * PACKET))
    report("totals under concurrency", got == (sent * PACKET, sent * PACKET) and delivered == n,
           "%d requests in %.1f s with %d form submissions; service sent %d packets of %d "
           "bytes; saved totals %g / %g; pages delivered %d" %
           (n, secs, forms[0], sent, PACKET, got[0], got[1], delivered))


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--client", default=os.path.join(SRC, "build/linux/client/NimbrelClient"))
    p.add_argument("--requests", type=int, default=10000)
    p.add_argument("--kills", type=int, default=20)
    args = p.parse_args()
    bench_ns.enter(__file__, client=args.client)
    service = svc.ScriptedService(script=lambda c: c.packet(svc.NOCOMPRESS, b"x" * PACKET))
    try:
        client = h.ClientInstall(ini=sc.client_ini())
        full_file_system(client)
        kill_nine(client, args.kills)
    finally:
        service.stop()
    # A service of its own: no request of the kills arrives late in its count.
    service = svc.ScriptedService(script=lambda c: c.packet(svc.NOCOMPRESS, b"x" * PACKET))
    try:
        totals(h.ClientInstall(ini=sc.client_ini()), service, args.requests)
    finally:
        service.stop()
    print("options held" if all(results) else "OPTIONS NOT HELD")
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
