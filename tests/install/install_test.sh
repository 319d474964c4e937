#!/usr/bin/env bash
# Installation checks, one per mode; CTest runs each mode as its own test.
#
#   install_test.sh tree BUILD APP_ID VERSION      cmake --install into a DESTDIR: the exact file
#                                                  list, valid desktop entry, metainfo, manual
#                                                  pages and icons, a working vorta-capture
#   install_test.sh package BUILD APP_ID VERSION DIR   the .deb made by CPack into DIR: control
#                                                  fields, contents, ownership, lintian
#   install_test.sh deb DIR VERSION                installs DIR's .deb on this machine, runs the
#                                                  show from PATH under Xvfb, ends it with Escape
#                                                  and removes the package again (root only)
#
# Exit status: 0 passed, 1 failed, 77 skipped (with the reason on stdout).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
cleanup=("rm -rf '$scratch'")
trap 'for ((i = ${#cleanup[@]} - 1; i >= 0; i--)); do eval "${cleanup[i]}" || true; done' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
skip() {
  echo "SKIP: $*"
  exit 77
}
need() {
  for tool; do command -v "$tool" >/dev/null || skip "$tool is not installed"; done
}

# expected_files APP_ID: the installed files, relative to the prefix, sorted.
expected_files() {
  grep -v '^#' "$here/expected_files.txt" | sed "s/@APP_ID@/$1/" | LC_ALL=C sort
}

