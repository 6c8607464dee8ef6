"""Shared harness of the end-to-end tests.

Every test script calls ``nbharness.main()``. It parses the command line that
ctest passes (--client, --service, --source), re-executes the script inside a
fresh network and mount namespace (``unshare -n -m``), brings loopback up,
gives the namespace a private /etc/hosts, and then runs the script's
unittest test cases. Fixed ports (4321, 3344, 443, 80) therefore never clash
with anything else on the machine, and web sites live on 127.0.0.2 and up.

Helpers: a client installed into a temporary folder (``ClientInstall``),
background processes with logs (``Proc``), port waits, a raw HTTP client,
nginx and squid starters, a scriptable raw TCP site (``RecordingSite``) and
headless Chromium.
"""

import argparse
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from listeners import ThreadedListener  # noqa: E402

ARGS = None  # argparse.Namespace: client, service, source
SKIP_RETURN_CODE = 77  # ctest's SKIP_RETURN_CODE of every end-to-end test
_NS_FLAG = "NB_E2E_IN_NAMESPACE"


# ---------------------------------------------------------------------------
# Entry point and namespace


def main():
    """Parses the arguments, enters a private namespace and runs unittest."""
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--client", required=True)
    parser.add_argument("--service", default="")
    parser.add_argument("--source", required=True)
    ARGS, rest = parser.parse_known_args()
    if os.geteuid() != 0:
        print("SKIPPED: the end-to-end tests need root (they run in private network "
              "namespaces); run ctest as root to include them.")
        sys.exit(SKIP_RETURN_CODE)
    if os.environ.get(_NS_FLAG) != "1":
        sys.exit(_run_in_namespace())
    _become_reaper()
    _setup_namespace()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


def _run_in_namespace():
    """Runs this script again in a private namespace, with a temporary folder
    of its own (TMPDIR) that is removed whatever way the run ends; a SIGTERM
    (ctest's time-out) is passed on, so the run can end its processes."""
    work = tempfile.mkdtemp(prefix="nb-e2e-")
    os.chmod(work, 0o755)  # servers running as other users reach their folders
    env = dict(os.environ, **{_NS_FLAG: "1", "TMPDIR": work})
    cmd = ["unshare", "--net", "--mount", "--propagation", "private",
           sys.executable, os.path.abspath(sys.argv[0])] + sys.argv[1:]
    child = subprocess.Popen(cmd, env=env, stdin=subprocess.DEVNULL)
    stopping = []

    def pass_on(signum, _frame):
        stopping.append(time.monotonic())
        child.send_signal(signum)

    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(sig, pass_on)
    try:
        while True:
            try:
                return child.wait(timeout=1)
            except subprocess.TimeoutExpired:
                if stopping and time.monotonic() - stopping[0] > 30:
                    child.kill()
    finally:
        shutil.rmtree(work, ignore_errors=True)


def _become_reaper():
    """Makes every process the run starts stay a descendant of it, even a
    daemon that leaves its parent (pg_ctl's server): a kill of the run's
    process tree reaches them all. They are ended when the run ends, by
    its own end or by SIGTERM."""
    import atexit
    import ctypes
    pr_set_child_subreaper = 36
    ctypes.CDLL(None, use_errno=True).prctl(pr_set_child_subreaper, 1, 0, 0, 0)
    atexit.register(end_descendants)

    def on_signal(signum, _frame):
        end_descendants()
        os._exit(128 + signum)

    for sig in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, on_signal)


def _descendants():
    parents = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
        except OSError:
            continue
        # The command name may hold blanks: the fields after it are fixed.
        fields = stat[stat.rfind(")") + 2:].split()
        if fields[0] != "Z":
            parents[int(entry)] = int(fields[1])
    found, todo = [], [os.getpid()]
    while todo:
        pid = todo.pop()
        kids = [p for p, pp in parents.items() if pp == pid]
        found += kids
        todo += kids
    return found


