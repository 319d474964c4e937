#!/usr/bin/env bash
# Sets up a Debian 12 machine for vorta, builds it, and plays the demo or runs the test suite.
#
#   ./make.sh play    install what is missing, build, play the demo
#   ./make.sh test    install what is missing, check the formatting, build, run every test:
#                     release, ASan+UBSan, TSan, Windows under Wine, the page under Node and
#                     in headless Chromium
#   ./make.sh build   install what is missing, build the release configuration only
#   ./make.sh windows install what is missing, build vorta.exe for Windows: build-win32/ (the
#                     32-bit original platform) and build-win64/ (the same program for x86-64)
#   ./make.sh package install what is missing, build, make build/vorta_<version>_amd64.deb
#   ./make.sh web     also install emscripten and chromium, build the page in build-web/page/
#   ./make.sh test-web  the web stage of test alone: build the page, run the portable suites
#                       under Node and the page in headless Chromium
set -euo pipefail
cd "$(dirname "$0")"

packages=(
  build-essential cmake ninja-build pkg-config git
  libsdl2-dev libopenmpt-dev libfreetype-dev fonts-dejavu-core fonts-dejavu-extra libpng-dev zlib1g-dev
  googletest libgtest-dev libbenchmark-dev
  xvfb x11-utils matchbox-window-manager xdotool imagemagick ffmpeg libx11-dev libxext-dev
  dpkg-dev lintian desktop-file-utils appstream man-db groff-base
)
# The Windows builds: the MinGW-w64 cross compilers and binutils, dpkg-dev to unpack Debian's
# libopenmpt source; Wine (64-bit only: this kind of machine may not run 32-bit code) for the tests.
windows_packages=(
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  dpkg-dev
)
# PulseAudio gives the Windows program's sound test a device that plays in real time.
wine_packages=(wine64 pulseaudio)

# The tests also check the formatting of the sources against the committed .clang-format.
test_packages=(clang-format)

# Only the web build needs these; libopenmpt's sources come from Debian (apt-get source).
web_packages=(emscripten chromium dpkg-dev nodejs)

# setup [EXTRA PACKAGES...]: installs whatever of the packages is missing.
setup() {
  local missing=()
  for p in "${packages[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}

# Lets apt-get source reach Debian's source packages: adds deb-src to the apt sources once.
enable_deb_src() {
  apt-cache showsrc libopenmpt 2>/dev/null | grep -q '^Package: libopenmpt$' && return
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  local deb822=/etc/apt/sources.list.d/debian.sources
  if [ -f "$deb822" ]; then
    $sudo sed -i 's/^Types: deb$/Types: deb deb-src/' "$deb822"
  else
    grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
      $sudo tee /etc/apt/sources.list.d/vorta-deb-src.list >/dev/null
  fi
  $sudo apt-get update -qq
}

# The Windows executables: libopenmpt cross-built once (kept in build-deps/), the native build
# for the generators, then both cross configurations.
windows() {
  setup "${windows_packages[@]}" "$@"
  enable_deb_src
  cmake/libopenmpt-mingw.sh build-deps i686-w64-mingw32
  cmake/libopenmpt-mingw.sh build-deps x86_64-w64-mingw32
  configure_build build -DCMAKE_BUILD_TYPE=Release
  for bits in 32 64; do
    local toolchain=cmake/mingw-i686.cmake
    [ $bits = 64 ] && toolchain=cmake/mingw-x86_64.cmake
    configure_build build-win$bits -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=$toolchain \
      -DVORTA_HOST_BUILD="$PWD/build"
  done
  ls -l build-win32/vorta.exe build-win64/vorta.exe
}

# configure_build DIR [CMAKE ARGS...]
configure_build() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DVORTA_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j"$(nproc)"
}

# Every C and C++ file of the checkout formatted as the committed .clang-format says.
format_check() {
  if ! git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    summary+=("format: not a git checkout, not checked"); return 0
  fi
  if git ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror; then
    summary+=("format: every C and C++ file as .clang-format says")
  else
    summary+=("format: files above differ from .clang-format (fix: clang-format -i FILE)")
    return 1
  fi
}

