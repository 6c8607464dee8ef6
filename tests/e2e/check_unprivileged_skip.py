"""Runs an end-to-end script as the unprivileged user nobody and checks that
it reports a skip (status 77 and a message) instead of failing. Needs root
to drop to nobody; skipped itself otherwise. The script and the modules
beside it are copied to a folder nobody can read, since the checkout may
lie where nobody cannot (under /root, for example).

Usage: check_unprivileged_skip.py SCRIPT ARGS..."""

import glob
import os
import shutil
import subprocess
import sys
import tempfile

SKIP = 77

if __name__ == "__main__":
    if os.geteuid() != 0:
        sys.exit(SKIP)
    script = os.path.abspath(sys.argv[1])
    folder = tempfile.mkdtemp(prefix="nb-unprivileged-")
    try:
        os.chmod(folder, 0o755)
        for module in glob.glob(os.path.join(os.path.dirname(script), "*.py")):
            shutil.copy(module, folder)
            os.chmod(os.path.join(folder, os.path.basename(module)), 0o644)
        r = subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                            sys.executable, os.path.join(folder, os.path.basename(script))]
                           + sys.argv[2:], capture_output=True, text=True,
                           stdin=subprocess.DEVNULL, timeout=30, cwd=folder)
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    print(r.stdout + r.stderr)
    if r.returncode != SKIP or "need root" not in r.stdout:
        print("expected a skip (status %d), got status %d" % (SKIP, r.returncode))
        sys.exit(1)
