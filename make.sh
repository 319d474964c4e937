#!/usr/bin/env bash
# Sets up a Debian 12 machine for vorta, builds it, and plays the demo or runs the test suite.
#
#   ./make.sh play    install what is missing, build, play the demo
#   ./make.sh test    install what is missing, build, run every test: release, ASan+UBSan, TSan
#   ./make.sh build   install what is missing, build the release configuration only
#   ./make.sh package install what is missing, build, make build/vorta_<version>_amd64.deb
#   ./make.sh web     also install emscripten and chromium, build the page in build-web/page/
#   ./make.sh test-web  build the page, run the portable suites under Node and the page in
#                       headless Chromium
set -euo pipefail
cd "$(dirname "$0")"

packages=(
  build-essential cmake ninja-build pkg-config git
  libsdl2-dev libopenmpt-dev libfreetype-dev fonts-dejavu-core fonts-dejavu-extra libpng-dev zlib1g-dev
  googletest libgtest-dev libbenchmark-dev
  xvfb x11-utils matchbox-window-manager xdotool imagemagick ffmpeg libx11-dev libxext-dev
  dpkg-dev lintian desktop-file-utils appstream man-db groff-base
)

# Only the web build needs these; libopenmpt's sources come from Debian (apt-get source).
web_packages=(emscripten chromium dpkg-dev nodejs)

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

# configure_build DIR [CMAKE ARGS...]
configure_build() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DVORTA_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j"$(nproc)"
}

summary=()
# run_ctest NAME DIR [CTEST ARGS...]: runs one suite and remembers its counts.
run_ctest() {
  local name=$1 dir=$2; shift 2
  local log="$dir/ctest.log" rc=0
  (cd "$dir" && ctest --output-on-failure -j2 "$@") 2>&1 | tee "$log" || rc=1
  summary+=("$name: $(grep -Eo '[0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)")
  return $rc
}

# web_build [TARGETS...]: the block from a native build, libopenmpt for wasm (once), then the page.
web_build() {
  setup "${web_packages[@]}"
  cmake -S . -B build -G Ninja -DVORTA_WERROR=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build -j"$(nproc)" --target vorta_assets vorta_assets_bad_module
  # Debian's emscripten with Node 20: its tools find acorn only through NODE_PATH, and the
  # generated loader must not see Node's fetch.
  export NODE_PATH=/usr/share/nodejs NODE_OPTIONS=--no-experimental-fetch
  web/build_openmpt.sh build-web-deps
  emcmake cmake -S . -B build-web -G Ninja -DVORTA_WERROR=ON -DCMAKE_BUILD_TYPE=Release \
    -DVORTA_WEB_DEPS="$PWD/build-web-deps" -DVORTA_NATIVE_GEN="$PWD/build/assets/gen" \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$(command -v node)" >/dev/null
  cmake --build build-web -j"$(nproc)" "$@"
}

case "${1:-}" in
  web)
    web_build --target page
    ls -l build-web/page
    ;;
  test-web)
    web_build
    failed=0
    run_ctest web build-web -L web || failed=1
    node --experimental-websocket web/browser_test.mjs build-web/page build-web/browser || failed=1
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
  package)
    setup
    configure_build build -DCMAKE_BUILD_TYPE=Release
    (cd build && cpack -G DEB)
    ;;
  test)
    setup
    failed=0
    configure_build build -DCMAKE_BUILD_TYPE=Release
    run_ctest release build || failed=1
    configure_build build-asan -DCMAKE_BUILD_TYPE=Debug -DVORTA_SANITIZE=address,undefined
    ASAN_OPTIONS=detect_leaks=0 run_ctest asan+ubsan build-asan || failed=1
    configure_build build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORTA_SANITIZE=thread
    run_ctest tsan build-tsan -L 'sound|driver' || failed=1
    printf '%s\n' "${summary[@]}"
    passed=0 failed_count=0
    for line in "${summary[@]}"; do
      read -r f _ _ _ _ total <<<"$(echo "${line#*: }")"
      [ -n "${total:-}" ] || { failed=1; continue; }
      passed=$((passed + total - f)); failed_count=$((failed_count + f))
    done
    echo "$passed passed, $failed_count failed"
    exit $failed
    ;;
  *)
    echo "usage: ./make.sh play | test | build | package | web | test-web" >&2
    exit 2
    ;;
esac
