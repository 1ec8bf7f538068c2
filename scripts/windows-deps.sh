#!/usr/bin/env bash
# Installs the Windows cross toolchain and Wine (with apt-get, through
# install-deps.sh), and builds the Windows libraries that Debian ships only as
# source into a prefix inside the build tree: libpng and libjpeg-turbo (JUCE's
# image loaders use the system's, as Debian's JUCE is set up), Highway (the
# engines' vector code), GoogleTest (the tests run under Wine), and the sources
# of the single-precision sine and cosine that glibc computes, from newlib
# (cmake/Windows.cmake builds them). zlib is Debian's libz-mingw-w64-dev. The
# prefix is reused until the Linux packages of these libraries change version
# or this script or the toolchain file changes; each library takes seconds to a
# minute to build.
#
#   scripts/windows-deps.sh [PREFIX]     (default build-windows/deps)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
# apt's sources and package lists belong to root, as in install-deps.sh.
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

bash scripts/install-deps.sh \
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools \
    libz-mingw-w64-dev \
    wine wine64 \
    googletest dpkg-dev \
    python3 python3-pefile python3-numpy python3-soundfile python3-mido \
    x11-apps xdotool imagemagick

deps=${1:-${WINDOWS_BUILD_DIR:-build-windows}/deps}
mkdir -p "$deps"
deps=$(cd "$deps" && pwd)
prefix="$deps/prefix"
toolchain="$root/cmake/toolchains/mingw-w64-x86_64.cmake"

# The source version of an installed package, if it is installed.
version_of() { dpkg-query -W -f='${source:Version}' "$1" 2>/dev/null || true; }
wanted=$(printf '%s\n' "highway $(version_of libhwy-dev)" "libpng $(version_of libpng-dev)" \
                       "libjpeg-turbo $(version_of libjpeg62-turbo-dev)" "googletest $(version_of googletest)" \
                       "$(sha256sum "$toolchain" "$0" | cut -c1-64 | tr '\n' ' ')")
if [ -f "$prefix/.built" ] && [ "$(cat "$prefix/.built")" = "$wanted" ]; then
    exit 0
fi

# apt-get source needs a deb-src entry beside each deb one of Debian's archive;
# a machine set up for binary packages only gets one, in a file of its own.
if ! apt-cache showsrc highway 2>/dev/null | grep -q '^Package:'; then
    echo "Adding deb-src entries for Debian's source packages"
    src_list=/etc/apt/sources.list.d/brassgate-deb-src.sources
    new=$(mktemp -d)
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] && [ "$f" != "$src_list" ] || continue
        # Each stanza of Debian's own archive, as deb-src.
        awk 'BEGIN { RS = ""; ORS = "\n\n" }
             /URIs:[^\n]*debian/ && /Types:[^\n]*deb/ && !/Enabled: *no/ {
                 sub(/Types:[^\n]*/, "Types: deb-src"); print }' "$f" >> "$new/sources"
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        sed -n 's/^[[:space:]]*deb[[:space:]]\(.*debian.*\)/deb-src \1/p' "$f" >> "$new/list"
    done
    # Written in a folder of our own, then installed into apt's as root.
    [ ! -s "$new/sources" ] || "${sudo_cmd[@]}" install -m 644 "$new/sources" "$src_list"
    [ ! -s "$new/list" ] || "${sudo_cmd[@]}" install -m 644 "$new/list" "${src_list%.sources}.list"
    rm -rf "$new"
    "${sudo_cmd[@]}" apt-get update -qq
fi

src="$deps/src"
build="$deps/build"
rm -rf "$src" "$build" "$prefix"
mkdir -p "$src" "$build" "$prefix"