# check_data ROOT APP_ID: the desktop entry, metainfo, manual pages and icons under ROOT/usr.
check_data() {
  local usr=$1/usr id=$2
  desktop-file-validate "$usr/share/applications/$id.desktop" || fail "desktop entry invalid"
  grep -qx 'Exec=vorta' "$usr/share/applications/$id.desktop" || fail "desktop entry: Exec"
  grep -qx 'Terminal=false' "$usr/share/applications/$id.desktop" || fail "desktop entry: Terminal"
  appstreamcli validate --no-net --pedantic "$usr/share/metainfo/$id.metainfo.xml" ||
    fail "metainfo invalid"
  local page warnings
  for page in man6/vorta.6.gz man1/vorta-capture.1.gz; do
    # Warnings of groff and man go to stderr; the rendered page must also have its sections.
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -l "$usr/share/man/$page" 2>&1 >"$scratch/page.txt") ||
      fail "$page does not render"
    [ -z "$warnings" ] || fail "$page renders with warnings: $warnings"
    for section in NAME SYNOPSIS DESCRIPTION 'EXIT STATUS' 'SEE ALSO'; do
      grep -qx "$section" "$scratch/page.txt" || fail "$page has no $section section"
    done
  done
  grep -q -- '--version' <(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$usr/share/man/man1/vorta-capture.1.gz" 2>/dev/null) ||
    fail "vorta-capture(1) does not describe --version"
  # Each icon has the size its folder names and an alpha channel.
  local icon dir got
  for icon in "$usr"/share/icons/hicolor/*/apps/vorta.png; do
    dir=$(basename "$(dirname "$(dirname "$icon")")")
    got=$(identify -format '%wx%h %[channels]' "$icon")
    [ "$got" = "$dir srgba" ] || fail "$icon is '$got', not '$dir srgba'"
  done
}

mode=${1:-}
case "$mode" in
  tree)
    build=$2 id=$3 version=$4
    need desktop-file-validate appstreamcli man identify
    DESTDIR="$scratch/root" cmake --install "$build" --prefix /usr >/dev/null
    diff -u <(expected_files "$id") <(cd "$scratch/root/usr" && find . -type f -printf '%P\n' | LC_ALL=C sort) ||
      fail "the installed files differ from the list (- expected, + installed)"
    [ -z "$(cd "$scratch/root" && find . -mindepth 1 -maxdepth 1 ! -name usr)" ] ||
      fail "files installed outside the prefix"
    check_data "$scratch/root" "$id"
    got=$("$scratch/root/usr/bin/vorta-capture" --version)
    [ "$got" = "vorta-capture $version" ] || fail "vorta-capture --version printed '$got'"
    ;;

  package)
    build=$2 id=$3 version=$4 out=$5
    need cpack dpkg-deb dpkg-shlibdeps lintian
    rm -rf "$out"
    mkdir -p "$out"
    # A private folder for CPack's work, so that the build tree keeps no half-made package.
    cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/cpack" >"$scratch/cpack.log" 2>&1 ||
      { cat "$scratch/cpack.log"; fail "cpack failed"; }
    deb="$scratch/cpack/vorta_${version}_amd64.deb"
    [ -f "$deb" ] || fail "no $deb; cpack made: $(ls "$scratch/cpack")"

    dpkg-deb --field "$deb" >"$scratch/control"
    field() { sed -n "s/^$1: //p" "$scratch/control"; }
    [ "$(field Package)" = vorta ] || fail "Package: $(field Package)"
    [ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
    [ "$(field Architecture)" = amd64 ] || fail "Architecture: $(field Architecture)"
    [ "$(field Recommends)" = ffmpeg ] || fail "Recommends: $(field Recommends)"
    [ -n "$(field Maintainer)" ] || fail "no Maintainer"
    [ -n "$(field Section)" ] || fail "no Section"
    # Dependencies come from the binaries: the libraries vorta links must all be there.
    for lib in libc6 libsdl2-2.0-0 libopenmpt0 libpng16-16 libstdc++6; do
      field Depends | tr ',' '\n' | grep -q "^ *$lib " || fail "Depends lacks $lib: $(field Depends)"
    done
    dpkg-deb --contents "$deb" >"$scratch/contents"
    awk '$2 != "root/root" { bad = 1; print "not root:", $0 } END { exit bad }' "$scratch/contents" ||
      fail "files not owned by root"
    awk '$6 !~ /^\.\/usr\// { bad = 1; print "outside /usr:", $0 } END { exit bad }' "$scratch/contents" ||
      fail "files outside /usr"
    diff -u <(expected_files "$id") <(awk '$1 !~ /^d/ { sub(/^\.\/usr\//, "", $6); print $6 }' "$scratch/contents" | LC_ALL=C sort) ||
      fail "the package's files differ from the list (- expected, + packaged)"
    # Installed binaries carry no debugging sections.
    dpkg-deb -x "$deb" "$scratch/x"
    for exe in vorta vorta-capture; do
      readelf -S "$scratch/x/usr/bin/$exe" >"$scratch/sections"
      if grep -q '\.debug_' "$scratch/sections"; then fail "$exe is not stripped"; fi
    done
    check_data "$scratch/x" "$id"

    # No errors and no warnings; informational tags are allowed.
    lintian --no-tag-display-limit "$deb" 2>/dev/null >"$scratch/lintian" || true
    if grep -E '^[EW]: ' "$scratch/lintian"; then fail "lintian reports the lines above"; fi
    cp "$deb" "$out/"
    ;;

  deb)
    out=$2 version=$3
    deb=$(realpath "$out"/vorta_"$version"_*.deb) || fail "no package in $out"
    [ "$(id -u)" -eq 0 ] || skip "installing a package needs root (the CI machine runs as root)"
    need apt-get Xvfb matchbox-window-manager xdotool
    if dpkg-query -W -f='${Status}' vorta 2>/dev/null | grep -q 'install ok installed'; then
      skip "a vorta package is already installed here; it is left alone"
    fi
    ! command -v vorta >/dev/null || skip "a vorta is already on the PATH: $(command -v vorta)"
    apt=(apt-get -qq -y -o DPkg::Lock::Timeout=120 --no-install-recommends)
    cleanup+=("! dpkg-query -W vorta >/dev/null 2>&1 || DEBIAN_FRONTEND=noninteractive ${apt[*]} purge vorta >/dev/null")
    DEBIAN_FRONTEND=noninteractive "${apt[@]}" install "$deb" >"$scratch/apt.log" 2>&1 ||
      { cat "$scratch/apt.log"; fail "the package does not install"; }

    [ "$(command -v vorta)" = /usr/bin/vorta ] || fail "vorta is not on the PATH"
    got=$(vorta-capture --version)
    [ "$got" = "vorta-capture $version" ] || fail "vorta-capture --version printed '$got'"
    man -w vorta >/dev/null 2>&1 || fail "man does not find vorta(6)"

    # The show on its own X server, ended by Escape.
    # Xvfb picks a free display and writes its number, then a newline, once it listens.
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$scratch/display" 2>/dev/null &
    cleanup+=("kill $!")
    for ((i = 0; i < 100; i++)); do
      [ "$(wc -l <"$scratch/display")" -ge 1 ] && break
      sleep 0.1
    done
    number=$(head -n 1 "$scratch/display")
    [ -n "$number" ] || fail "no X server could be started"
    export DISPLAY=":$number"
    matchbox-window-manager -use_titlebar no >/dev/null 2>&1 &
    cleanup+=("kill $!")
    sleep 0.3
    SDL_AUDIODRIVER=dummy vorta 2>"$scratch/vorta.err" &
    vorta=$!
    cleanup+=("kill -9 $vorta 2>/dev/null")
    for ((i = 0; i < 100; i++)); do
      xdotool search --name '^vorta$' >/dev/null 2>&1 && break
      kill -0 "$vorta" 2>/dev/null || fail "vorta ended before its window: $(cat "$scratch/vorta.err")"
      sleep 0.1
    done
    [ "$i" -lt 100 ] || fail "no vorta window within 10 s"
    # Escape again each second: on a busy machine the window may take a while to get the focus.
    # The program tests time the way out; this one only asks that Escape ends the show.
    sleep 1
    for ((i = 0; i < 100; i++)); do
      ((i % 10)) || xdotool key Escape
      sleep 0.1
      kill -0 "$vorta" 2>/dev/null || break
    done
    ! kill -0 "$vorta" 2>/dev/null ||
      fail "vorta still runs 10 s after Escape (focus: $(xdotool getwindowfocus getwindowname 2>&1))"
    status=0
    wait "$vorta" || status=$?
    [ "$status" -eq 0 ] || fail "vorta ended with status $status: $(cat "$scratch/vorta.err")"

    DEBIAN_FRONTEND=noninteractive "${apt[@]}" purge vorta >"$scratch/apt.log" 2>&1 ||
      { cat "$scratch/apt.log"; fail "the package does not remove"; }
    if [ -e /usr/bin/vorta ] || [ -e /usr/share/man/man6/vorta.6.gz ]; then
      fail "files are left after purge"
    fi
    ;;

  *)
    echo "usage: install_test.sh tree|package|deb ..." >&2
    exit 2
    ;;
esac
echo "PASS: $mode"
