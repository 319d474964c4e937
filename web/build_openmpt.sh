#!/usr/bin/env bash
# Builds libopenmpt for WebAssembly from Debian's source package, once: a static library with
# every optional codec off, installed into DEPS/openmpt (include/ and lib/libopenmpt.a).
#
#   web/build_openmpt.sh DEPS
set -euo pipefail
deps=$(realpath -m "$1")
prefix=$deps/openmpt
[ -f "$prefix/lib/libopenmpt.a" ] && exit 0

mkdir -p "$deps"
cd "$deps"
if ! ls -d libopenmpt-*/ >/dev/null 2>&1; then
  # Debian's sources are enough: nothing is fetched from anywhere else.
  apt-get source -qq libopenmpt
fi
src=$(ls -d "$deps"/libopenmpt-*/ | head -n 1)
cd "$src"
# Its config.sub rejects the wasm triplet, so no --host: emconfigure sets the compilers.
emconfigure ./configure -q --prefix="$prefix" --disable-shared --enable-static \
  --disable-openmpt123 --disable-examples --disable-tests --disable-doxygen-doc \
  --without-zlib --without-mpg123 --without-ogg --without-vorbis --without-vorbisfile \
  --without-portaudio --without-portaudiocpp --without-sndfile --without-flac
emmake make -s -j"$(nproc)" libopenmpt.la
mkdir -p "$prefix/lib" "$prefix/include/libopenmpt"
cp .libs/libopenmpt.a "$prefix/lib/libopenmpt.a.part"
cp libopenmpt/libopenmpt.h libopenmpt/libopenmpt_config.h libopenmpt/libopenmpt_version.h \
   "$prefix/include/libopenmpt/"
# The library's presence marks a finished build: it appears last and whole.
mv "$prefix/lib/libopenmpt.a.part" "$prefix/lib/libopenmpt.a"
