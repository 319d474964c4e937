#!/usr/bin/env bash
# Builds libopenmpt for WebAssembly from Debian's source package, once: a static library with
# every optional codec off, installed into DEPS/openmpt (include/ and lib/libopenmpt.a).
#
#   web/build_openmpt.sh DEPS
set -euo pipefail
deps=$(realpath -m "$1")
prefix=$deps/openmpt

# libopenmpt reports a bad module by throwing inside itself and catching at its C interface, so it
# must be compiled with exception catching on (emscripten turns it off by default, and a throw
# then aborts the program). The stamp records the flags of the installed build: a library built
# with other flags is rebuilt, never reused silently.
cflags="-O2"
cxxflags="-O2 -fexceptions"
flags="CFLAGS=$cflags CXXFLAGS=$cxxflags"
stamp=$prefix/build-flags
if [ -f "$prefix/lib/libopenmpt.a" ] && [ "$(cat "$stamp" 2>/dev/null)" = "$flags" ]; then
  exit 0
fi
rm -rf "$prefix"

mkdir -p "$deps"
cd "$deps"
# A fresh tree each time: objects left by an earlier configure would be linked as they are.
rm -rf "$deps"/libopenmpt-*/
if ls libopenmpt_*.dsc >/dev/null 2>&1; then
  dpkg-source -q -x "$(ls libopenmpt_*.dsc | head -n 1)" >/dev/null
else
  # Debian's sources are enough: nothing is fetched from anywhere else.
  apt-get source -qq libopenmpt
fi
src=$(ls -d "$deps"/libopenmpt-*/ | head -n 1)
cd "$src"
# Its config.sub rejects the wasm triplet, so no --host: emconfigure sets the compilers.
emconfigure ./configure -q --prefix="$prefix" --disable-shared --enable-static \
  --disable-openmpt123 --disable-examples --disable-tests --disable-doxygen-doc \
  --without-zlib --without-mpg123 --without-ogg --without-vorbis --without-vorbisfile \
  --without-portaudio --without-portaudiocpp --without-sndfile --without-flac \
  CFLAGS="$cflags" CXXFLAGS="$cxxflags"
emmake make -s -j"$(nproc)" libopenmpt.la
mkdir -p "$prefix/lib" "$prefix/include/libopenmpt"
cp .libs/libopenmpt.a "$prefix/lib/libopenmpt.a.part"
cp libopenmpt/libopenmpt.h libopenmpt/libopenmpt_config.h libopenmpt/libopenmpt_version.h \
   "$prefix/include/libopenmpt/"
printf '%s\n' "$flags" >"$stamp"
# The library's presence marks a finished build: it appears last and whole.
mv "$prefix/lib/libopenmpt.a.part" "$prefix/lib/libopenmpt.a"