def end_descendants(grace=10):
    """Ends every process the run started that is still running: SIGTERM,
    then SIGKILL after grace seconds."""
    for sig in (signal.SIGTERM, signal.SIGKILL):
        pids = _descendants()
        for pid in pids:
            try:
                os.kill(pid, sig)
            except ProcessLookupError:
                pass
        deadline = time.monotonic() + grace
        while pids and time.monotonic() < deadline:
            _reap()
            pids = _descendants()
            if pids:
                time.sleep(0.1)
        if not pids:
            break
    _reap()


def _reap():
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid == 0:
            return


def _setup_namespace():
    run(["ip", "link", "set", "lo", "up"])
    set_hosts({})


def run(cmd, check=True, **kw):
    """Runs a command to its end; returns CompletedProcess with text output."""
    return subprocess.run(cmd, check=check, stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, **kw)


_hosts_file = None


def set_hosts(names):
    """Private /etc/hosts of the namespace: localhost plus {name: ip}."""
    global _hosts_file
    lines = ["127.0.0.1 localhost"] + ["%s %s" % (ip, n) for n, ip in names.items()]
    if _hosts_file is None:
        fd, _hosts_file = tempfile.mkstemp(prefix="nb-hosts-")
        os.close(fd)
        os.chmod(_hosts_file, 0o644)
    with open(_hosts_file, "w") as f:
        f.write("\n".join(lines) + "\n")
    if not _is_bind_mounted("/etc/hosts"):
        run(["mount", "--bind", _hosts_file, "/etc/hosts"])


def _is_bind_mounted(path):
    with open("/proc/self/mountinfo") as f:
        return any(line.split()[4] == path for line in f)


_dummy_count = 0


def add_interface_address(cidr):
    """Adds an address (e.g. "10.99.0.1/24") on a new dummy interface, so the
    namespace has a non-loopback address and a route for its network."""
    global _dummy_count
    name = "nbdum%d" % _dummy_count
    _dummy_count += 1
    run(["ip", "link", "add", name, "type", "dummy"])
    run(["ip", "addr", "add", cidr, "dev", name])
    run(["ip", "link", "set", name, "up"])
    return name


# ---------------------------------------------------------------------------
# Processes and ports


