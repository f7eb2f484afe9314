#!/usr/bin/env bash
# Starts the real desktop program under a virtual X display, as a user would, and captures the
# screen: once in main mode on a fixture image (the image must be selected in the drive tree),
# once with the default settings (the mode a first start opens). Screenshots go to OUTDIR.
#   scripts/real_start.sh BUILD_DIR FIXTURE_IMAGE OUTDIR
set -euo pipefail
build=$1 image=$2 out=$3
mkdir -p "$out"
program=$build/src/ui/vellumark
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT

# One start: runs the program with ARGS in a fresh settings folder, waits for its window, captures
# the screen into NAME.png, and ends the program.
start() {
  local name=$1
  shift
  local config=$home/$name
  mkdir -p "$config"
  VELLUMARK_CONFIG_DIR=$config XDG_DATA_HOME=$config/data TMPDIR=$config \
    xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
      "$0" "$@" & pid=$!
      for i in $(seq 1 100); do
        if xdotool search --name "^Vellumark$" >/dev/null 2>&1; then break; fi
        if ! kill -0 $pid 2>/dev/null; then echo "vellumark ended before showing a window"; exit 1; fi
        sleep 0.2
      done
      xdotool search --name "^Vellumark$" >/dev/null || { echo "no window titled Vellumark"; kill $pid; exit 1; }
      sleep 2
      import -window root "'"$out/$name.png"'"
      kill $pid; wait $pid 2>/dev/null || true' "$program" "$@"
  [ -s "$out/$name.png" ] || { echo "real start $name: no screenshot"; return 1; }
  echo "real start $name: window shown, $out/$name.png"
}

start real-main --mode main "$image"
start real-default