echo "== Windows dependencies: fetching Debian's source packages"
# The version of the installed Linux package first (Highway: the engines are
# then built on the same Highway for both platforms), then the newest; should a
# mirror lack one (a security update not yet everywhere), the next the archive
# lists.
fetch_source() { # source package, installed binary package or "", [apt-get option...]
    local version package=$1 installed
    installed=$(version_of "$2")
    shift 2
    for version in $(echo "$installed"; apt-cache showsrc "$package" | sed -n 's/^Version: //p' | sort -Vru); do
        if (cd "$src" && apt-get source -qq "$@" "$package=$version" > "$build/fetch-$package.log" 2>&1); then
            return 0
        fi
        echo "($package $version could not be fetched; trying an older version)"
    done
    cat "$build/fetch-$package.log"
    return 1
}
fetch_source highway libhwy-dev
fetch_source libpng1.6 libpng-dev
fetch_source libjpeg-turbo libjpeg62-turbo-dev
# Of newlib, only Arm's single-precision sine and cosine (below): no need to unpack it all.
fetch_source newlib "" --download-only
hwy_src=$(echo "$src"/highway-*/)
png_src=$(echo "$src"/libpng1.6-*/)
jpeg_src=$(echo "$src"/libjpeg-turbo-*/)
for d in "$hwy_src" "$png_src" "$jpeg_src"; do
    [ -d "$d" ] || { echo "windows-deps: apt-get source left no ${d}"; exit 1; }
done

# As the project's own code (cmake/Windows.cmake): GCC does not realign the
# stack for the wide vectors it spills, so vector moves are written unaligned.
unaligned=-Wa,-muse-unaligned-vector-move
cross_build() { # name, source dir, cmake options...
    local name=$1 source=$2
    shift 2
    echo "== Windows dependencies: $name"
    nice -n 10 cmake -S "$source" -B "$build/$name" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_PREFIX_PATH="$prefix" \
        -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -Wno-dev --no-warn-unused-cli \
        -DCMAKE_C_FLAGS="$unaligned" -DCMAKE_CXX_FLAGS="$unaligned" "$@" > "$build/$name.log"
    nice -n 10 cmake --build "$build/$name" -j "${JOBS:-2}" --target install >> "$build/$name.log" \
        || { tail -40 "$build/$name.log"; exit 1; }
}

cross_build highway "$hwy_src" -DHWY_ENABLE_TESTS=OFF -DHWY_ENABLE_EXAMPLES=OFF -DHWY_ENABLE_CONTRIB=OFF \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF

cross_build libpng "$png_src" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
    -DZLIB_LIBRARY=/usr/x86_64-w64-mingw32/lib/libz.a -DZLIB_INCLUDE_DIR=/usr/x86_64-w64-mingw32/include

# Without nasm, the SIMD parts stay off; JUCE decodes the odd image with it.
cross_build libjpeg-turbo "$jpeg_src" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF \
    -DCMAKE_INSTALL_LIBDIR="$prefix/lib"
# JUCE's loader asks for libjpeg's internals (JPEG_INTERNALS, jpegint.h) and
# names the library's `boolean` inside its own namespace; jconfig.h skips that
# typedef once the Windows headers have declared one, so it is made unconditional.
cp "$jpeg_src/jpegint.h" "$prefix/include/"
sed -i 's|^#ifndef __RPCNDR_H__.*|#if 1 /* always: JUCE includes this header inside a namespace of its own */|' \
    "$prefix/include/jconfig.h"
grep -q 'typedef unsigned char boolean;' "$prefix/include/jconfig.h"

# The single-precision sine and cosine that Linux's C library computes: Arm's
# routines, which glibc uses and newlib carries too. MinGW-w64's own differ from
# them in the last bit of about one value in seventy (cmake/Windows.cmake says
# why that matters); the sources go to the prefix, built with the project.
sines="$prefix/src/float-sines"
mkdir -p "$sines"
tar -xzf "$(echo "$src"/newlib_*.orig.tar.gz)" -C "$sines" --strip-components=4 --wildcards \
    '*/newlib/libm/common/sinf.c' '*/newlib/libm/common/cosf.c' '*/newlib/libm/common/sincosf.c' \
    '*/newlib/libm/common/sincosf.h' '*/newlib/libm/common/sincosf_data.c' '*/newlib/libm/common/math_config.h' \
    '*/newlib/libm/common/math_errf.c'
# newlib's configuration header, reduced to the one setting these files read.
echo '#define __OBSOLETE_MATH 0 /* the current routines, not the old ones */' > "$sines/fdlibm.h"

cross_build googletest /usr/src/googletest -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON

echo "$wanted" > "$prefix/.built"
echo "Windows dependencies in $prefix"
