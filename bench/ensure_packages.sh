#!/usr/bin/env bash
# ensure_packages.sh NAME...: installs those of Debian's packages that are
# missing (root). The benchmarks call it for the corpus and their tools.
set -euo pipefail
missing=()
for p in "$@"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
