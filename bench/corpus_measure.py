"""Measures the compressed road on the corpus laid out by corpus_assemble.sh.

Runs in a private network namespace: nginx serves the corpus on 127.0.0.2
(plain) and 127.0.0.3 (gzip level 9), NimbrelService listens on
127.0.0.1:443, NimbrelClient on 4321. Prints bytes on the client-service
link against direct fetches per content type, image quality per quality
code, pages per second at 20 concurrent browsers and the service's CPU time
per page with a cold and a warm packing cache, and the time to the first
answer packet for the largest page."""

import argparse
import bz2
import os
import queue
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

ARGS = None


def reexec_in_namespace():
    if os.environ.get("NB_BENCH_NS") == "1":
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        return
    env = dict(os.environ, NB_BENCH_NS="1")
    cmd = ["unshare", "--net", "--mount", "--propagation", "private",
           sys.executable, os.path.abspath(sys.argv[0])] + sys.argv[1:]
    sys.exit(subprocess.call(cmd, env=env, stdin=subprocess.DEVNULL))


def kind_of(path):
    ext = path.rsplit(".", 1)[-1].lower()
    return {"html": "html", "css": "css", "js": "js", "jpg": "jpeg", "jpeg": "jpeg"}.get(ext)


def corpus_paths(corpus):
    paths = []
    for root, _, files in os.walk(corpus):
        for f in files:
            full = os.path.join(root, f)
            rel = "/" + os.path.relpath(full, corpus)
            if kind_of(rel):
                paths.append(rel)
    return sorted(paths)


def gray_pixels(data):
    """(width, height, bytes) of a JPEG as 8-bit luminance, via ImageMagick."""
    with tempfile.NamedTemporaryFile(suffix=".jpg") as f:
        f.write(data)
        f.flush()
        size = subprocess.run(["identify", "-format", "%w %h", f.name + "[0]"],
                              capture_output=True, text=True, check=True).stdout.split()
        raw = subprocess.run(["convert", f.name, "-colorspace", "Gray", "-depth", "8",
                              "gray:-"], capture_output=True, check=True).stdout
    return int(size[0]), int(size[1]), raw


def ssim(a, b):
    """Mean SSIM of two equal-size luminance images, 7x7 uniform windows."""
    import numpy as np
    wa, ha, ra = a
    wb, hb, rb = b
    if (wa, ha) != (wb, hb):
        return 0.0
    x = np.frombuffer(ra, dtype=np.uint8).reshape(ha, wa).astype(np.float64)
    y = np.frombuffer(rb, dtype=np.uint8).reshape(hb, wb).astype(np.float64)
    win = 7

    def box(img):
        c = np.cumsum(np.cumsum(img, axis=0), axis=1)
        c = np.pad(c, ((1, 0), (1, 0)))
        s = c[win:, win:] - c[:-win, win:] - c[win:, :-win] + c[:-win, :-win]
        return s / (win * win)

    mx, my = box(x), box(y)
    sxx = box(x * x) - mx * mx
    syy = box(y * y) - my * my
    sxy = box(x * y) - mx * my
    n = win * win
    sxx, syy, sxy = sxx * n / (n - 1), syy * n / (n - 1), sxy * n / (n - 1)
    c1, c2 = (0.01 * 255) ** 2, (0.03 * 255) ** 2
    m = ((2 * mx * my + c1) * (2 * sxy + c2)) / ((mx * mx + my * my + c1) * (sxx + syy + c2))
    return float(m.mean())


def psnr(a, b):
    """PSNR in dB of two equal-size luminance images."""
    import numpy as np
    wa, ha, ra = a
    wb, hb, rb = b
    if (wa, ha) != (wb, hb):
        return 0.0
    x = np.frombuffer(ra, dtype=np.uint8).astype(np.float64)
    y = np.frombuffer(rb, dtype=np.uint8).astype(np.float64)
    mse = float(((x - y) ** 2).mean())
    return float("inf") if mse == 0 else 10 * np.log10(255.0 ** 2 / mse)


