"""The private network and mount namespace the Python benches run in, set up
the way the end-to-end tests set theirs up."""
import argparse
import os
import subprocess
import sys

SRC = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(SRC, "tests", "e2e"))
import nbharness as h  # noqa: E402

FLAG = "NB_BENCH_IN_NS"


def enter(script, client="", service=""):
    """Outside the namespace, runs script again inside a new one and exits
    with its status (root only); inside, points the harness at the programs
    and brings the namespace's loopback addresses up."""
    if os.geteuid() != 0:
        sys.exit("needs root: runs in a private network and mount namespace")
    if os.environ.get(FLAG) != "1":
        cmd = ["unshare", "--net", "--mount", "--propagation", "private", sys.executable,
               os.path.abspath(script)] + sys.argv[1:]
        sys.exit(subprocess.call(cmd, env=dict(os.environ, **{FLAG: "1"})))
    h.ARGS = argparse.Namespace(client=os.path.abspath(client) if client else "",
                                service=os.path.abspath(service) if service else "",
                                source=SRC)
    h._setup_namespace()
