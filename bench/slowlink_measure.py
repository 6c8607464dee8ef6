"""Page load times on a slow link, directly and through client and service.

Started by bench_slowlink.sh. Two network namespaces joined by a veth pair:
  user side     192.0.2.1/24: Chromium and NimbrelClient (proxy 127.0.0.1:4321)
  Internet side 192.0.2.2/24 and 198.51.100.10/24: nginx with the corpus (the
                site, 198.51.100.10:80) and NimbrelService (192.0.2.2:443)
The user side reaches the site through a /24 route, so the client does not
take it for its local network. Both veth ends are rate-limited with tbf; the
round trip is added by delay_relay.py, which stands in front of nginx and the
service (the kernel here has no netem). This script runs on the Internet side.
"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SITE, USER_IP, NET_IP = "198.51.100.10", "192.0.2.1", "192.0.2.2"
# (label, tbf rate or None for no limit, round trip in ms, rate in bit/s)
PROFILES = (("mobile", "256kbit", 300, 256000), ("dsl", "2mbit", 100, 2000000),
            ("unlimited", None, 0, None))
QUALITIES = ((1, "medium"), (0, "low"), (2, "untouched"))
# Origins: "gzip" sends text as most sites do (gzip level 6 for the text
# types), "plain" sends everything uncompressed.
ORIGINS = {
    "gzip": "disable_symlinks off; gzip on; gzip_comp_level 6; gzip_vary on; "
            "gzip_min_length 256; gzip_types text/css application/javascript "
            "text/javascript application/json application/xml image/svg+xml text/plain;",
    "plain": "disable_symlinks off;",
}
DOC_PAGES = ("functions.html", "stdtypes.html", "os.html", "re.html", "json.html",
             "datetime.html", "itertools.html", "string.html")


def sh(*cmd, check=True):
    return subprocess.run(cmd, check=check, capture_output=True, text=True,
                          stdin=subprocess.DEVNULL)


# The user's side (browser and client) and the Internet's side (site, relay
# and service) each get a core of their own, as on two machines: otherwise
# the service's packing takes CPU from the browser, which no user sees.
# NB_SLOWLINK_PIN=0 lets them share every core.
PIN = os.environ.get("NB_SLOWLINK_PIN", "1") != "0" and len(os.sched_getaffinity(0)) >= 2
USER_CPU, NET_CPU = sorted(os.sched_getaffinity(0))[:2] if PIN else (None, None)


def in_user(ns, cmd):
    pin = ["taskset", "-c", str(USER_CPU)] if PIN else []
    return ["ip", "netns", "exec", ns] + pin + cmd


def cpu_seconds(pid):
    """User and system CPU time a process has used so far, all threads."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def link_bytes(dev):
    total = 0
    for name in ("rx_bytes", "tx_bytes"):
        with open("/sys/class/net/%s/statistics/%s" % (dev, name)) as f:
            total += int(f.read())
    return total


def set_link(user_ns, user_dev, net_dev, rate):
    if rate is None:
        for prefix, dev in ((["ip", "netns", "exec", user_ns], user_dev), ([], net_dev)):
            sh(*(prefix + ["tc", "qdisc", "del", "dev", dev, "root"]), check=False)
        return
    # A burst of a few packets and a queue that holds a couple of seconds of
    # traffic, like the buffer of a modem on a slow line.
    for prefix, dev in ((["ip", "netns", "exec", user_ns], user_dev), ([], net_dev)):
        sh(*(prefix + ["tc", "qdisc", "replace", "dev", dev, "root", "tbf", "rate", rate,
                       "burst", "4kb", "latency", "2s"]))


def make_pages(corpus, www):
    """Site root: the corpus plus two photo pages (two web-sized photos each)."""
    os.makedirs(www)
    for d in ("doc", "img"):
        os.symlink(os.path.join(corpus, d), os.path.join(www, d))
    photos = sorted(x for x in os.listdir(os.path.join(corpus, "img")) if x.endswith("-web.jpg"))
    pages = []
    for i in range(2):
        pair = photos[2 * i:2 * i + 2]
        name = "photos%d.html" % i
        with open(os.path.join(www, name), "w") as f:
            f.write("<html><head><title>photos</title></head><body><h1>Photos</h1>%s"
                    "</body></html>\n" % "".join('<p><img src="img/%s" width="640"></p>' % p
                                                 for p in pair))
        pages.append("/" + name)
    docs = [p for p in DOC_PAGES if os.path.exists(os.path.join(corpus, "doc", "library", p))]
    return ["/doc/library/" + p for p in docs] + pages


def count_lines(path):
    try:
        with open(path) as f:
            return sum(1 for _ in f)
    except OSError:
        return 0


def ready_share(relay_log, svc_log, url_log, marks):
    """(service connections, those whose first byte came within 100 ms of the
    accept: opened for the request that waited on them, service requests,
    resources pushed, browser requests) since marks (line counts of the
    three logs)."""
    with open(relay_log) as f:
        conns = [l.split() for l in f.readlines()[marks[0]:] if l.startswith("conn ")]
    conns = [c for c in conns if c[1] == "443"]
    with open(svc_log) as f:
        lines = [l for l in f.readlines()[marks[1]:] if " login=" in l]
    pushed = sum(l.split(" kinds=")[1].split()[0].split(",").count("11") for l in lines
                 if " kinds=" in l)
    return (len(conns), sum(1 for c in conns if float(c[2]) < 100), len(lines), pushed,
            count_lines(url_log) - marks[2])