class Proc:
    """A background process whose output goes to a log file."""

    def __init__(self, cmd, cwd=None, log=None, env=None):
        self.cmd = cmd
        self.log_path = log or tempfile.mktemp(prefix="nb-proc-", suffix=".log")
        self._log = open(self.log_path, "wb")
        self.p = subprocess.Popen(cmd, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                  stdout=self._log, stderr=subprocess.STDOUT,
                                  start_new_session=True)

    def alive(self):
        return self.p.poll() is None

    def wait(self, timeout=10):
        """Exit status, or None when still running after timeout seconds."""
        try:
            return self.p.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def stop(self, sig=signal.SIGTERM, timeout=10):
        """Sends sig, waits; kills after timeout. Returns the exit status."""
        if self.alive():
            try:
                self.p.send_signal(sig)
            except ProcessLookupError:
                pass
        rc = self.wait(timeout)
        if rc is None:
            try:
                os.killpg(self.p.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            rc = self.p.wait()
        self._log.close()
        return rc

    def output(self):
        self._log.flush()
        with open(self.log_path, "rb") as f:
            return f.read()


def wait_port(host, port, timeout=15, proc=None):
    """Waits until host:port accepts a TCP connection; raises on time-out."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        if proc is not None and not proc.alive():
            raise RuntimeError("process ended before %s:%d opened: %r" %
                               (host, port, proc.output()[-2000:]))
        try:
            with socket.create_connection((host, port), timeout=1):
                return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError("%s:%d did not open in %ss" % (host, port, timeout))


def port_open(host, port):
    try:
        with socket.create_connection((host, port), timeout=1):
            return True
    except OSError:
        return False


# ---------------------------------------------------------------------------
# Raw HTTP


def raw_request(data, host="127.0.0.1", port=4321, timeout=15, source=None):
    """Sends bytes, returns everything received until the peer closes (or
    until timeout, after which what arrived is returned)."""
    s = socket.create_connection((host, port), timeout=timeout,
                                 source_address=(source, 0) if source else None)
    try:
        s.sendall(data)
        return read_all(s, timeout)
    finally:
        s.close()


def proxy_get_ending(url, proxy=("127.0.0.1", 4321), timeout=20):
    """A proxy GET like proxy_get; returns (answer, end), end being "closed",
    "reset" or "timeout"."""
    hostport = url.split("/")[2]
    s = socket.create_connection(proxy, timeout=timeout)
    chunks, end = [], "closed"
    try:
        s.sendall(("GET %s HTTP/1.1\r\nHost: %s\r\n\r\n" % (url, hostport)).encode())
        while True:
            b = s.recv(65536)
            if not b:
                break
            chunks.append(b)
    except socket.timeout:
        end = "timeout"
    except ConnectionResetError:
        end = "reset"
    finally:
        s.close()
    return b"".join(chunks), end


def read_all(sock, timeout=15):
    sock.settimeout(timeout)
    chunks = []
    try:
        while True:
            b = sock.recv(65536)
            if not b:
                break
            chunks.append(b)
    except socket.timeout:
        pass
    except ConnectionResetError:
        pass
    return b"".join(chunks)


def proxy_get(url, extra_headers="", proxy=("127.0.0.1", 4321), timeout=15, source=None):
    """A browser-style proxy GET of an absolute URL; returns the raw answer."""
    hostport = url.split("/")[2]
    req = ("GET %s HTTP/1.1\r\nHost: %s\r\nUser-Agent: nbtest\r\n"
           "Proxy-Connection: keep-alive\r\n%s\r\n" % (url, hostport, extra_headers))
    return raw_request(req.encode(), proxy[0], proxy[1], timeout, source)


def split_answer(raw):
    """(status line, {lower-case header: value}, body) of an HTTP answer."""
    head, _, body = raw.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    return lines[0], headers, body


# ---------------------------------------------------------------------------
# The client under test


class ClientInstall:
    """NimbrelClient copied into a fresh folder with the share/ files.

    ``ini`` (text) is written as NimbrelClient.ini before the start; lines
    end in CR LF as the program writes them.
    """

    def __init__(self, ini=None, with_share=True):
        self.dir = tempfile.mkdtemp(prefix="nb-client-")
        self.exe = os.path.join(self.dir, os.path.basename(ARGS.client))
        shutil.copy2(ARGS.client, self.exe)
        share = os.path.join(ARGS.source, "share")
        if with_share and os.path.isdir(share):
            shutil.copytree(share, os.path.join(self.dir, "share"))
        if ini is not None:
            self.write_ini(ini)
        self.proc = None

    @property
    def ini_path(self):
        return os.path.join(self.dir, "NimbrelClient.ini")

    def write_ini(self, text):
        if isinstance(text, dict):
            text = "".join("%s:%s\r\n" % kv for kv in text.items())
        text = text.replace("\r\n", "\n").replace("\n", "\r\n")
        with open(self.ini_path, "wb") as f:
            f.write(text.encode("cp1251"))

    def read_ini(self):
        """The options file as {key: value text}."""
        out = {}
        with open(self.ini_path, "rb") as f:
            for word in f.read().decode("cp1251").split():
                k, _, v = word.partition(":")
                out[k] = v
        return out

    def read_ini_when(self, check, timeout=20):
        """The options file once check(ini) holds (the client writes its
        counters within 2 s of a change), or as it stands after timeout."""
        deadline = time.monotonic() + timeout
        while True:
            ini = self.read_ini() if os.path.exists(self.ini_path) else {}
            if check(ini) or time.monotonic() > deadline:
                return ini
            time.sleep(0.05)

    def start(self, cwd=None, wait=True, port=4321):
        self.proc = Proc([self.exe], cwd=cwd or self.dir,
                         log=os.path.join(self.dir, "client-output.log"))
        if wait:
            wait_port("127.0.0.1", port, proc=self.proc)
        return self.proc

    def stop(self):
        """SIGTERM; returns the exit status."""
        if self.proc is None:
            return None
        return self.proc.stop()

    def url_log(self):
        path = os.path.join(self.dir, "nimbrel.log")
        if not os.path.exists(path):
            return ""
        with open(path, "rb") as f:
            return f.read().decode("latin-1")


# ---------------------------------------------------------------------------
# Peers


class Nginx:
    """nginx serving ``root`` on each (ip, port) of ``listen``."""

    def __init__(self, root, listen=(("127.0.0.2", 80),), extra_server="", gzip=False):
        self.dir = tempfile.mkdtemp(prefix="nb-nginx-")
        os.chmod(self.dir, 0o755)
        listens = "\n".join("listen %s:%d;" % lp for lp in listen)
        conf = """
worker_processes 1;
daemon off;
master_process on;
user root;
pid %(d)s/nginx.pid;
error_log %(d)s/error.log;
events { worker_connections 1024; }
http {
  include /etc/nginx/mime.types;
  default_type application/octet-stream;
  access_log %(d)s/access.log;
  client_body_temp_path %(d)s/body;
  proxy_temp_path %(d)s/proxy;
  fastcgi_temp_path %(d)s/fastcgi;
  uwsgi_temp_path %(d)s/uwsgi;
  scgi_temp_path %(d)s/scgi;
  sendfile on;
  keepalive_timeout 30;
  gzip %(gzip)s;
  gzip_types text/plain text/css application/javascript text/xml application/json;
  server {
    %(listens)s
    root %(root)s;
    %(extra)s
  }
}
""" % {"d": self.dir, "root": root, "listens": listens, "extra": extra_server,
       "gzip": "on" if gzip else "off"}
        self.conf = os.path.join(self.dir, "nginx.conf")
        with open(self.conf, "w") as f:
            f.write(conf)
        self.proc = Proc(["nginx", "-c", self.conf, "-p", self.dir],
                         log=os.path.join(self.dir, "out.log"))
        for ip, port in listen:
            wait_port(ip, port, proc=self.proc)

    def access_log(self):
        with open(os.path.join(self.dir, "access.log")) as f:
            return f.read()

    def stop(self):
        self.proc.stop(signal.SIGQUIT)


class Squid:
    """squid on ip:port demanding Basic credentials from ``users``
    ({name: password}); CONNECT allowed to every port."""

    def __init__(self, ip="127.0.0.3", port=3128, users=None):
        self.ip, self.port = ip, port
        self.dir = tempfile.mkdtemp(prefix="nb-squid-")
        os.chmod(self.dir, 0o777)
        users = users or {}
        passwd = os.path.join(self.dir, "passwd")
        open(passwd, "w").close()
        for name, pw in users.items():
            run(["htpasswd", "-b", passwd, name, pw])
        os.chmod(passwd, 0o644)
        helper = "/usr/lib/squid/basic_ncsa_auth"
        auth = ""
        access = "http_access allow all"
        if users:
            auth = ("auth_param basic program %s %s\nauth_param basic realm nbtest\n"
                    "acl authed proxy_auth REQUIRED\n" % (helper, passwd))
            access = "http_access allow authed\nhttp_access deny all"
        conf = """
http_port %(ip)s:%(port)d
%(auth)s
acl SSL_ports port 1-65535
acl Safe_ports port 1-65535
acl CONNECT method CONNECT
%(access)s
cache deny all
cache_mem 8 MB
cache_dir null /tmp
pid_filename %(d)s/squid.pid
access_log stdio:%(d)s/access.log
cache_log %(d)s/cache.log
cache_store_log none
coredump_dir %(d)s
hosts_file /etc/hosts
shutdown_lifetime 1 seconds
""" % {"ip": ip, "port": port, "auth": auth, "access": access, "d": self.dir}
        self.conf = os.path.join(self.dir, "squid.conf")
        with open(self.conf, "w") as f:
            f.write(conf)
        self.proc = Proc(["squid", "-N", "-f", self.conf],
                         log=os.path.join(self.dir, "out.log"))
        wait_port(ip, port, timeout=30, proc=self.proc)

    def access_log(self):
        path = os.path.join(self.dir, "access.log")
        return open(path).read() if os.path.exists(path) else ""

    def stop(self):
        self.proc.stop(signal.SIGTERM, timeout=15)


class RecordingSite(ThreadedListener):
    """A raw TCP site on ip:port. Each connection's request (head plus the
    body its Content-Length announces) is recorded in ``requests``; the
    answer is ``respond(request_bytes)`` (bytes, or a list of byte chunks sent
    with ``gap`` seconds between them), then the connection is closed."""

    def __init__(self, ip, port, respond, gap=0.0):
        self.respond, self.gap = respond, gap
        self.requests = []
        super().__init__(ip, port, backlog=128)

    def handle(self, conn):
        try:
            conn.settimeout(15)
            data = b""
            while b"\r\n\r\n" not in data:
                b = conn.recv(65536)
                if not b:
                    break
                data += b
            head, _, body = data.partition(b"\r\n\r\n")
            length = 0
            for line in head.split(b"\r\n")[1:]:
                name, _, value = line.partition(b":")
                if name.strip().lower() == b"content-length":
                    length = int(value.strip() or 0)
            while len(body) < length:
                b = conn.recv(65536)
                if not b:
                    break
                body += b
            req = head + b"\r\n\r\n" + body
            self.requests.append(req)
            answer = self.respond(req)
            chunks = answer if isinstance(answer, list) else [answer]
            for i, c in enumerate(chunks):
                if i and self.gap:
                    time.sleep(self.gap)
                conn.sendall(c)
        except OSError:
            pass
        finally:
            conn.close()


def http_response(body, content_type="text/html", status="200 OK", extra=""):
    """A complete HTTP/1.0 answer with Content-Length."""
    if isinstance(body, str):
        body = body.encode()
    head = ("HTTP/1.0 %s\r\nContent-Type: %s\r\nContent-Length: %d\r\n%s\r\n"
            % (status, content_type, len(body), extra))
    return head.encode() + body


# ---------------------------------------------------------------------------
# Headless Chromium

CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--disable-dev-shm-usage", "--no-default-browser-check",
]


def chromium(url, proxy="127.0.0.1:4321", dump_dom=False, screenshot=None,
             size="1280,1600", timeout=60, extra=()):
    """Runs headless Chromium once on url (through the proxy unless proxy is
    None). Returns CompletedProcess; stdout holds the DOM with dump_dom."""
    profile = tempfile.mkdtemp(prefix="nb-chromium-")
    cmd = ["chromium"] + CHROMIUM_FLAGS + ["--user-data-dir=" + profile,
                                           "--window-size=" + size]
    if proxy:
        # Without "<-loopback>" Chromium would bypass the proxy for local hosts.
        cmd += ["--proxy-server=http://" + proxy, "--proxy-bypass-list=<-loopback>"]
    if dump_dom:
        cmd.append("--dump-dom")
    if screenshot:
        cmd.append("--screenshot=" + screenshot)
    cmd += list(extra) + [url]
    try:
        return subprocess.run(cmd, stdin=subprocess.DEVNULL, capture_output=True,
                              text=True, timeout=timeout)
    finally:
        shutil.rmtree(profile, ignore_errors=True)


_veth_count = 0


def add_veth_address(cidr):
    """Like add_interface_address, on one end of a new veth pair (for kernels
    without the dummy link type). Returns the interface name."""
    global _veth_count
    name = "nbveth%d" % _veth_count
    _veth_count += 1
    run(["ip", "link", "add", name, "type", "veth", "peer", "name", name + "p"])
    run(["ip", "addr", "add", cidr, "dev", name])
    run(["ip", "link", "set", name + "p", "up"])
    run(["ip", "link", "set", name, "up"])
    return name
