#!/usr/bin/env bash
# Builds the third-party libraries the Windows (MinGW-w64) target needs and
# Debian does not ship for it: libbz2, compiled from Debian's own bzip2 source
# package. Installs libbz2.a and bzlib.h into deps/mingw/{lib,include}.
# GoogleTest needs nothing here: CMake compiles it from /usr/src/googletest.
#
# Idempotent: does nothing when the library is already in place. Meant for a
# Debian 12 machine as root (it may add a deb-src entry and install packages).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
prefix="${NIMBREL_WIN_DEPS:-$here/deps/mingw}"
work="$here/deps/src"
cc=x86_64-w64-mingw32-gcc-posix
ar=x86_64-w64-mingw32-ar

if [ -f "$prefix/lib/libbz2.a" ] && [ -f "$prefix/include/bzlib.h" ]; then
  echo "build-win-deps: libbz2 for MinGW already in $prefix"
  exit 0
fi

need=()
command -v "$cc" >/dev/null || need+=(gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64)
command -v dpkg-source >/dev/null || need+=(dpkg-dev)
if [ ${#need[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${need[@]}"
fi

# `apt-get source` needs a deb-src entry: mirror the main archive's entry.
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ &&
   ! grep -qs '^deb-src ' /etc/apt/sources.list; then
  src=/etc/apt/sources.list.d/debian.sources
  if [ -f "$src" ]; then
    # First stanza (the main archive), with deb-src instead of deb.
    awk 'BEGIN{RS=""; ORS="\n\n"} NR==1 {sub(/^Types: deb/, "Types: deb-src"); print}' "$src" \
      > /etc/apt/sources.list.d/nimbrel-deb-src.sources
  else
    grep -E '^deb [^ ]*debian(/| )' /etc/apt/sources.list | head -1 | sed 's/^deb /deb-src /' \
      > /etc/apt/sources.list.d/nimbrel-deb-src.list
  fi
  apt-get update -q
fi

mkdir -p "$work"
cd "$work"
srcdir="$(find . -maxdepth 1 -type d -name 'bzip2-*' | head -1)"
if [ -z "$srcdir" ]; then
  # As root, apt may drop privileges to the _apt user for the download; let it write here.
  # Package lists may predate the deb-src entry: refresh them once on failure.
  get_source() { apt-get source -q --download-only -o APT::Sandbox::User=root bzip2; }
  get_source || { apt-get update -q && get_source; }
  dpkg-source -x --no-check ./bzip2_*.dsc >/dev/null
  srcdir="$(find . -maxdepth 1 -type d -name 'bzip2-*' | head -1)"
fi
[ -n "$srcdir" ] || { echo "build-win-deps: bzip2 sources not found" >&2; exit 1; }

# bzlib.h on _WIN32 pulls in <windows.h> and, unless BZ_EXPORT is defined,
# declares function pointers for loading a DLL. We link a static library on
# x86_64, where WINAPI changes nothing, so take the plain declarations: the
# library and its users then see ordinary functions and no system header.
sed -i 's|^#ifdef _WIN32$|#if 0 /* static MinGW build: plain declarations */|' "$srcdir/bzlib.h"

obj="$work/obj-mingw"
rm -rf "$obj"
mkdir -p "$obj"
for f in blocksort huffman crctable randtable compress decompress bzlib; do
  "$cc" -O2 -D_FILE_OFFSET_BITS=64 -c "$srcdir/$f.c" -o "$obj/$f.o"
done
mkdir -p "$prefix/lib" "$prefix/include"
rm -f "$obj/libbz2.a"
"$ar" rcs "$obj/libbz2.a" "$obj"/*.o
cp "$srcdir/bzlib.h" "$prefix/include/bzlib.h"
cp "$obj/libbz2.a" "$prefix/lib/libbz2.a"
echo "build-win-deps: libbz2 for MinGW installed in $prefix"
