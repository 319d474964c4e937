#!/usr/bin/env bash
# Measures the picture's lag behind the sound of a vorta build, end to end: a private Xvfb at
# 1280 × 1024 with a window manager, the program on SDL's disk audio driver, the screen grabbed
# by vorta-avsync. Prints the lag distribution and the flash onsets.
#
#   tools/avsync/run.sh BUILD_DIR [PROGRAM] [vorta-avsync options, e.g. --from 20 --to 50]
#
# PROGRAM defaults to BUILD_DIR/driver/vorta; any other vorta build can be measured with the
# same meter. Needs Xvfb and matchbox-window-manager.
set -euo pipefail
build=${1:?usage: run.sh BUILD_DIR [PROGRAM] [options]}
shift
program=$build/driver/vorta
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then program=$1; shift; fi
meter=$build/tools/avsync/vorta-avsync
size=${AVSYNC_SCREEN:-1280x1024}

xvfb_pid="" wm_pid=""
# Each step may fail (a process already gone, the status of a killed one) without stopping the
# rest: a leftover server would outlive the measurement.
cleanup() {
  set +e
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
  return 0
}
trap cleanup EXIT

# A display number nobody uses: Xvfb picks one and writes it to the descriptor we give it.
exec {fd}<> <(:)
Xvfb -displayfd "$fd" -screen 0 "${size}x24" -nolisten tcp -ac >/dev/null 2>&1 &
xvfb_pid=$!
read -r -t 10 -u "$fd" display_number
export DISPLAY=":$display_number"
matchbox-window-manager -use_titlebar no >/dev/null 2>&1 &
wm_pid=$!
sleep 0.5
"$meter" "$@" "$program"
