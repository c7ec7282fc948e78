#!/usr/bin/env bash
# Cross-builds the Windows programs on Debian with MinGW-w64 into build/windows:
# the updater ("QB4II Firmware Updater.exe"), qb4ii-update.exe, the demo and the
# test suite, linked statically so that a clean Windows needs no DLL beyond its
# own; and the downloads, the installer (NSIS) and the portable ZIP.
#
# JUCE is Debian's package, as for Linux; its juceaide runs on this machine. The
# image libraries that Debian's JUCE leaves out are cross-built once from
# Debian's own sources (libpng1.6, libjpeg-turbo) into build/windows-deps; zlib
# is Debian's libz-mingw-w64-dev.
#
# Usage: scripts/build-windows.sh [TARGETS]   (default: all)
set -euo pipefail
source "$(dirname "$0")/common.sh"

targets="${1:-}" # empty: everything
toolchain="$QB4II_ROOT/cmake/toolchains/x86_64-w64-mingw32.cmake"
deps="$QB4II_ROOT/build/windows-deps"
prefix="$deps/prefix"

install_packages "${QB4II_PACKAGES[@]}" "${QB4II_WINDOWS_PACKAGES[@]}"

# fetch_source PACKAGE: Debian's source of PACKAGE, unpacked under $deps/src; prints its folder.
fetch_source() {
    local dir
    dir=$(ls -d "$deps/src/$1"-*/ 2>/dev/null | head -n 1)
    if [ -z "$dir" ]; then
        ensure_source_lists
        mkdir -p "$deps/src"
        (cd "$deps/src" && apt-get source -q -o APT::Sandbox::User=root "$1" > "$deps/src/$1.log" 2>&1) \
            || { cat "$deps/src/$1.log" >&2; die "apt-get source $1 failed"; }
        dir=$(ls -d "$deps/src/$1"-*/ | head -n 1)
    fi
    echo "${dir%/}"
}

cross_cmake() { # SOURCE BUILD ARGS...
    local source="$1" build="$2"
    shift 2
    cmake -S "$source" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DZLIB_USE_STATIC_LIBS=ON \
        -DCMAKE_INSTALL_PREFIX="$prefix" "$@" > "$build.log" 2>&1 \
        && cmake --build "$build" --parallel "$(nproc)" >> "$build.log" 2>&1 \
        && cmake --install "$build" >> "$build.log" 2>&1 \
        || { tail -n 30 "$build.log" >&2; die "cross-building $(basename "$source") failed (log: $build.log)"; }
}

if [ ! -f "$prefix/.ready" ]; then
    echo "Cross-building libpng and libjpeg-turbo from Debian's sources (once; kept in $deps)"
    rm -rf "$prefix" && mkdir -p "$prefix"
    png=$(fetch_source libpng1.6)
    cross_cmake "$png" "$deps/build-libpng" -DPNG_SHARED=OFF -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF
    jpeg=$(fetch_source libjpeg-turbo)
    cross_cmake "$jpeg" "$deps/build-libjpeg" -DENABLE_SHARED=OFF -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF
    # JUCE's JPEG reader includes the library's internals, and declares its own
    # copy of the library inside a namespace, where it needs 'boolean': the
    # Windows configuration header leaves the typedef out once rpcndr.h was read.
    cp "$jpeg/jpegint.h" "$prefix/include/"
    sed -i '/#ifndef __RPCNDR_H__/,/#endif/c\typedef unsigned char boolean; /* as rpcndr.h has it */' "$prefix/include/jconfig.h"
    touch "$prefix/.ready"
fi

# The firmware packer runs at build time: built for this machine.
build release qb4ii_firmware_packer

# The windows preset finds the cross-built libraries and the packer there.
build windows "$targets"