summary=() passed=0 failed_count=0
# run_ctest NAME DIR [CTEST ARGS...]: runs one suite and counts its tests. Skipped tests (a
# Windows program that this machine cannot run) are reported and never counted as passed.
run_ctest() {
  local name=$1 dir=$2; shift 2
  local log="$dir/ctest.log" rc=0
  (cd "$dir" && ctest --output-on-failure -j2 "$@") 2>&1 | tee "$log" || rc=1
  local counts f total skipped
  counts=$(grep -Eo '[0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
  read -r f _ _ _ _ total <<<"$counts"
  skipped=$(grep -c '(Skipped)$' "$log" || true)
  if [ -z "${total:-}" ]; then
    summary+=("$name: no test results"); return 1
  fi
  passed=$((passed + total - f - skipped)); failed_count=$((failed_count + f))
  summary+=("$name: $((total - f - skipped)) passed, $f failed, $skipped skipped, of $total")
  return $rc
}

# The Windows stage of the tests: the 64-bit programs under Wine, the 32-bit ones where this
# machine runs 32-bit code; the static checks of both executables everywhere.
windows_tests() {
  local failed=0
  run_ctest "win64 (Wine)" build-win64 || failed=1
  if tests/wine/can-run-32; then
    run_ctest "win32 (Wine)" build-win32 || failed=1
  else
    run_ctest "win32 static checks" build-win32 -L static || failed=1
    local n
    n=$(cd build-win32 && ctest -N -L win32 -LE static | sed -n 's/^Total Tests: //p')
    summary+=("win32: $n tests of Windows programs built, not run: this machine cannot run 32-bit x86 code")
  fi
  return $failed
}

# web_build [TARGETS...]: the block from a native build, libopenmpt for wasm (once), then the page.
# Each step's failure is returned, also where the caller tests the result (set -e is off there).
web_build() {
  setup "${web_packages[@]}"
  enable_deb_src
  cmake -S . -B build -G Ninja -DVORTA_WERROR=ON -DCMAKE_BUILD_TYPE=Release >/dev/null || return 1
  cmake --build build -j"$(nproc)" --target vorta_assets vorta_assets_bad_module || return 1
  # Debian's emscripten under a Node not built by Debian (20 here) finds acorn only through
  # NODE_PATH; the generated loader must not see Node's fetch (Node 18 and 20 have it).
  export NODE_PATH=/usr/share/nodejs NODE_OPTIONS=--no-experimental-fetch
  web/build_openmpt.sh build-web-deps || return 1
  emcmake cmake -S . -B build-web -G Ninja -DVORTA_WERROR=ON -DCMAKE_BUILD_TYPE=Release \
    -DVORTA_WEB_DEPS="$PWD/build-web-deps" -DVORTA_NATIVE_GEN="$PWD/build/assets/gen" \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$(command -v node)" >/dev/null || return 1
  cmake --build build-web -j"$(nproc)" "$@"
}

# The web stage of the tests: the portable suites under Node (the show's frames against the
# recorded ones among them), then the page in headless Chromium, which may take 11 minutes at most.
web_tests() {
  local failed=0
  if ! web_build; then
    summary+=("web: the page or its test programs did not build (see above)")
    return 1
  fi
  run_ctest web build-web -L web || failed=1
  if timeout --kill-after=30 660 node web/browser_test.mjs build-web/page build-web/browser \
    build-web/driver; then
    passed=$((passed + 1))
    summary+=("browser: the page in headless Chromium passed")
  else
    failed_count=$((failed_count + 1))
    summary+=("browser: the page in headless Chromium FAILED (its lines above say why)")
    failed=1
  fi
  return $failed
}

case "${1:-}" in
  web)
    web_build --target page
    ls -l build-web/page
    ;;
  test-web)
    failed=0
    web_tests || failed=1
    printf '%s\n' "${summary[@]}"
    exit $failed
    ;;
  play)
    setup
    configure_build build -DCMAKE_BUILD_TYPE=Release
    exec build/driver/vorta
    ;;
  build)
    setup
    configure_build build -DCMAKE_BUILD_TYPE=Release
    ;;
  windows)
    windows
    ;;
  package)
    setup
    configure_build build -DCMAKE_BUILD_TYPE=Release
    (cd build && cpack -G DEB)
    ;;
  test)
    setup "${test_packages[@]}" "${windows_packages[@]}" "${wine_packages[@]}" "${web_packages[@]}"
    failed=0
    format_check || failed=1
    configure_build build -DCMAKE_BUILD_TYPE=Release
    run_ctest release build || failed=1
    configure_build build-asan -DCMAKE_BUILD_TYPE=Debug -DVORTA_SANITIZE=address,undefined
    # Leak detection is on (LeakSanitizer's default). The tests that start the program under a
    # display turn it off for that child alone: SDL's D-Bus and GL drivers keep memory to exit.
    ASAN_OPTIONS=detect_leaks=1 run_ctest asan+ubsan build-asan || failed=1
    configure_build build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORTA_SANITIZE=thread
    run_ctest tsan build-tsan -L 'sound|driver' || failed=1
    started=$SECONDS
    windows "${wine_packages[@]}"
    windows_tests || failed=1
    summary+=("windows stage: $((SECONDS - started)) s")
    started=$SECONDS
    web_tests || failed=1
    summary+=("web stage: $((SECONDS - started)) s")
    printf '%s\n' "${summary[@]}"
    echo "$passed passed, $failed_count failed"
    exit $failed
    ;;
  *)
    echo "usage: ./make.sh play | test | build | windows | package | web | test-web" >&2
    exit 2
    ;;
esac
