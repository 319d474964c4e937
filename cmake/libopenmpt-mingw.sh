#!/usr/bin/env bash
# Builds libopenmpt as a static library for one MinGW-w64 target from Debian's own source package.
#
#   cmake/libopenmpt-mingw.sh DEPS_DIR TRIPLET      (TRIPLET: i686-w64-mingw32 | x86_64-w64-mingw32)
#
# The source (apt-get source, the same version as the native libopenmpt-dev) is unpacked once in
# DEPS_DIR; the library is installed into DEPS_DIR/TRIPLET and the step is skipped when its
# libopenmpt.a is already there. Every optional codec is off: the program only reads XM.
set -euo pipefail
deps=$(realpath -m "$1")
triplet=$2
prefix=$deps/$triplet
if [ -f "$prefix/lib/libopenmpt.a" ]; then
  exit 0
fi

version=$(dpkg-query -W -f='${Version}' libopenmpt-dev)
upstream=${version%-*}
src=$deps/libopenmpt-$upstream
mkdir -p "$deps"
if [ ! -x "$src/configure" ]; then
  (cd "$deps" && apt-get source -q "libopenmpt=$version")
fi

flags="-O2"
# Same float rounding as the 64-bit builds: x87 excess precision would mix different samples.
[ "$triplet" = i686-w64-mingw32 ] && flags="-O2 -msse2 -mfpmath=sse"

work=$deps/build-libopenmpt-$triplet
rm -rf "$work" "$prefix"
mkdir -p "$work"
cd "$work"
# No pkg-config look-ups of the build machine's own libraries.
PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" PKG_CONFIG_PATH= \
  "$src/configure" --host="$triplet" --prefix="$prefix" \
  CC="$triplet-gcc-posix" CXX="$triplet-g++-posix" CFLAGS="$flags" CXXFLAGS="$flags" \
  --disable-shared --enable-static --disable-openmpt123 --disable-examples --disable-tests \
  --disable-doxygen-doc --without-zlib --without-mpg123 --without-ogg --without-vorbis \
  --without-vorbisfile --without-portaudio --without-portaudiocpp --without-sndfile \
  --without-flac --without-pulseaudio >configure.log
make -j2 >make.log
make install >install.log
rm -rf "$work"
