#!/usr/bin/env bash
# Makes docs/screenshot-demo-run.png: runs the demo under a virtual X server, presses "СТАРТ",
# waits until the run has saved its log and captures the screen. Nothing is opened for the
# finished workbook.
#
#   scripts/screenshot.sh [BUILD_FOLDER]
# Without a folder it sets up and builds build/ first; with one it uses the programs built there.
# Installs Xvfb, xdotool and ImageMagick when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

tools=(xvfb xdotool imagemagick)
if [ $# -eq 0 ]; then
  scripts/setup.sh "${tools[@]}"
  build="$PWD/build"
else
  build="$(realpath "$1")"
  install_packages "${tools[@]}"
fi

work="$build/screenshot"
rm -rf "$work"
mkdir -p "$work/bin"
demo="$(scripts/make-demo-folder.sh "$work/demo" "$build/bin/mirava")"
# The program asks the desktop to open the workbook; on the virtual screen nobody answers.
printf '#!/bin/sh\nexit 0\n' >"$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"

pids=()
cleanup() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
}
trap cleanup EXIT

"$build/bin/mirava_demo_site" --port 0 --port-file "$work/port" --lists-folder "$demo" --no-rate-limit \
  --idle-exit-seconds 600 >"$work/site.log" 2>&1 &
pids+=($!)

# The screen is the window's designed size; without a window manager the window sits at 0,0.
Xvfb -displayfd 3 -screen 0 1290x747x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do
  [ -s "$work/port" ] && [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/port" ] || { echo "$0: the demo site did not start" >&2; exit 1; }
[ -s "$work/display" ] || { echo "$0: Xvfb did not start" >&2; exit 1; }
DISPLAY=":$(cat "$work/display")"
export DISPLAY

PATH="$work/bin:$PATH" LANG=ru_RU.UTF-8 "$demo/mirava" >"$work/program.log" 2>&1 &
pids+=($!)
window=""
for _ in $(seq 100); do
  window="$(xdotool search --onlyvisible --classname '^mirava$' 2>/dev/null | head -1 || true)"
  [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || { echo "$0: the window did not appear" >&2; exit 1; }
sleep 1

# The middle of "СТАРТ" (left 8, top 681, 253 x 43).
xdotool mousemove 134 702 click 1
for _ in $(seq 1800); do
  compgen -G "$demo/log*.txt" >/dev/null && break
  sleep 0.2
done
compgen -G "$demo/log*.txt" >/dev/null || { echo "$0: the run did not finish" >&2; exit 1; }
sleep 1
xdotool mousemove 1289 746

mkdir -p docs
# A palette keeps the picture small; the window has few colours besides the text.
import -display "$DISPLAY" -window root png:- | convert - -colors 96 png8:docs/screenshot-demo-run.png
echo "docs/screenshot-demo-run.png: $(stat -c %s docs/screenshot-demo-run.png) bytes"