def load_times(user_ns, proxy, urls, reps, cache="fresh"):
    cfg = json.dumps({"proxy": proxy, "urls": urls, "reps": reps, "cache": cache})
    r = subprocess.run(in_user(user_ns, ["node", os.path.join(HERE, "slowlink_load.js"), cfg]),
                       capture_output=True, text=True, stdin=subprocess.DEVNULL)
    if r.returncode != 0:
        raise RuntimeError("browser failed: " + r.stderr[-2000:])
    if r.stderr.strip():
        sys.stderr.write(r.stderr)
    return json.loads(r.stdout.strip().splitlines()[-1])


def curl_times(user_ns, proxy, url, runs=3):
    """Median (connect, first byte, total) seconds of plain fetches of url."""
    cmd = ["curl", "-s", "-o", "/dev/null", "-w",
           "%{time_connect} %{time_starttransfer} %{time_total}"]
    if proxy:
        cmd += ["-x", "http://" + proxy]
    samples = []
    for _ in range(runs):
        r = subprocess.run(in_user(user_ns, cmd + [url]), capture_output=True, text=True,
                           stdin=subprocess.DEVNULL)
        samples.append([float(x) for x in r.stdout.split()])
    return [statistics.median(col) for col in zip(*samples)]


def median(xs):
    xs = [x for x in xs if x is not None]
    return statistics.median(xs) if xs else None


def p90(xs):
    xs = sorted(x for x in xs if x is not None)
    if not xs:
        return None
    return xs[min(len(xs) - 1, int(round(0.9 * (len(xs) - 1))))]


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--corpus", required=True)
    p.add_argument("--client", required=True)
    p.add_argument("--service", required=True)
    p.add_argument("--source", required=True)
    p.add_argument("--user-ns", required=True)
    p.add_argument("--user-dev", required=True)
    p.add_argument("--net-dev", required=True)
    p.add_argument("--reps", type=int, default=3)
    p.add_argument("--profiles", default=",".join(x[0] for x in PROFILES))
    p.add_argument("--origins", default="gzip")
    # fresh: every page a first visit (empty browser cache); keep: each round
    # browses the pages in order with the browser's own cache kept.
    p.add_argument("--cache", default="fresh,keep")
    args = p.parse_args()
    if PIN:
        os.sched_setaffinity(0, {NET_CPU})  # inherited by site, relay and service
    sys.path.insert(0, os.path.join(args.source, "tests", "e2e"))
    import nbharness as h
    import svc_common as sc
    h.ARGS = argparse.Namespace(client=args.client, service=args.service, source=args.source)

    work = tempfile.mkdtemp(prefix="nb-slowlink-")
    os.chmod(work, 0o755)
    urls_paths = make_pages(args.corpus, os.path.join(work, "www"))
    service = h.Proc([args.service, "--listen", "127.0.0.1", "--port", "4443", "--db",
                      os.path.join(work, "accounts.db"), "--log", os.path.join(work, "svc.log"),
                      "--allow-private", "--guest"] + os.environ.get("NB_SLOWLINK_SERVICE_ARGS", "").split(),
                     log=os.path.join(work, "svc.out"))
    h.wait_port("127.0.0.1", 4443, proc=service)
    procs = [service]
    urls = ["http://%s%s" % (SITE, x) for x in urls_paths]

    probes = [u for u in urls if u.endswith("/stdtypes.html")][:1] + [
        "http://%s/img/%s" % (SITE, sorted(x for x in os.listdir(os.path.join(args.corpus, "img"))
                                           if x.endswith("-web.jpg"))[0])]
    for origin, cache, label, rate, rtt, bits in [
            (o, c) + pr for o in args.origins.split(",") for c in args.cache.split(",")
            for pr in PROFILES]:
        if label not in args.profiles.split(","):
            continue
        site = h.Nginx(os.path.join(work, "www"), listen=(("127.0.0.1", 8080),),
                       extra_server=ORIGINS[origin])
        relay = h.Proc([sys.executable, os.path.join(HERE, "delay_relay.py"), str(rtt),
                        "%s:80" % SITE, "127.0.0.1:8080", "%s:443" % NET_IP, "127.0.0.1:4443"],
                       log=os.path.join(work, "relay-%s.out" % label))
        h.wait_port(SITE, 80, proc=relay)
        set_link(args.user_ns, args.user_dev, args.net_dev, rate)
        wanted = os.environ.get("NB_SLOWLINK_QUALITIES", "")
        modes = [("direct", None, None)] + [(q, "127.0.0.1:4321", lvl) for lvl, q in QUALITIES
                                            if not wanted or q in wanted.split(",")]
        relay_log = os.path.join(work, "relay-%s.out" % label)
        svc_log = os.path.join(work, "svc.log")
        times, link, fetches, ready, cpu = {}, {}, {}, {}, {}
        for mode, proxy, lvl in modes:
            client = None
            if proxy:
                ini = sc.client_ini(jpeg_level=lvl)
                ini["ServiceHost"] = NET_IP
                client = h.ClientInstall(ini=ini)
                client.proc = h.Proc(in_user(args.user_ns, [client.exe]), cwd=client.dir,
                                     log=os.path.join(client.dir, "client-output.log"))
                h.wait_port(USER_IP, 4321, proc=client.proc)
                # The first exchange carries the clock correction: outside the figures.
                load_times(args.user_ns, proxy, [urls[-1]], 1)
            before = link_bytes(args.net_dev)
            url_log = os.path.join(client.dir, "nimbrel.log") if client else ""
            marks = (count_lines(relay_log), count_lines(svc_log), count_lines(url_log))
            used = (cpu_seconds(client.proc.p.pid) if client else 0, cpu_seconds(service.p.pid))
            times[mode] = load_times(args.user_ns, proxy, urls, args.reps, cache)
            if client:
                loads = len(urls) * args.reps
                cpu[mode] = ((cpu_seconds(client.proc.p.pid) - used[0]) * 1000 / loads,
                             (cpu_seconds(service.p.pid) - used[1]) * 1000 / loads)
            if proxy:
                ready[mode] = ready_share(relay_log, svc_log, url_log, marks)
            link[mode] = (link_bytes(args.net_dev) - before) / args.reps
            if mode in ("direct", "medium") and cache == args.cache.split(",")[0]:
                fetches[mode] = [curl_times(args.user_ns, proxy, u) for u in probes]
            if client:
                client.stop()
        relay.stop()
        site.stop()
        report("%s, origin %s" % (label, origin), rate or "no limit", rtt, bits, urls_paths, urls,
               times, link, args.reps, cache)
        for mode, (client_ms, service_ms) in cpu.items():
            print("  %-10s CPU per page load: client %.1f ms, service %.1f ms%s" % (
                mode, client_ms, service_ms,
                " (user side and service on cores of their own)" if PIN else ""))
        for mode, (conns, fresh, requests, pushed, asked) in ready.items():
            print("  %-10s service connections %d for %d requests; %d opened for their request:"
                  " %.0f%% found one ready" % (mode, conns, requests, fresh,
                                               100.0 * (1 - fresh / max(1, requests))))
            print("  %-10s browser requests %d, %d of them not sent to the service; %d pushed" % (
                mode, asked, asked - requests, pushed))
        if fetches:
            print("where the time goes, single fetches without sub-resources (curl, seconds:")
            print("connect to the site or the proxy, first byte, total):")
        for mode, rows in fetches.items():
            for u, (c, fb, t) in zip(probes, rows):
                print("  %-7s %-28s connect %.3f  first byte %.3f  total %.3f" % (
                    mode, u.rsplit("/", 1)[-1][-28:], c, fb, t))
        sys.stdout.flush()
    for pr in procs:
        pr.stop()
    shutil.rmtree(work, ignore_errors=True)


