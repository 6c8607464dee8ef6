"""Runs an end-to-end script as the unprivileged user nobody and checks that
it reports a skip (status 77 and a message) instead of failing. Needs root
to drop to nobody; skipped itself otherwise.

Usage: check_unprivileged_skip.py SCRIPT ARGS..."""

import os
import subprocess
import sys

SKIP = 77

if __name__ == "__main__":
    if os.geteuid() != 0:
        sys.exit(SKIP)
    r = subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                        sys.executable] + sys.argv[1:], capture_output=True, text=True,
                       stdin=subprocess.DEVNULL, timeout=30)
    print(r.stdout + r.stderr)
    if r.returncode != SKIP or "need root" not in r.stdout:
        print("expected a skip (status %d), got status %d" % (SKIP, r.returncode))
        sys.exit(1)