def cpu_seconds(pid):
    """User plus system CPU time of a process so far, in seconds."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def first_and_last_packet(ip, port, request, service=("127.0.0.1", 443)):
    """Seconds from sending a guest request straight to the service until the
    first answer packet header and until the service closes."""
    body = bz2.compress(request, 9)
    head = struct.pack("<i4sHHHxxiII", 0, socket.inet_aton(ip), port, 0, 4, int(time.time()),
                       len(body), len(request))
    with socket.create_connection(service, timeout=60) as s:
        t0 = time.time()
        s.sendall(head + body)
        first = None
        while True:
            chunk = s.recv(65536)
            if first is None and chunk:
                first = time.time() - t0
            if not chunk:
                return first, time.time() - t0


def main():
    global ARGS
    p = argparse.ArgumentParser()
    p.add_argument("--corpus", required=True)
    p.add_argument("--client", required=True)
    p.add_argument("--service", required=True)
    p.add_argument("--source", required=True)
    p.add_argument("--browsers", type=int, default=20)
    p.add_argument("--baseline-service", default="",
                   help="an older NimbrelService to compare the time to the first packet with")
    ARGS = p.parse_args()
    reexec_in_namespace()
    sys.path.insert(0, os.path.join(ARGS.source, "tests", "e2e"))
    import nbharness as h
    h.ARGS = argparse.Namespace(client=ARGS.client, service=ARGS.service, source=ARGS.source)
    h.set_hosts({})

    paths = corpus_paths(ARGS.corpus)
    kinds = sorted({kind_of(x) for x in paths})
    plain_site = h.Nginx(ARGS.corpus, listen=(("127.0.0.2", 80),))
    gzip_site = h.Nginx(ARGS.corpus, listen=(("127.0.0.3", 80),), gzip=True,
                        extra_server="gzip_comp_level 9;")
    workdir = tempfile.mkdtemp(prefix="nb-bench-")
    log = os.path.join(workdir, "service.log")

    def start_service(program=ARGS.service, extra=()):
        proc = h.Proc([program, "--listen", "127.0.0.1", "--port", "443", "--db",
                       os.path.join(workdir, "accounts.db"), "--log", log, "--allow-private",
                       "--guest"] + list(extra),
                      log=os.path.join(workdir, "service.out"))
        h.wait_port("127.0.0.1", 443, proc=proc)
        return proc

    service = start_service()
    sys.path.insert(0, os.path.join(ARGS.source, "tests", "e2e"))
    import svc_common as sc

    def records():
        out = []
        with open(log) as f:
            for line in f:
                m = sc.LOG_LINE.search(line)
                if m:
                    out.append(m.groupdict())
        return out

    def direct(ip, path, gz):
        req = "GET %s HTTP/1.1\r\nHost: %s\r\nConnection: close\r\n%s\r\n" % (
            path, ip, "Accept-Encoding: gzip\r\n" if gz else "")
        return h.raw_request(req.encode(), ip, 80, timeout=30)

    plain = {x: direct("127.0.0.2", x, False) for x in paths}
    gzipped = {x: len(direct("127.0.0.3", x, True)) for x in paths}

    road = {}       # level -> {path: link bytes}
    bodies = {}     # level -> {path: body}
    mismatches = {}
    direct_count = {}
    level_names = {1: "medium (code 1)", 0: "low (code 2)", 2: "untouched (code 4)"}
    for level in (1, 0, 2):
        client = h.ClientInstall(ini=sc.client_ini(jpeg_level=level))
        client.start()
        # The first exchange carries the clock correction; do it outside the figures.
        h.proxy_get("http://127.0.0.2/doc/_static/" +
                    sorted(os.listdir(os.path.join(ARGS.corpus, "doc", "_static")))[0])
        road[level], bodies[level], mismatches[level] = {}, {}, 0
        direct_count[level] = 0
        for x in paths:
            n = len(records())
            raw = h.proxy_get("http://127.0.0.2" + x, timeout=60)
            recs = records()[n:]
            if recs:
                road[level][x] = sum(int(r["sent"]) + int(r["received"]) for r in recs)
            else:
                # The client took its direct road: the whole answer crossed the link.
                road[level][x] = len(raw)
                direct_count[level] += 1
            _, _, body = h.split_answer(raw)
            bodies[level][x] = body
            if kind_of(x) != "jpeg" or level == 2:
                if raw != plain[x] and h.split_answer(raw)[2] != h.split_answer(plain[x])[2]:
                    mismatches[level] += 1
        client.stop()

    print("Corpus: %d files (%s) from %s" % (len(paths), ", ".join(
        "%d %s" % (sum(1 for x in paths if kind_of(x) == k), k) for k in kinds), ARGS.corpus))
    print()
    print("Bytes per content type (whole HTTP responses; link = both directions of the")
    print("client-service link, packet headers included, plus answers the client")
    print("fetched on its direct road)")
    fmt = "%-6s %12s %12s %7s %12s %7s %12s %7s"
    print(fmt % ("type", "direct", "gzip-9", "ratio", "link med", "ratio", "link low", "ratio"))
    rows = kinds + ["text", "all"]
    for k in rows:
        if k == "all":
            sel = paths
        elif k == "text":
            sel = [x for x in paths if kind_of(x) != "jpeg"]
        else:
            sel = [x for x in paths if kind_of(x) == k]
        d = sum(len(plain[x]) for x in sel)
        g = sum(gzipped[x] for x in sel)
        m = sum(road[1][x] for x in sel)
        lo = sum(road[0][x] for x in sel)
        print(fmt % (k, d, g, "%.3f" % (g / d), m, "%.3f" % (m / d), lo, "%.3f" % (lo / d)))
    d = sum(len(plain[x]) for x in paths)
    u = sum(road[2][x] for x in paths)
    print("all, images untouched (code 4): link %d bytes, ratio %.3f" % (u, u / d))
    for level in (1, 0, 2):
        print("%s: %d answers differ from the direct fetch, %d went direct" %
              (level_names[level], mismatches[level], direct_count[level]))
    print()

    print("Image quality (photos; SSIM and PSNR on luminance, SSIM over 7x7 windows)")
    photos = [x for x in paths if kind_of(x) == "jpeg"]
    for level in (1, 0):
        vals, ps, ratio_b, ratio_d = [], [], 0, 0
        for x in photos:
            orig = h.split_answer(plain[x])[2]
            got = bodies[level][x]
            ga, gb = gray_pixels(orig), gray_pixels(got)
            vals.append(ssim(ga, gb))
            ps.append(psnr(ga, gb))
            ratio_b += len(got)
            ratio_d += len(orig)
        print("%-20s bytes %.3f of original, SSIM mean %.4f min %.4f, PSNR mean %.2f dB" % (
            level_names[level], ratio_b / ratio_d, sum(vals) / len(vals), min(vals),
            sum(ps) / len(ps)))
        worst = sorted(zip(vals, photos))[:3]
        print("%-20s lowest SSIM: %s" % ("", ", ".join(
            "%s %.3f" % (os.path.basename(x), v) for v, x in worst)))
    print()

    pages = [x for x in paths if kind_of(x) == "html"]
    # A fresh service: the first pass meets an empty packing cache, the
    # second the same pages again.
    service.stop()
    service = start_service()
    client = h.ClientInstall(ini=sc.client_ini(jpeg_level=1))
    client.start()
    h.proxy_get("http://127.0.0.2/doc/_static/" +
                sorted(os.listdir(os.path.join(ARGS.corpus, "doc", "_static")))[0])
    expected = {x: h.split_answer(plain[x])[2] for x in pages}
    passes = (("through client and service, cold cache", lambda x: h.proxy_get(
        "http://127.0.0.2" + x, timeout=60)),
              ("through client and service, warm cache", lambda x: h.proxy_get(
                  "http://127.0.0.2" + x, timeout=60)),
              ("direct from nginx", lambda x: direct("127.0.0.2", x, False)))
    rates = []
    for label, fetch in passes:
        q = queue.Queue()
        for x in pages:
            q.put(x)
        failures, differ = [0], [0]

        def worker():
            while True:
                try:
                    x = q.get_nowait()
                except queue.Empty:
                    return
                raw = fetch(x)
                if b" 200 " not in raw[:20]:
                    failures[0] += 1
                elif h.split_answer(raw)[2] != expected[x]:
                    differ[0] += 1

        cpu0 = cpu_seconds(service.p.pid)
        ccpu0 = cpu_seconds(client.proc.p.pid)
        t0 = time.time()
        threads = [threading.Thread(target=worker) for _ in range(ARGS.browsers)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        dt = time.time() - t0
        cpu = cpu_seconds(service.p.pid) - cpu0
        ccpu = cpu_seconds(client.proc.p.pid) - ccpu0
        rates.append(len(pages) / dt)
        print("%d pages, %d browsers, %s: %.1f pages/s, CPU per page: service %.2f ms, "
              "client %.2f ms (%d failed, %d differ from the direct fetch)" % (
                  len(pages), ARGS.browsers, label, len(pages) / dt, 1000 * cpu / len(pages),
                  1000 * ccpu / len(pages), failures[0], differ[0]))
    print("warm cache / cold cache: %.2f x pages/s" % (rates[1] / rates[0]))
    client.stop()
    service.stop()
    print()

    # The largest page, straight to the service without cache, several
    # times: median seconds to the first packet and to the end.
    largest = max(pages, key=lambda x: len(plain[x]))
    request = ("GET %s HTTP/1.1\r\nHost: 127.0.0.2\r\nConnection: close\r\n\r\n" %
               largest).encode()
    print("Largest page %s, %d bytes, sent to the service directly (no cache):" % (
        largest, len(plain[largest])))
    for label, program in (("before (baseline build)", ARGS.baseline_service),
                           ("now, streamed", ARGS.service)):
        if not program:
            continue
        extra = ["--cache-mb", "0"] if program == ARGS.service else []
        service = start_service(program, extra)
        times = sorted(first_and_last_packet("127.0.0.2", 80, request) for _ in range(7))
        service.stop()
        print("  %-24s first packet %.1f ms, last byte %.1f ms (median of 7)" % (
            label, 1000 * times[3][0], 1000 * times[3][1]))
    service = None
    plain_site.stop()
    gzip_site.stop()


if __name__ == "__main__":
    main()