def report(label, rate, rtt, bits, paths, urls, times, link, reps, cache):
    print()
    print("Profile %s: %s, %d ms round trip; %d pages, %d loads each, %s; "
          "page load = load event, ms (median)" % (
              label, rate, rtt, len(urls), reps,
              "fresh cache" if cache == "fresh" else "pages in order, browser cache kept"))
    modes = list(times)
    fmt = "%-28s" + " %10s" * len(modes)
    print(fmt % (("page",) + tuple(modes)))
    for path, url in zip(paths, urls):
        print(fmt % ((path[-28:],) + tuple("%.0f" % (median(times[m][url]) or -1)
                                           for m in modes)))
    print(fmt % (("all pages, s",) + tuple("%.1f" % (sum(median(times[m][u]) or 0
                                                          for u in urls) / 1000) for m in modes)))
    print(fmt % (("bytes on the link per round",) + tuple("%d" % link[m] for m in modes)))
    print("speed-up against direct (direct time / proxied time, per page medians):")
    for m in modes[1:]:
        ups = [median(times["direct"][u]) / median(times[m][u]) for u in urls
               if median(times["direct"][u]) and median(times[m][u])]
        tot = (sum(median(times["direct"][u]) or 0 for u in urls) /
               max(1e-9, sum(median(times[m][u]) or 0 for u in urls)))
        print("  %-10s median %.2fx  p90 %.2fx  total %.2fx  link bytes %.2f of direct" % (
            m, statistics.median(ups), p90(ups), tot, link[m] / max(1, link["direct"])))
    if bits:
        # How much of the load time the link's rate alone explains; the rest
        # is round trips and waiting.
        print("link busy (bytes at the link rate / sum of load times): " + ", ".join(
            "%s %.0f%%" % (m, 100.0 * link[m] * 8 / bits /
                           max(1e-9, sum(median(times[m][u]) or 0 for u in urls) / 1000))
            for m in modes))
    sys.stdout.flush()


if __name__ == "__main__":
    main()
