#!/usr/bin/env bash
# Builds the third-party libraries the Windows (MinGW-w64) target needs and
# Debian does not ship for it: libbz2 and libzstd, compiled from Debian's own
# bzip2 and libzstd source packages. Installs libbz2.a, bzlib.h, libzstd.a,
# zstd.h and zstd_errors.h into deps/mingw/{lib,include}.
# GoogleTest needs nothing here: CMake compiles it from /usr/src/googletest.
#
# Idempotent: does nothing when the libraries are already in place. Meant for a
# Debian 12 machine as root (it may add a deb-src entry and install packages).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
prefix="${NIMBREL_WIN_DEPS:-$here/deps/mingw}"
work="$here/deps/src"
cc=x86_64-w64-mingw32-gcc-posix
ar=x86_64-w64-mingw32-ar

have_bz2() { [ -f "$prefix/lib/libbz2.a" ] && [ -f "$prefix/include/bzlib.h" ]; }
have_zstd() { [ -f "$prefix/lib/libzstd.a" ] && [ -f "$prefix/include/zstd.h" ]; }
if have_bz2 && have_zstd; then
  echo "build-win-deps: libbz2 and libzstd for MinGW already in $prefix"
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
# Unpacks Debian's source package $1 here unless a directory $2-* exists;
# prints that directory.
unpack_source() {
  local dir
  dir="$(find . -maxdepth 1 -type d -name "$2-*" | head -1)"
  if [ -z "$dir" ]; then
    # As root, apt may drop privileges to the _apt user for the download; let it write here.
    # Package lists may predate the deb-src entry: refresh them once on failure.
    get_source() { apt-get source -q --download-only -o APT::Sandbox::User=root "$1"; }
    get_source "$1" >&2 || { apt-get update -q >&2 && get_source "$1" >&2; }
    dpkg-source -x --no-check ./"$1"_*.dsc >/dev/null
    dir="$(find . -maxdepth 1 -type d -name "$2-*" | head -1)"
  fi
  echo "$dir"
}

if ! have_bz2; then
srcdir="$(unpack_source bzip2 bzip2)"
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
fi

if ! have_zstd; then
zdir="$(unpack_source libzstd libzstd)"
[ -n "$zdir" ] || { echo "build-win-deps: zstd sources not found" >&2; exit 1; }
zobj="$work/obj-mingw-zstd"
rm -rf "$zobj"
mkdir -p "$zobj"
# Single-threaded and without the x86-64 assembly decoder: plain C only.
for f in "$zdir"/lib/common/*.c "$zdir"/lib/compress/*.c "$zdir"/lib/decompress/*.c; do
  "$cc" -O2 -DZSTD_DISABLE_ASM -c "$f" -o "$zobj/$(basename "$f" .c).o"
done
rm -f "$zobj/libzstd.a"
"$ar" rcs "$zobj/libzstd.a" "$zobj"/*.o
mkdir -p "$prefix/lib" "$prefix/include"
cp "$zdir/lib/zstd.h" "$zdir/lib/zstd_errors.h" "$prefix/include/"
cp "$zobj/libzstd.a" "$prefix/lib/libzstd.a"
echo "build-win-deps: libzstd for MinGW installed in $prefix"
fi
